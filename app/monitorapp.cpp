#include "app/monitorapp.h"

#include <QSettings>

#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "res/resource.h"
#include "res/strings.h"
#include "ui/alerts/alertsettings.h"

bool CMonitorApp::InitInstance() {
    SocketLibrary& lib = SocketLibrary::Instance();
    uint16_t agreed = 0;
    if (lib.startup(0x0202, &agreed) != 0) {
        AfxMessageBox(LoadStringGbk(IDP_SOCKETS_INIT_FAILED));
        return false;
    }
    const unsigned major = agreed & 0xFF, minor = agreed >> 8;
    if (major != 2 || minor != major) {
        lib.cleanup();
        AfxMessageBox(LoadStringGbk(IDP_SOCKETS_INIT_FAILED));
        return false;
    }
    CMonitorDlg dlg;
    QSettings settings(QStringLiteral("quorvelan"), QStringLiteral("quorvelan"));
    dlg.Alerts().SetSettings(ReadAlertSettings(settings));
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}
