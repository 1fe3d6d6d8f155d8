#include "framework/templateedits.h"

#include <QKeyEvent>
#include <QLocale>
#include <QValidator>

namespace {

bool OnlyDigits(const QString& text) {
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    return true;
}

// An edit with the number style takes typed digits only. Its text may also hold
// the grouping that an up-down control writes into it ("1,000"), and the validator
// must accept that text: Qt undoes an invalid edit only when the text before it
// was valid, so a validator that refused the grouping would refuse nothing after it.
class NumberValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        QString digits = input;
        const QString separator = QLocale::system().groupSeparator();  // the up-down's too
        if (!separator.isEmpty()) {
            digits.remove(separator);
        }
        return OnlyDigits(digits) ? Acceptable : Invalid;
    }
};

}  // namespace

namespace detail {

TemplateTextEdit::TemplateTextEdit(QWidget* parent, bool wantReturn)
    : QPlainTextEdit(parent), wantReturn_(wantReturn) {}

void TemplateTextEdit::keyPressEvent(QKeyEvent* e) {
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (!enter || wantReturn_) {
        QPlainTextEdit::keyPressEvent(e);
        return;
    }
    if (!(e->modifiers() & Qt::ControlModifier)) {
        e->ignore();
        return;
    }
    if (!isReadOnly()) {
        insertPlainText(QStringLiteral("\n"));
    }
    e->accept();
}

TemplateNumberEdit::TemplateNumberEdit(QWidget* parent) : QLineEdit(parent) {
    setValidator(new NumberValidator(this));
}

void TemplateNumberEdit::keyPressEvent(QKeyEvent* e) {
    const QString text = e->text();
    const bool typed = !text.isEmpty() && text.at(0).isPrint() &&
                       !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (typed && !OnlyDigits(text)) {
        e->accept();  // refused, separators included
        return;
    }
    QLineEdit::keyPressEvent(e);
}

}  // namespace detail
