#include "framework/spinbutton.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QToolButton>
#include <QVBoxLayout>
#include <limits>

#include "framework/dlgtemplate.h"

UpDownArrowsWidget::UpDownArrowsWidget(QWidget* parent, uint32_t style)
    : QWidget(parent), m_style(style) {
    setFocusPolicy(Qt::NoFocus);  // never a tab stop; the buddy keeps the focus
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_up = new QToolButton(this);
    m_down = new QToolButton(this);
    for (QToolButton* button : {m_up, m_down}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        layout->addWidget(button, 1);
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    connect(m_up, &QToolButton::clicked, this, [this] { step(+1); });
    connect(m_down, &QToolButton::clicked, this, [this] { step(-1); });
    // Template creation makes the controls in order, so the buddy exists already.
    findAutoBuddy();
}

void UpDownArrowsWidget::findAutoBuddy() {
    if (m_buddySearched || !(m_style & ctlstyle::UdsAutoBuddy) || !parentWidget() || m_buddy) {
        return;
    }
    m_buddySearched = true;
    QWidget* previous = nullptr;
    for (QObject* child : parentWidget()->children()) {
        if (child == this) {
            break;
        }
        if (child->isWidgetType() && !static_cast<QWidget*>(child)->isWindow()) {
            previous = static_cast<QWidget*>(child);
        }
    }
    if (previous) {
        setBuddy(previous);
    }
}

QWidget* UpDownArrowsWidget::buddy() {
    findAutoBuddy();
    return m_buddy.data();
}

QWidget* UpDownArrowsWidget::setBuddy(QWidget* buddy) {
    QWidget* old = m_buddy.data();
    if (old) {
        old->removeEventFilter(this);
    }
    m_buddy = buddy;
    m_buddySearched = true;
    m_aligned = false;
    if (buddy) {
        buddy->installEventFilter(this);
        if (isVisible()) {
            alignToBuddy();
        }
    }
    return old;
}

void UpDownArrowsWidget::showEvent(QShowEvent* event) {
    findAutoBuddy();
    alignToBuddy();
    QWidget::showEvent(event);
}

void UpDownArrowsWidget::alignToBuddy() {
    // Placed once: the arrows take the right end of the buddy, which gives up that width.
    if (m_aligned || !m_buddy || !(m_style & ctlstyle::UdsAlignRight) ||
        m_buddy->parentWidget() != parentWidget()) {
        return;
    }
    m_aligned = true;
    const QRect b = m_buddy->geometry();
    const int w = std::min(width(), b.width());
    m_buddy->setGeometry(b.x(), b.y(), b.width() - w, b.height());
    setGeometry(b.right() + 1 - w, b.y(), w, b.height());
}

void UpDownArrowsWidget::setRange(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
    m_pos = std::clamp(m_pos, low(), high());
}

QString UpDownArrowsWidget::formatValue(int value) const {
    // ASCII digits as Windows writes them; only the separator comes from the locale.
    QString digits = QString::number(std::abs(static_cast<long long>(value)));
    if (!(m_style & ctlstyle::UdsNoThousands) &&
        !(m_locale.numberOptions() & QLocale::OmitGroupSeparator)) {
        const QString sep = m_locale.groupSeparator();
        for (qsizetype at = digits.size() - 3; at > 0; at -= 3) {
            digits.insert(at, sep);
        }
    }
    return value < 0 ? QStringLiteral("-") + digits : digits;
}

std::optional<int> UpDownArrowsWidget::parseValue(const QString& text) const {
    QString t = text.trimmed();
    if (!(m_style & ctlstyle::UdsNoThousands)) {
        const QString sep = m_locale.groupSeparator();
        if (!sep.isEmpty()) {
            t.remove(sep);
        }
        if (sep.size() == 1 && sep.at(0).isSpace()) {
            t.remove(QLatin1Char(' '));
        }
    }
    static const QRegularExpression number(QStringLiteral("^[-+]?[0-9]+$"));
    if (!number.match(t).hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const qlonglong value = t.toLongLong(&ok);
    if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

QString UpDownArrowsWidget::buddyText() const {
    if (auto* line = qobject_cast<QLineEdit*>(m_buddy.data())) {
        return line->text();
    }
    if (auto* label = qobject_cast<QLabel*>(m_buddy.data())) {
        return label->text();
    }
    return {};
}

void UpDownArrowsWidget::writeBuddy() {
    if (!(m_style & ctlstyle::UdsSetBuddyInt) || !buddy()) {
        return;
    }
    const QString text = formatValue(m_pos);
    if (auto* line = qobject_cast<QLineEdit*>(m_buddy.data())) {
        line->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(m_buddy.data())) {
        label->setText(text);
    }
}

int UpDownArrowsWidget::setPos(int pos) {
    const int old = m_pos;
    m_pos = std::clamp(pos, low(), high());
    writeBuddy();
    return old;
}

int UpDownArrowsWidget::pos(bool* error) {
    bool bad = false;
    if ((m_style & ctlstyle::UdsSetBuddyInt) && buddy()) {
        const std::optional<int> value = parseValue(buddyText());
        if (value && *value >= low() && *value <= high()) {
            m_pos = *value;
        } else {
            bad = true;
        }
    }
    if (error) {
        *error = bad;
    }
    return m_pos;
}

void UpDownArrowsWidget::step(int direction) {
    pos();  // start from the buddy's number when it holds a valid one
    const int delta = (m_upper >= m_lower ? 1 : -1) * (direction > 0 ? 1 : -1);
    const long long next = static_cast<long long>(m_pos) + delta;
    int target = m_pos;
    if (next < low() || next > high()) {
        if (m_style & ctlstyle::UdsWrap) {
            target = next < low() ? high() : low();
        }
    } else {
        target = static_cast<int>(next);
    }
    m_pos = target;
    writeBuddy();
    emit posChanged(m_pos);
}

bool UpDownArrowsWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_buddy && event->type() == QEvent::KeyPress &&
        (m_style & ctlstyle::UdsArrowKeys) && isEnabled()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            step(key->key() == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CSpinButtonCtrl::SetRange(int lower, int upper) {
    if (UpDownArrowsWidget* w = widget()) {
        w->setRange(lower, upper);
    }
}

void CSpinButtonCtrl::GetRange(int& lower, int& upper) const {
    const UpDownArrowsWidget* w = widget();
    lower = w ? w->lower() : 0;
    upper = w ? w->upper() : 0;
}

int CSpinButtonCtrl::SetPos(int pos) {
    UpDownArrowsWidget* w = widget();
    return w ? w->setPos(pos) : 0;
}

int CSpinButtonCtrl::GetPos32(bool* error) const {
    UpDownArrowsWidget* w = widget();
    if (!w) {
        if (error) {
            *error = true;
        }
        return 0;
    }
    return w->pos(error);
}

int CSpinButtonCtrl::GetPos() const {
    bool error = false;
    const int pos = GetPos32(&error);
    return (error ? 0x10000 : 0) | (pos & 0xFFFF);
}

QWidget* CSpinButtonCtrl::SetBuddy(QWidget* buddy) {
    UpDownArrowsWidget* w = widget();
    return w ? w->setBuddy(buddy) : nullptr;
}

QWidget* CSpinButtonCtrl::GetBuddy() const {
    UpDownArrowsWidget* w = widget();
    return w ? w->buddy() : nullptr;
}

void CSpinButtonCtrl::SetLocale(const QLocale& locale) {
    if (UpDownArrowsWidget* w = widget()) {
        w->setLocale(locale);
    }
}
