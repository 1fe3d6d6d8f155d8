// Where the other side is, on live traffic in the real window: datagrams
// come from addresses of large public resolvers, sent in the test's own peer
// namespace (the namespaces have no route out, so nothing is ever sent to
// those addresses); the 连接 window shows each one's country in Chinese and
// its network, in its lines, the remote host's tooltip and the export.
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <fstream>

#include "app/monitordlg.h"
#include "places/place.h"
#include "res/resource.h"
#include "tests/app/conversations_window.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/user_input.h"
#include "tests/app/window_state.h"
#include "tests/support/live_test.h"
#include "tests/support/socket_roles.h"

namespace {

using M = ConversationModel;

struct Source {
    const char* address;
    uint16_t localPort;
    const char* country;
    const char* network;
};
// Answers of the installed database (Debian's libloc-database) that have
// long been the same.
const Source kSources[] = {
    {"8.8.8.8", 41001, "美国", "AS15169 GOOGLE"},
    {"1.1.1.1", 41002, "澳大利亚", "AS13335 CLOUDFLARENET"},
};

// In the peer namespace: three UDP datagrams from `source`:53.
int SendFrom(const char* source, const char* destination, uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from = roles::SockAddr(roles::Addr(source), 53);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0)
        return 2;
    sockaddr_in to = roles::SockAddr(roles::Addr(destination), port);
    for (int i = 0; i < 3; ++i) {
        if (sendto(fd, "place", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) != 5)
            return 3;
    }
    close(fd);
    return 0;
}

// The local end's hardware address, so that the peer needs no ARP from a
// source address the local side has no route back to.
std::string LocalMac() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq r{};
    const std::string dev = g_net->LocalDevice();
    std::strncpy(r.ifr_name, dev.c_str(), IFNAMSIZ - 1);
    const bool ok = ioctl(fd, SIOCGIFHWADDR, &r) == 0;
    close(fd);
    if (!ok)
        return {};
    char text[18];
    const auto* b = reinterpret_cast<const unsigned char*>(r.ifr_hwaddr.sa_data);
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4],
                  b[5]);
    return text;
}

}  // namespace

class PlacesLiveTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void countryAndNetworkOfPublicSources() {
        const std::string mac = LocalMac();
        QVERIFY(!mac.empty());
        for (const Source& s : kSources)
            QCOMPARE(g_net->RunInPeer(std::string("ip addr add ") + s.address + "/32 dev lo"), 0);
        QCOMPARE(g_net->RunInPeer("ip neigh replace " + g_net->localAddress + " lladdr " + mac +
                                  " nud permanent dev " + g_net->PeerDevice()),
                 0);

        QTemporaryDir dir;
        const QString exported = dir.filePath("places.csv");
        CMonitorDlg dlg;
        dlg.Dialogs().exportConversations = [&](QWidget*, const QString&) {
            return std::optional<QString>(exported);
        };
        RunModalWith(dlg, [&] {
            CConversationsDlg* conv = WatchConversations(dlg, g_net->localAddress);
            QVERIFY(conv);
            ConversationModel& m = *conv->Model();

            for (const Source& s : kSources) {
                QCOMPARE(g_net->RunInPeer(g_self + " --send-from " + s.address + " " +
                                          g_net->localAddress + " " + std::to_string(s.localPort)),
                         0);
            }
            for (const Source& s : kSources) {
                QTRY_COMPARE_WITH_TIMEOUT(Cell(m, "UDP", s.localPort, M::kInDatagrams),
                                          std::string("3"), 30000);
                QCOMPARE(Cell(m, "UDP", s.localPort, M::kRemoteAddr), std::string(s.address));
                QTRY_COMPARE_WITH_TIMEOUT(Cell(m, "UDP", s.localPort, M::kCountry),
                                          std::string(s.country), 30000);
                QCOMPARE(Cell(m, "UDP", s.localPort, M::kNetwork), std::string(s.network));
                // The remote host's tooltip says it too.
                const QModelIndex host = m.index(LineOf(m, "UDP", s.localPort), M::kRemoteHost);
                const QStringList tip =
                    TipAsShown(m.data(host, Qt::ToolTipRole).toString()).text.split('\n');
                QVERIFY2(tip.contains(QStringLiteral("国家/地区: ") + s.country),
                         qPrintable(tip.join('|')));
                QVERIFY2(tip.contains(QStringLiteral("网络: ") + s.network),
                         qPrintable(tip.join('|')));
            }
            // The peer's own address is a private one, named without the database.
            QTRY_VERIFY_WITH_TIMEOUT(m.rowCount() >= 2, 30000);

            // The export ends each line with them.
            input::Click(conv->GetDlgItem(IDC_CONV_EXPORT));
            std::ifstream csv(exported.toStdString());
            int found = 0;
            for (std::string line; std::getline(csv, line);) {
                for (const Source& s : kSources)
                    found +=
                        line.find(std::string(",") + s.address + ",53,") != std::string::npos &&
                        line.ends_with(std::string(",") + s.country + "," + s.network + "\r");
            }
            QCOMPARE(found, 2);
            input::Click(dlg.GetDlgItem(IDC_STOP));
        });
    }
};

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--send-from") == 0)
        return SendFrom(argv[2], argv[3], static_cast<uint16_t>(std::atoi(argv[4])));
    if (access(PlaceDatabase::kInstalledPath, R_OK) != 0) {
        std::fprintf(stderr, "SKIP: no %s (Debian libloc-database)\n",
                     PlaceDatabase::kInstalledPath);
        return 77;
    }
    return RunInTestNetwork(argv[0], [&] {
        QApplication app(argc, argv);
        PlacesLiveTest test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_places_live.moc"
