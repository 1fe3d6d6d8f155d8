#include "framework/cwnd.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "framework/gbk.h"

void CWnd::Attach(QWidget* widget) {
    m_hWnd = widget;
    if (widget) {
        PreSubclassWindow();
    }
}

QWidget* CWnd::Detach() {
    QWidget* w = m_hWnd.data();
    m_hWnd = nullptr;
    return w;
}

int CWnd::GetDlgCtrlID() const {
    return m_hWnd ? m_hWnd->property(kCtlIdProperty).toInt() : 0;
}

void CWnd::EnableWindow(bool enable) {
    if (m_hWnd) {
        m_hWnd->setEnabled(enable);
    }
}

bool CWnd::IsWindowEnabled() const {
    return m_hWnd && m_hWnd->isEnabled();
}

void CWnd::ShowWindow(bool show) {
    if (m_hWnd) {
        m_hWnd->setVisible(show);
    }
}

void CWnd::SetWindowText(std::string_view gbk) {
    if (!m_hWnd) {
        return;
    }
    const QString text = FromGbk(gbk);
    if (auto* label = qobject_cast<QLabel*>(m_hWnd)) {
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
    } else if (auto* line = qobject_cast<QLineEdit*>(m_hWnd)) {
        line->setText(text);
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(m_hWnd)) {
        plain->setPlainText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(m_hWnd)) {
        button->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(m_hWnd)) {
        group->setTitle(text);
    } else {
        m_hWnd->setWindowTitle(text);
    }
}

std::string CWnd::GetWindowText() const {
    if (!m_hWnd) {
        return {};
    }
    if (auto* label = qobject_cast<QLabel*>(m_hWnd)) {
        return ToGbk(label->text());
    }
    if (auto* line = qobject_cast<QLineEdit*>(m_hWnd)) {
        return ToGbk(line->text());
    }
    if (auto* plain = qobject_cast<QPlainTextEdit*>(m_hWnd)) {
        return ToGbk(plain->toPlainText());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(m_hWnd)) {
        return ToGbk(button->text());
    }
    if (auto* group = qobject_cast<QGroupBox*>(m_hWnd)) {
        return ToGbk(group->title());
    }
    return ToGbk(m_hWnd->windowTitle());
}

QRect CWnd::GetWindowRect() const {
    if (!m_hWnd) {
        return {};
    }
    const QRect frame = m_hWnd->frameGeometry();
    const QPoint topLeft =
        m_hWnd->isWindow() ? frame.topLeft() : m_hWnd->parentWidget()->mapToGlobal(frame.topLeft());
    return QRect(topLeft, frame.size());
}

void CWnd::SetFocus() {
    if (m_hWnd) {
        m_hWnd->setFocus(Qt::OtherFocusReason);
    }
}
