// Live capture on a veth pair between two namespaces made by the test: what
// the peer sends and what the local side answers appear as exact rows, and
// the IPv6 beside it reaches the conversations' tap without touching the rows
// or the kernel's IPv4 counts.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTest>
#include <algorithm>
#include <cstring>

#include "capture/batch_tap.h"
#include "capture/session.h"
#include "tests/capture/fake_list.h"
#include "tests/capture/thread_stats.h"
#include "tests/support/live_test.h"
#include "tests/support/socket_roles.h"
#include "wire/ipv6.h"

namespace {

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

// Runs inside the peer namespace: one UDP datagram from port 40006 to port 53
// of an IPv6 address.
int PeerSend6(const char* target) {
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(53);
    inet_pton(AF_INET6, target, &to.sin6_addr);
    const int u = socket(AF_INET6, SOCK_DGRAM, 0);
    sockaddr_in6 from{};
    from.sin6_family = AF_INET6;
    from.sin6_port = htons(40006);
    bind(u, reinterpret_cast<sockaddr*>(&from), sizeof from);
    const char msg[] = "hello six";
    const ssize_t n =
        sendto(u, msg, sizeof msg - 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(u);
    return n == static_cast<ssize_t>(sizeof msg - 1) ? 0 : 1;
}

// Runs inside the peer namespace: `count` UDP datagrams to `port` of an IPv4
// or IPv6 address as fast as one socket sends them (or the single one that
// says a flood is over).
int PeerFlood(const char* target, int port, int count, const char* payload) {
    sockaddr_storage to{};
    socklen_t toLength = 0;
    if (std::strchr(target, ':') != nullptr) {
        auto* six = reinterpret_cast<sockaddr_in6*>(&to);
        six->sin6_family = AF_INET6;
        six->sin6_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET6, target, &six->sin6_addr);
        toLength = sizeof *six;
    } else {
        auto* four = reinterpret_cast<sockaddr_in*>(&to);
        four->sin_family = AF_INET;
        four->sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, target, &four->sin_addr);
        toLength = sizeof *four;
    }
    const int u = socket(to.ss_family, SOCK_DGRAM, 0);
    const size_t n = std::strlen(payload);
    int sent = 0;
    for (int i = 0; i < count; ++i) {
        sent += sendto(u, payload, n, 0, reinterpret_cast<sockaddr*>(&to), toLength) ==
                static_cast<ssize_t>(n);
    }
    close(u);
    return sent == count ? 0 : 1;
}

// A socket bound to a local UDP port, so that datagrams to it are taken and
// no port-unreachable answers join what a test counts.
using roles::BindUdp;

// The IPv6 datagrams that reached the batch tap, counted as their batches go
// into the list (the interface thread, which also reads them).
class Ipv6Tap final : public BatchTap {
  public:
    static constexpr int kPorts = 64;
    struct Counts {
        uint64_t all = 0;
        uint64_t toPort[kPorts] = {};  // UDP and TCP, by destination port below 64
    };
    void Begin(std::string_view) override { pending_[0] = pending_[1] = Counts{}; }
    bool Add(int batch, std::span<const uint8_t> datagram, int64_t) override {
        const Ipv6View ip(datagram);
        if (ip.Version() != 6) {
            return false;  // the rows' IPv4 datagrams come here too
        }
        ++pending_[batch].all;
        if (ip.HasPorts() && ip.DestinationPort() < kPorts) {
            ++pending_[batch].toPort[ip.DestinationPort()];
        }
        return false;
    }
    void Inserted(int batch) override {
        inserted.all += pending_[batch].all;
        for (int p = 0; p < kPorts; ++p)
            inserted.toPort[p] += pending_[batch].toPort[p];
    }
    void Clear(int batch) override { pending_[batch] = Counts{}; }

    Counts inserted;

  private:
    Counts pending_[2];
};

bool g_ipv6 = false;  // the test namespaces have IPv6 addresses

