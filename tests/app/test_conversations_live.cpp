// Who is talking, in the real window on live traffic: two network namespaces
// of the test's own joined by a veth pair, the window capturing on the local
// end. A process named qvconvprobe talks TCP and UDP to a server in the peer
// namespace; the 连接 window and the event list's tooltips name it and its
// PID, count its datagrams (past an emptying of the list), say when its
// socket closed and when a datagram had no local socket, and export it.
// A program as the real one runs (only CAP_NET_RAW left) sees another user's
// process as that user's. The only resolver never answers: the window goes
// on (a name in the test's hosts file still shows).
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <utility>

#include "app/monitordlg.h"
#include "capture/privileges.h"
#include "res/resource.h"
#include "tests/app/conversations_window.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/user_input.h"
#include "tests/app/window_state.h"
#include "tests/support/live_test.h"
#include "tests/support/socket_roles.h"

namespace {

using namespace roles;

constexpr uint16_t kServerTcp = 7001;
constexpr uint16_t kServerUdp = 7002;
constexpr uint16_t kOtherUsersPort = 7300;
constexpr uint16_t kGainedPort = 7003;  // on an address gained while capturing
// Six hundred datagrams: the list of 500 rows is emptied on the way.
constexpr int kUdpExchanges = 300;
constexpr uint32_t kNobody = 65534;
const char* const kPeerName = "qvpeer.test";

using M = ConversationModel;

std::string g_peerNs;
std::string g_localAddress;
std::string g_peerAddress;
std::string g_localDevice;
std::string g_peerDevice;

// ---- roles of the test binary's children

// The test binary in a role, here or (`peer`) in the peer namespace.
Child Spawn(std::vector<std::string> args, bool peer = false) {
    return roles::Spawn(g_self, std::move(args), peer ? g_peerNs : std::string());
}

int SendFromPeer(const std::string& protocol, uint16_t port) {
    Child c = Spawn({"--send", protocol, g_localAddress, std::to_string(port)}, true);
    return c.End();
}

// The tooltip of the newest row of the event list with this port on either side, as shown.
QString RowTip(CMonitorDlg& dlg, uint16_t port) {
    const std::string text = std::to_string(port);
    for (int r = 0; r < dlg.m_list.GetItemCount(); ++r) {
        if (dlg.m_list.GetItemText(r, kColSrcPort) == text ||
            dlg.m_list.GetItemText(r, kColDstPort) == text) {
            ListRowStore& s = dlg.m_list.store();
            return TipAsShown(s.data(s.index(r, kColTime), Qt::ToolTipRole).toString()).text;
        }
    }
    return {};
}

// As the program runs: only CAP_NET_RAW left. Captures on the local address
// until a datagram to the other user's port has come and its owner is
// known, then says what the window shows for it.
int UnprivilegedWindow(int argc, char** argv) {
    DropPrivilegesAtStart();
    QApplication app(argc, argv);
    const std::string address = argv[2];
    const uint16_t port = static_cast<uint16_t>(std::atoi(argv[3]));
    CMonitorDlg dlg;
    int rc = 1;
    RunModalWith(dlg, [&] {
        CConversationsDlg* conv = WatchConversations(dlg, address);
        if (!conv) {
            Say("not capturing");
            return;
        }
        Say("capturing");
        ConversationModel& m = *conv->Model();
        const bool known = QTest::qWaitFor(
            [&] {
                conv->Refresh();
                const std::string program = Cell(m, "UDP", port, M::kProgram);
                return !program.empty() && program != "查找中…";
            },
            60000);
        Say(Cell(m, "UDP", port, M::kProgram));
        Say(Cell(m, "UDP", port, M::kUser));
        Say(RowTip(dlg, port).split('\n').value(2).toStdString());
        rc = known ? 0 : 1;
        input::Click(dlg.GetDlgItem(IDC_STOP));
    });
    return rc;
}

// Names are looked up in earnest here, with time for a real resolver.
ConversationTracker::Options LiveLookups() {
    ConversationTracker::Options options;
    options.names.deadline = std::chrono::milliseconds(1500);
    return options;
}

// The server in the peer namespace, once it listens (ended where it could not).
Child ServeInPeer() {
    Child server = Spawn({"--serve", g_peerAddress}, true);
    if (server.Line() != "ready")
        server.End();
    return server;
}

using ProbeBody = std::function<void(CMonitorDlg&, ConversationModel&, Child& probe,
                                     uint16_t tcpPort, uint16_t udpPort)>;

// The server in the peer namespace; the window, with names looked up in
// earnest, capturing on the local address with 连接 open (its export
// writes to `*exportPath`); then a probe in `role` (--probe, --brief)
// talking to the server, once it has said its ports.
void WithProbe(const char* role, const QString* exportPath, const ProbeBody& body) {
    Child server = ServeInPeer();
    QVERIFY(server.pid > 0);
    CMonitorDlg dlg(LiveLookups());
    dlg.Dialogs().exportConversations = [exportPath](QWidget*, const QString&) {
        return std::optional<QString>(*exportPath);
    };
    RunModalWith(dlg, [&] {
        CConversationsDlg* conv = WatchConversations(dlg, g_localAddress);
        QVERIFY(conv);
        Child probe = Spawn({role, g_peerAddress});
        const ProbePorts ports = ReadPorts(probe);
        QVERIFY(ports.tcp != 0 && ports.udp != 0);
        body(dlg, *conv->Model(), probe, ports.tcp, ports.udp);
    });
    server.Kill();
}

}  // namespace

class ConversationsLiveTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // The probe's TCP connection and UDP exchange: their lines and the rows'
    // tooltips name it and its PID; the counts are the datagrams sent; the
    // export has them; its closed connection, and datagrams no local socket
    // takes, say so.
    void theProgramBehindEachRow() {
        WithProbe(
            "--probe", &exportPath_,
            [&](CMonitorDlg& dlg, M& m, Child& probe, uint16_t tcpPort, uint16_t udpPort) {
                const std::string pid = std::to_string(probe.pid);

                // Every datagram of the exchange, both ways, although the list was emptied.
                const std::string sent = std::to_string(kUdpExchanges);
                QTRY_COMPARE_WITH_TIMEOUT(Cell(m, "UDP", udpPort, M::kInDatagrams), sent, 30000);
                QCOMPARE(Cell(m, "UDP", udpPort, M::kOutDatagrams), sent);
                QCOMPARE(Cell(m, "UDP", udpPort, M::kRemoteAddr), g_peerAddress);
                QVERIFY(dlg.Capture().Figures().emptied > 0);
                QVERIFY(dlg.m_list.GetItemCount() < 2 * kUdpExchanges);

                // Both named, with PID and user; the peer by the hosts file's name.
                QTRY_COMPARE_WITH_TIMEOUT(Cell(m, "UDP", udpPort, M::kProgram),
                                          std::string("qvconvprobe"), 30000);
                QTRY_COMPARE_WITH_TIMEOUT(Cell(m, "TCP", tcpPort, M::kProgram),
                                          std::string("qvconvprobe"), 30000);
                for (const auto& [protocol, port] : {std::pair("UDP", udpPort), {"TCP", tcpPort}}) {
                    QCOMPARE(Cell(m, protocol, port, M::kPid), pid);
                    QCOMPARE(Cell(m, protocol, port, M::kUser), std::string("root"));
                }
                QTRY_COMPARE_WITH_TIMEOUT(Cell(m, "UDP", udpPort, M::kRemoteHost),
                                          std::string(kPeerName), 30000);

                // A row's tooltip: the program with its PID and user, each address's name.
                const QStringList tip = RowTip(dlg, udpPort).split('\n');
                QCOMPARE(tip.size(),
                         5);  // the time cell, a blank line, program, source, destination
                QCOMPARE(tip[2],
                         QString::fromStdString("程序: qvconvprobe (PID " + pid + ", 用户 root)"));
                QVERIFY(tip.contains(QString::fromStdString(g_peerAddress + ": " + kPeerName +
                                                            "（来源：反向解析）")));

                // The export names them.
                QCOMPARE(ExportedLinesWith(dlg, ",qvconvprobe," + pid + ",root,"), 2);

                // Datagrams no local socket takes: a UDP datagram to a port
                // nothing holds, a connection refused with a reset.
                QCOMPARE(SendFromPeer("udp", 9), 0);
                QCOMPARE(SendFromPeer("tcp", 81), 0);
                QTRY_COMPARE_WITH_TIMEOUT(Cell(m, "UDP", 9, M::kProgram),
                                          std::string("无本机套接字"), 30000);
                QTRY_COMPARE_WITH_TIMEOUT(Cell(m, "TCP", 81, M::kProgram),
                                          std::string("无本机套接字"), 30000);

                // The probe closes its connection: closed, and whose it was. Its
                // last datagrams come within the owners' refresh time of the
                // last lookup; the clock's tick asks once more after them.
                QVERIFY(probe.Tell("close"));
                QCOMPARE(probe.Line(), std::string("closed"));
                const std::string closed = "套接字已关闭 (原属 qvconvprobe, PID " + pid + ")";
                QTRY_COMPARE_WITH_TIMEOUT(Cell(m, "TCP", tcpPort, M::kProgram), closed, 30000);
                QCOMPARE(RowTip(dlg, tcpPort).split('\n').value(2),
                         QString::fromStdString("程序: " + closed));
                QCOMPARE(probe.End(), 0);
                input::Click(dlg.GetDlgItem(IDC_STOP));
            });
    }

    // A program that sends one datagram and opens one connection, and ends
    // (its pipe says when): its lines keep its name and PID, say 已退出,
    // and the export says so in the program's field.
    void aProgramThatHasEnded() {
        WithProbe(
            "--brief", &exportPath_,
            [&](CMonitorDlg& dlg, M& m, Child& probe, uint16_t tcpPort, uint16_t udpPort) {
                const std::string pid = std::to_string(probe.pid);
                // Named while it runs; then it ends at once.
                QTRY_COMPARE_WITH_TIMEOUT(Cell(m, "UDP", udpPort, M::kProgram),
                                          std::string("qvbriefprobe"), 30000);
                QTRY_COMPARE_WITH_TIMEOUT(Cell(m, "TCP", tcpPort, M::kProgram),
                                          std::string("qvbriefprobe"), 30000);
                QVERIFY(probe.Tell("go"));
                QCOMPARE(probe.Line(), std::string());  // its end of the pipe closed: gone
                QCOMPARE(probe.End(), 0);

                const std::string ended = "qvbriefprobe (已退出)";
                for (const auto& [protocol, port] : {std::pair("UDP", udpPort), {"TCP", tcpPort}}) {
                    QTRY_COMPARE_WITH_TIMEOUT(Cell(m, protocol, port, M::kProgram), ended, 30000);
                    QCOMPARE(Cell(m, protocol, port, M::kPid), pid);
                    const int line = LineOf(m, protocol, port);
                    const QString tip =
                        TipAsShown(m.data(m.index(line, M::kProgram), Qt::ToolTipRole).toString())
                            .text;
                    QVERIFY2(tip.contains(QStringLiteral("已退出")) &&
                                 tip.contains(QString::fromStdString("PID " + pid)),
                             qPrintable(tip));
                }
                QCOMPARE(ExportedLinesWith(dlg, "," + ended + "," + pid + ",root,"), 2);
                input::Click(dlg.GetDlgItem(IDC_STOP));
            });
    }

    // The program as it runs for a person (only CAP_NET_RAW): another user's
    // process is that user's, without its name.
    void anotherUsersProgram() {
        Child other = Spawn(
            {"--hold", "qvconvother", std::to_string(kOtherUsersPort), std::to_string(kNobody)});
        QCOMPARE(other.Line(), std::string("ready"));
        Child window =
            Spawn({"--unprivileged-window", g_localAddress, std::to_string(kOtherUsersPort)});
        QCOMPARE(window.Line(), std::string("capturing"));
        QCOMPARE(SendFromPeer("udp", kOtherUsersPort), 0);
        QCOMPARE(window.Line(), std::string("用户 nobody 的进程 (另一用户)"));
        QCOMPARE(window.Line(), std::string("nobody"));
        QCOMPARE(window.Line(), std::string("程序: 用户 nobody 的进程 (另一用户)"));
        QCOMPARE(window.End(), 0);
        QCOMPARE(other.End(), 0);
    }

    // The interface gains an IPv6 address while the capture runs, as a
    // temporary address comes every day: a service asked on it from a
    // higher port is this host's side from then on, not the asking one (the
    // port rule's guess for addresses it does not know).
    void anAddressGainedWhileCapturing() {
        const std::string local6 = "2001:db8:7e57::1";
        const std::string peer6 = "2001:db8:7e57::2";
        if (std::system(("ip netns exec " + g_peerNs + " ip -6 addr add " + peer6 + "/64 dev " +
                         g_peerDevice + " nodad")
                            .c_str()) != 0)
            QSKIP("no IPv6 in this kernel");
        CMonitorDlg dlg(LiveLookups());
        RunModalWith(dlg, [&] {
            CConversationsDlg* conv = WatchConversations(dlg, g_localAddress);
            QVERIFY(conv);
            QCOMPARE(
                std::system(
                    ("ip -6 addr add " + local6 + "/64 dev " + g_localDevice + " nodad").c_str()),
                0);
            const M& m = *conv->Model();
            // The first datagrams may come before the window has heard of the address.
            QElapsedTimer waited;
            waited.start();
            while (LineOf(m, "UDP", kGainedPort) < 0 && waited.elapsed() < 30000) {
                QCOMPARE(
                    roles::Spawn(g_self, {"--send", "udp", local6, std::to_string(kGainedPort)},
                                 g_peerNs)
                        .End(),
                    0);
                QTest::qWait(100);
            }
            QCOMPARE(Cell(m, "UDP", kGainedPort, M::kLocalAddr), local6);
            QCOMPARE(Cell(m, "UDP", kGainedPort, M::kRemoteAddr), peer6);
            QCOMPARE(Cell(m, "UDP", kGainedPort, M::kInDatagrams), std::string("1"));
            // 捕获统计 counts the IPv6 datagrams apart from the list's.
            input::ChooseFromContextMenu(dlg.window(), QStringLiteral("捕获统计..."));
            CCaptureStatsDlg* stats = dlg.StatsWindow();
            QVERIFY(stats && stats->IsOpen());
            const auto shown = [&](int id) {
                return qobject_cast<QLabel*>(stats->GetDlgItem(id))->text();
            };
            QTRY_VERIFY_WITH_TIMEOUT(shown(IDC_STATS_IPV6_RECEIVED).toULongLong() > 0, 30000);
            QCOMPARE(shown(IDC_STATS_IPV6_DROPS), QString("0"));
            input::Click(dlg.GetDlgItem(IDC_STOP));
            QCOMPARE(shown(IDC_STATS_IPV6_RECEIVED).toULongLong(),
                     dlg.Capture().Figures().ipv6Received);
        });
        std::system(("ip -6 addr del " + local6 + "/64 dev " + g_localDevice).c_str());
    }

    // The only resolver takes every query and never answers: lookups wait
    // in it, and the window goes on all the same; past their deadline the
    // addresses stay as they are; the window goes at once.
    void aSilentResolverHoldsNothing() {
        Child server = ServeInPeer();
        QVERIFY(server.pid > 0);
        auto* dlg = new CMonitorDlg;
        RunModalWith(*dlg, [&] {
            CConversationsDlg* conv = WatchConversations(*dlg, g_localAddress);
            QVERIFY(conv);
            QCOMPARE(SendFromPeer("udp", 9), 0);
            // The local address is in no hosts file: its lookup is in the resolver.
            QTRY_VERIFY_WITH_TIMEOUT(NameService::LookupsInFlight() > 0, 30000);
            const QString local = QString::fromStdString(g_localAddress) + ": ";
            QTRY_COMPARE_WITH_TIMEOUT(RowTip(*dlg, 9).split('\n').value(4), local + "(查找中…)",
                                      30000);
            // Meanwhile rows and lines come, the clock ticks, the window answers.
            QCOMPARE(SendFromPeer("udp", 10), 0);
            QTRY_VERIFY_WITH_TIMEOUT(LineOf(*conv->Model(), "UDP", 10) >= 0, 30000);
            const QString clock = qobject_cast<QLabel*>(dlg->GetDlgItem(IDC_CLOCK))->text();
            QTRY_VERIFY_WITH_TIMEOUT(
                qobject_cast<QLabel*>(dlg->GetDlgItem(IDC_CLOCK))->text() != clock, 30000);
            QVERIFY(NameService::LookupsInFlight() > 0);
            // Past the deadline: the address as it is.
            QTRY_COMPARE_WITH_TIMEOUT(RowTip(*dlg, 9).split('\n').value(4), local + "(查找超时)",
                                      30000);
            QVERIFY(NameService::LookupsInFlight() > 0);
            input::Click(dlg->GetDlgItem(IDOK));  // Exit
        });
        delete dlg;
        // Gone, while its lookup is still in the resolver.
        QVERIFY(NameService::LookupsInFlight() > 0);
        server.Kill();
    }

  private:
    // 导出 in the 连接 window, to a folder of its own: the lines of the file
    // that hold `text`.
    int ExportedLinesWith(CMonitorDlg& dlg, const std::string& text) {
        QTemporaryDir dir;
        exportPath_ = dir.filePath("talk.csv");
        input::Click(dlg.ConversationsWindow()->GetDlgItem(IDC_CONV_EXPORT));
        std::ifstream csv(exportPath_.toStdString());
        int lines = 0;
        for (std::string line; std::getline(csv, line);)
            lines += line.find(text) != std::string::npos;
        return lines;
    }

    QString exportPath_;
};

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--serve") == 0)
        return Serve(argv[2], kServerTcp, kServerUdp);
    if (argc == 3 && std::strcmp(argv[1], "--probe") == 0)
        return Probe("qvconvprobe", argv[2], kServerTcp, kServerUdp, kUdpExchanges);
    if (argc == 5 && std::strcmp(argv[1], "--hold") == 0)
        return Hold(argv[2], static_cast<uint16_t>(std::atoi(argv[3])),
                    static_cast<uint32_t>(std::atoi(argv[4])));
    if (argc == 3 && std::strcmp(argv[1], "--brief") == 0)
        return Brief("qvbriefprobe", argv[2], kServerTcp, kServerUdp);
    if (argc == 5 && std::strcmp(argv[1], "--send") == 0)
        return SendTo(argv[2], argv[3], static_cast<uint16_t>(std::atoi(argv[4])));
    if (argc == 4 && std::strcmp(argv[1], "--unprivileged-window") == 0)
        return UnprivilegedWindow(argc, argv);

    if (argc >= 7 && std::strcmp(argv[1], "--run-tests") == 0) {
        g_peerNs = argv[2];
        g_localAddress = argv[3];
        g_peerAddress = argv[4];
        g_localDevice = argv[5];
        g_peerDevice = argv[6];
        g_self = SelfPath(argv[0]);
        std::vector<char*> rest = {argv[0]};
        rest.insert(rest.end(), argv + 7, argv + argc);
        int restCount = static_cast<int>(rest.size());
        QApplication app(restCount, rest.data());
        ConversationsLiveTest test;
        return QTest::qExec(&test, restCount, rest.data());
    }

    // The tests run where `ip netns exec` gives the local namespace files
    // of its own: a hosts file that names the peer, and as the only
    // resolver an address of that namespace's loopback where a socket takes
    // the queries and never answers them.
    return RunInTestNetwork(argv[0], [&] {
        const std::string resolver = "10.214." + g_net->Id() + ".53";
        NamespaceFiles etc(g_net->LocalName());
        const bool made = g_net->Local().Ip("addr add " + resolver + "/32 dev lo") &&
                          etc.Write("resolv.conf", "nameserver " + resolver +
                                                       "\noptions timeout:30 attempts:2\n") &&
                          etc.Write("hosts", "127.0.0.1 localhost\n" + g_net->peerAddress + " " +
                                                 kPeerName + "\n") &&
                          etc.Write("nsswitch.conf", "hosts: files dns\n");
        // This thread is in the local namespace already.
        const int silent = made ? BindUdp(resolver, 53) : -1;
        if (silent < 0)
            return SkipOrFail("could not give the test a resolver of its own");
        std::vector<std::string> args = {g_self,
                                         "--run-tests",
                                         g_net->PeerName(),
                                         g_net->localAddress,
                                         g_net->peerAddress,
                                         g_net->LocalDevice(),
                                         g_net->PeerDevice()};
        args.insert(args.end(), argv + 1, argv + argc);
        const int rc = RunToEnd(args, g_net->LocalName());
        close(silent);
        return rc;
    });
}

#include "test_conversations_live.moc"
