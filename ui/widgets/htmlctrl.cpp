#include "ui/widgets/htmlctrl.h"

bool CHtmlCtrl::CreateFromPlaceholder(int id, CDialog* parent) {
    QWidget* placeholder = parent ? parent->GetDlgItem(id) : nullptr;
    if (placeholder == nullptr) {
        return false;
    }
    const QRect rect = placeholder->geometry();  // already in the parent's coordinates
    delete placeholder;
    m_parent = parent;
    return Create(rect, parent->window(), id);
}

void CHtmlCtrl::OnBeforeNavigate2(const QString& url, bool& cancel) {
    if (url.left(4).compare(QLatin1String("app:"), Qt::CaseInsensitive) == 0) {
        OnAppLink(url.mid(4));
        cancel = true;
    }
}

void CAboutHtmlCtrl::OnAppLink(const QString& command) {
    if (command.compare(QLatin1String("ok"), Qt::CaseInsensitive) == 0 && m_parent) {
        m_parent->OnOK();
    }
}