// A second veth pair between the two namespaces, with addresses of its own,
// that a test may remove while capturing on it.
struct DoomedLink {
    std::string local, peer, local6, peer6, device;
    bool made = false;
    DoomedLink() {
        const std::string& id = g_net->Id();
        device = "qvg" + std::to_string(getpid());
        local = "10.214." + id + ".1";
        peer = "10.214." + id + ".2";
        local6 = "2001:db8:214:" + id + "::1";
        peer6 = "2001:db8:214:" + id + "::2";
        const std::string p = g_net->PeerName();
        std::string script = "set -e; ip link add " + device + "a type veth peer name " + device +
                             "b netns " + p + "; ip addr add " + local + "/24 dev " + device +
                             "a; ip -n " + p + " addr add " + peer + "/24 dev " + device +
                             "b; ip link set " + device + "a up; ip -n " + p + " link set " +
                             device + "b up";
        if (g_ipv6) {
            script += "; ip addr add " + local6 + "/64 dev " + device + "a nodad; ip -n " + p +
                      " addr add " + peer6 + "/64 dev " + device + "b nodad";
        }
        made = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
    }
    bool Remove() const {
        return std::system(("ip link del " + device + "a >/dev/null 2>&1").c_str()) == 0;
    }
    ~DoomedLink() { Remove(); }
};

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
        Ipv6Tap tap;
        CaptureSession session(handoff, list);
        session.SetBatchTap(&tap);
        session.SetSelectedLocalAddress(g_net->localAddress);
        const int rc = session.OpenCaptureSocket();
        if (rc != 0) {
            QFAIL(("live open failed: " + session.EndpointErrorText()).c_str());
        }
        // Opened also where the kernel has IPv6 off: it then sees nothing.
        QVERIFY(session.EndpointStats().ipv6Open);
        QVERIFY(session.StartCaptureThread());
        // An IPv6 datagram among the IPv4 ones: to the tap, never to the list.
        if (g_ipv6) {
            QCOMPARE(g_net->RunInPeer(g_self + " --peer-send6 " + g_net->localAddress6), 0);
        }
        QCOMPARE(g_net->RunInPeer(g_self + " --peer-send " + g_net->localAddress), 0);

        const std::string local = std::string(kLocalMarker) + g_net->localAddress;
        const std::string& peer = g_net->peerAddress;
        QTRY_VERIFY_WITH_TIMEOUT(list.GetItemCount() >= 5, 5000);
        if (g_ipv6) {
            QTRY_COMPARE_WITH_TIMEOUT(tap.inserted.toPort[53], uint64_t{1}, 5000);
        }
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

    // Kernel buffers far too small for an IPv4 and an IPv6 flood that come
    // while capture holds back (as it does while the filter dialog is open):
    // the kernel counts what it could not keep, each family apart; every IPv4
    // datagram is either received or counted as dropped in the figures, and
    // the IPv6 drops are not among them.
    void kernelDropsAreCounted() {
        UiHandoff handoff;
        FakeEventList list;
        Ipv6Tap tap;
        CaptureSession session(handoff, list, [] {
            LiveCaptureOptions small;
            // Two of libpcap's 256 KiB blocks each. The kernel hands a block
            // over 10 ms after its first frame, however full: the link's IPv6
            // chatter during the pause may take both IPv6 blocks, and then the
            // whole IPv6 flood is dropped.
            small.ipv4BufferBytes = 512 << 10;
            small.ipv6BufferBytes = 512 << 10;
            return MakeLiveEndpointWith(small);
        });
        session.SetBatchTap(&tap);
        session.SetSelectedLocalAddress(g_net->localAddress);
        const int sink = BindUdp(g_net->localAddress, 9);
        QVERIFY(sink >= 0);
        int sinks6[2] = {-1, -1};
        if (g_ipv6) {
            sinks6[0] = BindUdp(g_net->localAddress6, 9);
            sinks6[1] = BindUdp(g_net->localAddress6, 10);
            QVERIFY(sinks6[0] >= 0 && sinks6[1] >= 0);
        }
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        session.RaisePause();
        constexpr int kFlood = 20000;
        const std::string peer = g_self + " --peer-flood " + g_net->localAddress + " 9";
        QCOMPARE(g_net->RunInPeer(peer + " " + std::to_string(kFlood) + " flood"), 0);
        const std::string peer6 = g_self + " --peer-flood " + g_net->localAddress6;
        if (g_ipv6) {
            QCOMPARE(g_net->RunInPeer(peer6 + " 9 " + std::to_string(kFlood) + " flood"), 0);
        }
        session.DropPause();
        // One datagram more, sent again until it is read: once one came after
        // the capture thread had made room in the kernel's buffer, the flood
        // has been read or counted as dropped. The same for IPv6, to a port
        // of its own.
        int lastSent = 0;
        do {
            QCOMPARE(g_net->RunInPeer(peer + " 1 last"), 0);
            ++lastSent;
        } while (!QTest::qWaitFor(
            [&] { return !list.rows.empty() && list.rows[0][kColData] == "last"; }, 2000));
        if (g_ipv6) {
            do {
                QCOMPARE(g_net->RunInPeer(peer6 + " 10 1 last"), 0);
            } while (!QTest::qWaitFor([&] { return tap.inserted.toPort[10] != 0; }, 2000));
        }
        // The figures are refreshed on a quiet network too.
        QTRY_COMPARE_WITH_TIMEOUT(session.Figures().received + session.Figures().kernelDrops,
                                  uint64_t(kFlood + lastSent), 10000);
        if (g_ipv6) {
            // Every IPv6 datagram received reached the tap, and the flood was
            // read or dropped by the IPv6 handle: its drops are its own.
            QTRY_COMPARE_WITH_TIMEOUT(tap.inserted.all, session.EndpointStats().ipv6Received,
                                      10000);
            QTRY_VERIFY_WITH_TIMEOUT(
                tap.inserted.toPort[9] + session.EndpointStats().ipv6KernelDrops >= kFlood, 10000);
            const CaptureStats s = session.EndpointStats();
            const std::string six = "IPv6: " + std::to_string(s.ipv6Received) + " received, " +
                                    std::to_string(s.ipv6KernelDrops) + " dropped, " +
                                    std::to_string(tap.inserted.toPort[9]) + " of the flood";
            QVERIFY(s.ipv6Open);
            QVERIFY2(s.ipv6KernelDrops > 0, six.c_str());
            QVERIFY2(tap.inserted.toPort[9] <= uint64_t{kFlood}, six.c_str());
            // Nothing of IPv6 reached the list.
            for (const auto& r : list.rows)
                QVERIFY(r[kColSrcAddr].find(':') == std::string::npos);
        }
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
        for (const int fd : sinks6) {
            if (fd >= 0)
                close(fd);
        }
        const CaptureFigures f = session.Figures();
        QVERIFY(f.kernelKnown);
        QVERIFY2(f.kernelDrops > 0, FiguresLine(f).c_str());
        QVERIFY2(f.received + f.kernelDrops == uint64_t(kFlood + lastSent), FiguresLine(f).c_str());
        QCOMPARE(f.rows, f.received);
        // The IPv6 handle's figures, kept past the end as the window shows them.
        QVERIFY(f.ipv6Handle);
        QCOMPARE(f.ipv6Error, std::string());
        if (g_ipv6) {
            QVERIFY(f.ipv6KernelDrops > 0);
            QCOMPARE(f.ipv6Received, tap.inserted.all);
        }
    }

    // An IPv6 handle that cannot be opened (here: its filter does not
    // compile) leaves the IPv4 capture as it was without IPv6.
    void ipv4GoesOnWithoutTheIpv6Handle() {
        UiHandoff handoff;
        FakeEventList list;
        Ipv6Tap tap;
        CaptureEndpoint* opened = nullptr;
        CaptureSession session(handoff, list, [&opened] {
            LiveCaptureOptions broken;
            broken.ipv6Filter = "ip6 and (";
            auto endpoint = MakeLiveEndpointWith(broken);
            opened = endpoint.get();
            return endpoint;
        });
        session.SetBatchTap(&tap);
        session.SetSelectedLocalAddress(g_net->localAddress);
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(opened != nullptr);
        const std::string why = opened->Ipv6ErrorText();
        QVERIFY(!why.empty());
        QVERIFY(session.EndpointErrorText().empty());
        QVERIFY(!session.EndpointStats().ipv6Open);
        QVERIFY(session.StartCaptureThread());
        // Said where the figures are, not only on standard error.
        QCOMPARE(session.Figures().ipv6Error, why);
        QVERIFY(session.Figures().ipv6Handle);
        if (g_ipv6) {
            QCOMPARE(g_net->RunInPeer(g_self + " --peer-send6 " + g_net->localAddress6), 0);
        }
        QCOMPARE(g_net->RunInPeer(g_self + " --peer-send " + g_net->localAddress), 0);
        QTRY_VERIFY_WITH_TIMEOUT(list.GetItemCount() >= 5, 5000);
        QTest::qWait(200);
        QCOMPARE(session.EndpointStats().ipv6Received, uint64_t{0});
        session.Stop();
        QVERIFY(Find(list, g_net->peerAddress, std::string(kLocalMarker) + g_net->localAddress,
                     "hello quorvelan", kColData));
        QCOMPARE(tap.inserted.all, uint64_t{0});
        const CaptureFigures f = session.Figures();
        QCOMPARE(f.rows, f.received);
        QVERIFY(f.kernelKnown);
        QCOMPARE(f.ipv6Error, why);
    }

    // The interface goes away under both handles: the IPv6 one is given up,
    // Stop ends the capture at once with what it had, and a new capture on
    // another interface takes both families again.
    void interfaceGoneMidCapture() {
        DoomedLink link;
        if (!link.made) {
            QSKIP("could not add a second veth pair");
        }
        UiHandoff handoff;
        FakeEventList list;
        Ipv6Tap tap;
        CaptureEndpoint* opened = nullptr;
        CaptureSession session(handoff, list, [&opened] {
            auto endpoint = MakeLiveEndpoint();
            opened = endpoint.get();
            return endpoint;
        });
        session.SetBatchTap(&tap);
        session.SetSelectedLocalAddress(link.local);
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.EndpointStats().ipv6Open);
        QVERIFY(session.StartCaptureThread());
        if (g_ipv6) {
            QCOMPARE(g_net->RunInPeer(g_self + " --peer-send6 " + link.local6), 0);
        }
        QCOMPARE(g_net->RunInPeer(g_self + " --peer-send " + link.local), 0);
        QTRY_VERIFY_WITH_TIMEOUT(list.GetItemCount() >= 5, 5000);
        if (g_ipv6) {
            QTRY_COMPARE_WITH_TIMEOUT(tap.inserted.toPort[53], uint64_t{1}, 5000);
        }

        QVERIFY(link.Remove());
        QTRY_VERIFY_WITH_TIMEOUT(!session.EndpointStats().ipv6Open, 10000);
        QVERIFY(!opened->Ipv6ErrorText().empty());
        QCOMPARE(session.Figures().ipv6Error, opened->Ipv6ErrorText());  // while it runs
        QVERIFY(session.CaptureThreadRunning());
        const int rowsBefore = list.GetItemCount();
        session.Stop();
        QVERIFY(!session.CaptureThreadRunning());
        QCOMPARE(list.GetItemCount(), rowsBefore);
        const CaptureFigures gone = session.Figures();
        QVERIFY(!gone.running);
        QCOMPARE(gone.rows, gone.received);
        QVERIFY(!gone.ipv6Error.empty());

        // Again, on the interface that is still there.
        list.rows.clear();
        tap.inserted = Ipv6Tap::Counts{};
        session.SetSelectedLocalAddress(g_net->localAddress);
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.EndpointStats().ipv6Open);
        QVERIFY(session.StartCaptureThread());
        QCOMPARE(session.Figures().ipv6Error, std::string());  // the last capture's is gone
        if (g_ipv6) {
            QCOMPARE(g_net->RunInPeer(g_self + " --peer-send6 " + g_net->localAddress6), 0);
        }
        QCOMPARE(g_net->RunInPeer(g_self + " --peer-send " + g_net->localAddress), 0);
        QTRY_VERIFY_WITH_TIMEOUT(list.GetItemCount() >= 5, 5000);
        if (g_ipv6) {
            QTRY_COMPARE_WITH_TIMEOUT(tap.inserted.toPort[53], uint64_t{1}, 5000);
        }
        session.Stop();
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--peer-send") == 0) {
        return PeerSend(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "--peer-send6") == 0) {
        return PeerSend6(argv[2]);
    }
    if (argc == 6 && std::strcmp(argv[1], "--peer-flood") == 0) {
        return PeerFlood(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
    }
    return RunInTestNetwork(argv[0], [&] {
        // IPv6 on, with the link's own chatter (router solicitations, MLD
        // reports) beside what the tests send: the IPv4 counts stay exact.
        std::string why;
        g_ipv6 = g_net->AddIpv6(&why);
        if (!g_ipv6) {
            std::fprintf(stderr, "IPv6 parts left out: %s\n", why.c_str());
        }
        QCoreApplication app(argc, argv);
        LiveTest test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_live.moc"
