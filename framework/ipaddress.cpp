#include "framework/ipaddress.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

Ip4FieldsWidget::Ip4FieldsWidget(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(0);
    auto* validator = new QRegularExpressionValidator(QRegularExpression("[0-9]{0,3}"), this);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setTextFormat(Qt::PlainText);
            layout->addWidget(dot);
        }
        auto* edit = new QLineEdit(this);
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setMaxLength(3);
        edit->setValidator(validator);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this, i] { onEdited(i); });
        layout->addWidget(edit, 1);
        m_fields[static_cast<size_t>(i)] = edit;
    }
    // One tab stop for the whole control: Tab enters at the first field, and the
    // fields are moved between with '.', the arrow keys or three typed digits.
    for (int i = 1; i < 4; ++i) {
        m_fields[static_cast<size_t>(i)]->setFocusPolicy(Qt::ClickFocus);
    }
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(m_fields[0]);
}

void Ip4FieldsWidget::setAddress(uint32_t address) {
    for (int i = 0; i < 4; ++i) {
        const uint32_t byte = (address >> (8 * (3 - i))) & 0xFFu;
        field(i)->setText(QString::number(byte));
        m_dirty[static_cast<size_t>(i)] = false;
    }
}

int Ip4FieldsWidget::fieldValue(int index) const {
    const QString text = field(index)->text();
    if (text.isEmpty()) {
        return -1;
    }
    return std::min(text.toInt(), 255);
}

int Ip4FieldsWidget::address(uint32_t& out) const {
    int filled = 0;
    out = 0;
    for (int i = 0; i < 4; ++i) {
        const int value = fieldValue(i);
        if (value >= 0) {
            ++filled;
            out |= static_cast<uint32_t>(value) << (8 * (3 - i));
        }
    }
    return filled;
}

void Ip4FieldsWidget::clear() {
    for (int i = 0; i < 4; ++i) {
        field(i)->clear();
        m_dirty[static_cast<size_t>(i)] = false;
    }
}

bool Ip4FieldsWidget::isBlank() const {
    for (QLineEdit* edit : m_fields) {
        if (!edit->text().isEmpty()) {
            return false;
        }
    }
    return true;
}

void Ip4FieldsWidget::onEdited(int index) {
    QLineEdit* edit = field(index);
    m_dirty[static_cast<size_t>(index)] = true;
    if (edit->text().toInt() > 255) {
        // The field keeps its focus so the operator sees the corrected value.
        edit->setText(QStringLiteral("255"));
        edit->selectAll();
        m_dirty[static_cast<size_t>(index)] = false;
        emit fieldChanged(index, 255);
        return;
    }
    if (edit->text().size() == 3 && edit->cursorPosition() == 3 && index < 3) {
        focusField(index + 1, true);
    }
}

void Ip4FieldsWidget::focusField(int index, bool selectAll) {
    QLineEdit* edit = field(index);
    edit->setFocus(Qt::TabFocusReason);
    if (selectAll) {
        edit->selectAll();
    }
}

void Ip4FieldsWidget::leaveField(int index) {
    QLineEdit* edit = field(index);
    // Leading zeros typed by the operator are dropped once the field is left.
    if (!edit->text().isEmpty()) {
        const QString normal = QString::number(fieldValue(index));
        if (normal != edit->text()) {
            edit->setText(normal);
        }
    }
    if (m_dirty[static_cast<size_t>(index)]) {
        m_dirty[static_cast<size_t>(index)] = false;
        emit fieldChanged(index, fieldValue(index));
    }
}

bool Ip4FieldsWidget::eventFilter(QObject* watched, QEvent* event) {
    int index = -1;
    for (int i = 0; i < 4; ++i) {
        if (watched == m_fields[static_cast<size_t>(i)]) {
            index = i;
        }
    }
    if (index < 0) {
        return QFrame::eventFilter(watched, event);
    }
    QLineEdit* edit = field(index);
    if (event->type() == QEvent::FocusOut) {
        leaveField(index);
    } else if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            // Tab and Shift+Tab leave the control from whichever field: the dialog moves
            // on from the field at that edge of it.
            const bool back =
                key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
            QLineEdit* edge = field(back ? 0 : 3);
            if (edge != edit) {
                edge->setFocus(Qt::OtherFocusReason);
            }
            return false;
        }
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (plain && (key->key() == Qt::Key_Period || key->key() == Qt::Key_Space)) {
            // Only after digits typed into this field: a dot right after three digits
            // moved on by themselves (which selects the next field's old value) or in
            // an empty field stays where it is.
            if (index < 3 && !edit->text().isEmpty() && !edit->hasSelectedText() &&
                edit->cursorPosition() > 0) {
                focusField(index + 1, true);
            }
            return true;
        }
        if (plain && key->key() == Qt::Key_Backspace && index > 0 && edit->cursorPosition() == 0 &&
            !edit->hasSelectedText()) {
            focusField(index - 1, false);
            field(index - 1)->end(false);
            return true;
        }
        if (plain && key->key() == Qt::Key_Left && index > 0 && edit->cursorPosition() == 0 &&
            !edit->hasSelectedText()) {
            focusField(index - 1, false);
            field(index - 1)->end(false);
            return true;
        }
        if (plain && key->key() == Qt::Key_Right && index < 3 &&
            edit->cursorPosition() == edit->text().size() && !edit->hasSelectedText()) {
            focusField(index + 1, false);
            field(index + 1)->home(false);
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void CIPAddressCtrl::PreSubclassWindow() {
    if (Ip4FieldsWidget* w = widget()) {
        connect(w, &Ip4FieldsWidget::fieldChanged, this, &CIPAddressCtrl::fieldChanged,
                Qt::UniqueConnection);
    }
}

void CIPAddressCtrl::SetAddress(uint32_t address) {
    if (Ip4FieldsWidget* w = widget()) {
        w->setAddress(address);
    }
}

void CIPAddressCtrl::SetAddress(uint8_t f0, uint8_t f1, uint8_t f2, uint8_t f3) {
    SetAddress((uint32_t{f0} << 24) | (uint32_t{f1} << 16) | (uint32_t{f2} << 8) | f3);
}

int CIPAddressCtrl::GetAddress(uint32_t& address) const {
    address = 0;
    const Ip4FieldsWidget* w = widget();
    return w ? w->address(address) : 0;
}

int CIPAddressCtrl::GetAddress(uint8_t& f0, uint8_t& f1, uint8_t& f2, uint8_t& f3) const {
    uint32_t address = 0;
    const int filled = GetAddress(address);
    f0 = static_cast<uint8_t>(address >> 24);
    f1 = static_cast<uint8_t>(address >> 16);
    f2 = static_cast<uint8_t>(address >> 8);
    f3 = static_cast<uint8_t>(address);
    return filled;
}

void CIPAddressCtrl::ClearAddress() {
    if (Ip4FieldsWidget* w = widget()) {
        w->clear();
    }
}

bool CIPAddressCtrl::IsBlank() const {
    const Ip4FieldsWidget* w = widget();
    return !w || w->isBlank();
}
