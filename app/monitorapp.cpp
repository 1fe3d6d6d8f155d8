#include "app/monitorapp.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QSettings>
#include <QSocketNotifier>
#include <array>
#include <cstdio>
#include <memory>

#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "res/resource.h"
#include "res/strings.h"
#include "ui/alerts/alertsettings.h"

namespace {

// The end of the session (SIGTERM at logout or shutdown), a closed terminal
// (SIGHUP) or Ctrl+C: a byte down this pipe, read by the interface thread.
int g_endPipe[2] = {-1, -1};
constexpr std::array<int, 3> kEndSignals{SIGTERM, SIGHUP, SIGINT};

void AskToEnd(int) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = write(g_endPipe[1], &byte, 1);
}

// While it lives, those signals end the main window as 退出 does, so that
// what the usage history holds of the last minute is written, not lost.
class EndOnSignals {
  public:
    explicit EndOnSignals(CMonitorDlg& dlg) {
        if (g_endPipe[0] < 0 && pipe2(g_endPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        notifier_ = std::make_unique<QSocketNotifier>(g_endPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [&dlg] {
            char bytes[16];
            while (read(g_endPipe[0], bytes, sizeof bytes) > 0) {
            }
            dlg.OnExit();
        });
        struct sigaction sa {};
        sa.sa_handler = AskToEnd;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (size_t i = 0; i < kEndSignals.size(); ++i)
            sigaction(kEndSignals[i], &sa, &before_[i]);
    }
    ~EndOnSignals() {
        if (!notifier_)
            return;
        for (size_t i = 0; i < kEndSignals.size(); ++i)
            sigaction(kEndSignals[i], &before_[i], nullptr);
    }
    EndOnSignals(const EndOnSignals&) = delete;
    EndOnSignals& operator=(const EndOnSignals&) = delete;

  private:
    std::unique_ptr<QSocketNotifier> notifier_;
    std::array<struct sigaction, kEndSignals.size()> before_{};
};

}  // namespace

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
    const EndOnSignals endOnSignals(dlg);
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}
