// Live capture on a veth pair between two namespaces made by the test: what
// the peer sends and what the local side answers appear as exact rows.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTest>
#include <cstring>

#include "capture/session.h"
#include "tests/capture/fake_list.h"
#include "tests/capture/test_network.h"
#include "tests/capture/thread_stats.h"

namespace {

TestNetwork* g_net = nullptr;
std::string g_self;

// Runs inside the peer namespace: UDP with a payload, a TCP connection
// attempt to a closed port (SYN, answered by RST) and an ICMP echo request.
int PeerSend(const char* target) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    inet_pton(AF_INET, target, &to.sin_addr);

    int u = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_port = htons(40001);
    bind(u, reinterpret_cast<sockaddr*>(&from), sizeof from);
    to.sin_port = htons(53);
    const char msg[] = "hello quorvelan";
    sendto(u, msg, sizeof msg - 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(u);

    int t = socket(AF_INET, SOCK_STREAM, 0);
    from.sin_port = htons(40002);
    bind(t, reinterpret_cast<sockaddr*>(&from), sizeof from);
    to.sin_port = htons(80);
    connect(t, reinterpret_cast<sockaddr*>(&to), sizeof to);  // refused: SYN then RST
    close(t);

    int ic = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    unsigned char echo[16] = {8, 0, 0, 0, 0x12, 0x34, 0, 1, 'p', 'i', 'n', 'g', 0, 0, 0, 0};
    unsigned sum = 0;
    for (size_t i = 0; i < sizeof echo; i += 2)
        sum += (echo[i] << 8) | echo[i + 1];
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    sum = ~sum & 0xFFFF;
    echo[2] = static_cast<unsigned char>(sum >> 8);
    echo[3] = static_cast<unsigned char>(sum);
    to.sin_port = 0;
    sendto(ic, echo, sizeof echo, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    usleep(200000);  // let the echo reply come back before the namespace goes
    close(ic);
    return 0;
}

// Runs inside the peer namespace: `count` UDP datagrams to port 9 as fast as
// one socket sends them, or the single one that says the flood is over.
int PeerFlood(const char* target, int count, const char* payload) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    inet_pton(AF_INET, target, &to.sin_addr);
    const int u = socket(AF_INET, SOCK_DGRAM, 0);
    const size_t n = std::strlen(payload);
    int sent = 0;
    for (int i = 0; i < count; ++i) {
        sent += sendto(u, payload, n, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
                static_cast<ssize_t>(n);
    }
    close(u);
    return sent == count ? 0 : 1;
}

const FakeEventList::Row* Find(const FakeEventList& list, const std::string& src,
                               const std::string& dst, const std::string& flagsOrData, int column) {
    for (const auto& r : list.rows) {
        if (r[kColSrcAddr] == src && r[kColDstAddr] == dst && r[column] == flagsOrData)
            return &r;
    }
    return nullptr;
}

}  // namespace

class LiveTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void bothDirectionsAppearExactly() {
        UiHandoff handoff;
        FakeEventList list;
        CaptureSession session(handoff, list);
        session.SetSelectedLocalAddress(g_net->localAddress);
        const int rc = session.OpenCaptureSocket();
        if (rc != 0) {
            QFAIL(("live open failed: " + session.EndpointErrorText()).c_str());
        }
        QVERIFY(session.StartCaptureThread());
        QCOMPARE(g_net->RunInPeer(g_self + " --peer-send " + g_net->localAddress), 0);

        const std::string local = std::string(kLocalMarker) + g_net->localAddress;
        const std::string& peer = g_net->peerAddress;
        QTRY_VERIFY_WITH_TIMEOUT(list.GetItemCount() >= 5, 5000);
        QTest::qWait(200);
        session.Stop();

        const auto* udp = Find(list, peer, local, "hello quorvelan", kColData);
        QVERIFY(udp);
        QCOMPARE((*udp)[kColSrcPort], std::string("40001"));
        QCOMPARE((*udp)[kColDstPort], std::string("53"));
        QCOMPARE((*udp)[kColService], std::string("dns"));

        const auto* syn = Find(list, peer, local, "SYN-", kColFlags);
        QVERIFY(syn);
        QCOMPARE((*syn)[kColSrcPort], std::string("40002"));
        QCOMPARE((*syn)[kColDstPort], std::string("80"));
        QCOMPARE((*syn)[kColService], std::string("http"));
        QCOMPARE((*syn)[kColData], std::string(""));

        const auto* rst = Find(list, local, peer, "ACK-RST-", kColFlags);
        QVERIFY(rst);
        QCOMPARE((*rst)[kColSrcPort], std::string("80"));
        QCOMPARE((*rst)[kColDstPort], std::string("40002"));

