#include "ui/windows/aboutdlg.h"

#include <QLabel>

#include "res/dialogs.h"
#include "res/resource.h"

CAboutDlg::CAboutDlg(CWnd* parent) : CDialog(DialogTemplateById(IDD_ABOUTBOX), parent) {}

bool CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // The picture control takes the bitmap's own size.
    if (auto* picture = qobject_cast<QLabel*>(GetDlgItem(IDB_ABOUT))) {
        const QPixmap bitmap(QStringLiteral(":/quorvelan/about136.bmp"));
        picture->setPixmap(bitmap);
        picture->resize(bitmap.size());
    }
    m_page.CreateFromPlaceholder(IDC_ABOUT_PAGE, this);
    m_page.LoadFromResource(QStringLiteral(":/quorvelan/about.html"));
    return true;
}
