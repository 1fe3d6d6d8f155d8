#include "app/monitorapp.h"

#include <QCommandLineParser>
#include <QSettings>
#include <cstdio>

#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "res/resource.h"
#include "res/strings.h"
#include "ui/alerts/alertsettings.h"

CMonitorApp::CMonitorApp(int& argc, char** argv) : CWinApp(argc, argv) {
    for (int i = 0; i < argc; ++i)
        arguments_ << QString::fromLocal8Bit(argv[i]);
}

bool CMonitorApp::InitInstance() {
    // Without options the design's start-up: stopped, nothing selected.
    QCommandLineParser parser;
    const QCommandLineOption start(QStringLiteral("start"), LoadStringText(IDS_CMD_START),
                                   LoadStringText(IDS_CMD_ADDRESS));
    const QCommandLineOption minimized(QStringLiteral("minimized"),
                                       LoadStringText(IDS_CMD_MINIMIZED));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(start);
    parser.addOption(minimized);
    parser.addOption(help);
    if (!parser.parse(arguments_.isEmpty() ? QStringList{QStringLiteral("quorvelan")}
                                           : arguments_)) {
        std::fprintf(stderr, "quorvelan: %s\n", parser.errorText().toLocal8Bit().constData());
        return false;
    }
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return false;
    }
    StartupOptions startup;
    startup.startAddress = parser.value(start);
    startup.minimized = parser.isSet(minimized);

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
    dlg.SetStartup(startup);
    {
        // Let go before the window runs: 设置 rewrites the same file.
        QSettings settings(QStringLiteral("quorvelan"), QStringLiteral("quorvelan"));
        dlg.Alerts().SetSettings(ReadAlertSettings(settings));
    }
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}