        bool request = false, reply = false;
        for (const auto& r : list.rows) {
            if (r[kColSrcPort].empty() && r[kColDstPort].empty()) {
                request |= r[kColSrcAddr] == peer && r[kColDstAddr] == local;
                reply |= r[kColSrcAddr] == local && r[kColDstAddr] == peer;
            }
        }
        QVERIFY(request);
        QVERIFY(reply);
        // Nothing but the two test addresses was seen.
        for (const auto& r : list.rows) {
            QVERIFY(r[kColSrcAddr] == local || r[kColSrcAddr] == peer);
            QVERIFY(r[kColDstAddr] == local || r[kColDstAddr] == peer);
        }
    }

    void filterOnOnePort() {
        UiHandoff handoff;
        FakeEventList list;
        CaptureSession session(handoff, list);
        FilterSettings f;
        f.monitoredPort = 80;
        f.RebuildTexts();
        session.SetFilterSettings(f);
        session.SetSelectedLocalAddress(g_net->localAddress);
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        QCOMPARE(g_net->RunInPeer(g_self + " --peer-send " + g_net->localAddress), 0);
        QTRY_VERIFY_WITH_TIMEOUT(list.GetItemCount() >= 2, 5000);
        QTest::qWait(200);
        session.Stop();
        QCOMPARE(list.GetItemCount(), 2);  // the SYN and the RST
    }

    // A kernel buffer far too small for a flood that comes while capture
    // holds back (as it does while the filter dialog is open): the kernel
    // counts what it could not keep, and every datagram is either received or
    // counted as dropped.
    void kernelDropsAreCounted() {
        UiHandoff handoff;
        FakeEventList list;
        CaptureSession session(handoff, list, [] { return MakeLiveEndpointWithBuffer(512 << 10); });
        session.SetSelectedLocalAddress(g_net->localAddress);
        // A socket that takes the datagrams, so that no port-unreachable answers join them.
        const int sink = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(9);
        inet_pton(AF_INET, g_net->localAddress.c_str(), &at.sin_addr);
        QCOMPARE(bind(sink, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        session.RaisePause();
        constexpr int kFlood = 20000;
        const std::string peer = g_self + " --peer-flood " + g_net->localAddress;
        QCOMPARE(g_net->RunInPeer(peer + " " + std::to_string(kFlood) + " flood"), 0);
        session.DropPause();
        // One datagram more, sent again until it is read: once one came after
        // the capture thread had made room in the kernel's buffer, the flood
        // has been read or counted as dropped.
        int lastSent = 0;
        do {
            QCOMPARE(g_net->RunInPeer(peer + " 1 last"), 0);
            ++lastSent;
        } while (!QTest::qWaitFor(
            [&] { return !list.rows.empty() && list.rows[0][kColData] == "last"; }, 2000));
        // The figures are refreshed on a quiet network too.
        QTRY_COMPARE_WITH_TIMEOUT(session.Figures().received + session.Figures().kernelDrops,
                                  uint64_t(kFlood + lastSent), 10000);
        // And then the capture thread sleeps until traffic or Stop: a whole
        // second comes in which it never runs (it used to look at the
        // kernel's figures four times a second).
        const int capture = ThreadNamed("capture");
        QVERIFY(capture > 0);
        QVERIFY(QTest::qWaitFor(
            [capture] {
                const long before = ContextSwitches(capture);
                QTest::qWait(1000);
                return ContextSwitches(capture) == before;
            },
            15000));
        session.Stop();
        close(sink);
        const CaptureFigures f = session.Figures();
        QVERIFY(f.kernelKnown);
        QVERIFY2(f.kernelDrops > 0, FiguresLine(f).c_str());
        QVERIFY2(f.received + f.kernelDrops == uint64_t(kFlood + lastSent), FiguresLine(f).c_str());
        QCOMPARE(f.rows, f.received);
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--peer-send") == 0) {
        return PeerSend(argv[2]);
    }
    if (argc == 5 && std::strcmp(argv[1], "--peer-flood") == 0) {
        return PeerFlood(argv[2], std::atoi(argv[3]), argv[4]);
    }
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    g_self = n > 0 ? std::string(self, static_cast<size_t>(n)) : argv[0];
    std::string why;
    auto net = TestNetwork::Create(&why);
    if (!net) {
        return SkipOrFail(why);
    }
    g_net = &*net;
    // The capture takes IPv6 too, and the kernel counts the IPv6 frames it
    // drops with the IPv4 ones: the link's own IPv6 chatter (router
    // solicitations, MLD reports) would join the exact count of these tests.
    const char* noIpv6 =
        "sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1";
    if (std::system(noIpv6) != 0 || g_net->RunInPeer(noIpv6) != 0) {
        return SkipOrFail("could not turn IPv6 off in the test namespaces");
    }
    QCoreApplication app(argc, argv);
    LiveTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_live.moc"
