// Names from the wire on live traffic, in two network namespaces of the
// test's own: a DNS server of the test (in the peer namespace) answers
// www.quorvelan.test with the peer's address; a program resolves the name
// through it and connects; openssl s_client opens TLS to openssl s_server
// with the server name tls.quorvelan.test. Reverse lookups (the tracker's
// resolver) say something else for every address. The capture's tap feeds
// the tracker as a capture does, and the 连接 window's lines name the
// address by the DNS answer, the TLS connection by its server name, each
// with where its name came from, and the applications.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "talk/conversation.h"
#include "tests/support/live_capture.h"
#include "tests/support/live_test.h"
#include "tests/support/socket_roles.h"
#include "ui/models/conversationlines.h"
#include "ui/models/conversationtracker.h"

namespace {

using namespace roles;

constexpr uint16_t kPlainPort = 8080;
constexpr uint16_t kTlsPort = 443;
const char* const kAsked = "www.quorvelan.test";
const char* const kServerName = "tls.quorvelan.test";
const char* const kReverse = "reverse.elsewhere.test";

// ---- roles of the test binary's children

// Peer namespace: a DNS server on port 53 that answers `name` (type A) with
// `address`, and every other question with "no such name".
int ServeDns(const char* address, const char* name) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in sa = SockAddr(Addr(address), 53);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        return 2;
    Say("ready");
    std::string wanted;  // the name as labels
    for (const char* p = name; *p;) {
        const char* dot = std::strchr(p, '.');
        const size_t n = dot ? static_cast<size_t>(dot - p) : std::strlen(p);
        wanted += static_cast<char>(n);
        wanted.append(p, n);
        p += n + (dot ? 1 : 0);
    }
    wanted += '\0';
    for (;;) {
        uint8_t q[512];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t got = recvfrom(fd, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (got < 12 + 5)
            continue;
        const size_t questionEnd = 12 + wanted.size() + 4;
        const bool match = static_cast<size_t>(got) >= questionEnd &&
                           std::memcmp(q + 12, wanted.data(), wanted.size()) == 0;
        std::vector<uint8_t> a(q, q + (match ? questionEnd : static_cast<size_t>(got)));
        a[2] = 0x81;
        a[3] = match ? 0x80 : 0x83;
        a[6] = 0;
        a[7] = match ? 1 : 0;
        if (match) {
            const uint32_t v = Addr(address);
            a.insert(a.end(), {0xC0, 12, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4,
                               static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                               static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
        }
        sendto(fd, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
}

// Local namespace: asks `server` for `name`, connects to the address of its
// answer on `port`, sends a line and says its local port; ends with its input.
int ResolveAndConnect(const char* server, const char* name, uint16_t port) {
    std::vector<uint8_t> q = {0x12, 0x34, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
    for (const char* p = name; *p;) {
        const char* dot = std::strchr(p, '.');
        const size_t n = dot ? static_cast<size_t>(dot - p) : std::strlen(p);
        q.push_back(static_cast<uint8_t>(n));
        q.insert(q.end(), p, p + n);
        p += n + (dot ? 1 : 0);
    }
    q.insert(q.end(), {0, 0, 1, 0, 1});
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in dns = SockAddr(Addr(server), 53);
    timeval wait{5, 0};
    setsockopt(udp, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    uint8_t answer[512];
    ssize_t got = -1;
    for (int attempt = 0; attempt < 5 && got < 0; ++attempt) {
        sendto(udp, q.data(), q.size(), 0, reinterpret_cast<const sockaddr*>(&dns), sizeof dns);
        got = recv(udp, answer, sizeof answer, 0);
    }
    if (got < 16 || answer[7] != 1)
        return 2;
    const uint32_t address = (uint32_t{answer[got - 4]} << 24) | (uint32_t{answer[got - 3]} << 16) |
                             (uint32_t{answer[got - 2]} << 8) | answer[got - 1];
    const int tcp = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in to = SockAddr(address, port);
    if (connect(tcp, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
        return 3;
    if (write(tcp, "hello\n", 6) != 6)
        return 4;
    Say(std::to_string(LocalPort(tcp)));
    ReadLine(STDIN_FILENO);
    close(tcp);
    close(udp);
    return 0;
}

// ---- the test's side

// A live capture feeding the tracker's own tap, as the capture session does:
// the capture thread adds to batch 0, the test (the interface thread) hands
// it over.
class LiveTap {
  public:
    explicit LiveTap(ConversationTracker* tracker) : tracker_(tracker) {
        tracker_->BeginCapture(false, g_net->localAddress);
        tracker_->Tap().Begin(g_net->localAddress);
        capture_ = std::make_unique<LiveCapture>(
            g_net->localAddress, [this](std::span<const uint8_t> d, int64_t timeNs) {
                tracker_->Tap().Add(0, d, timeNs);
                KeyedDatagram k;
                if (KeyDatagram(d.data(), static_cast<int>(d.size()), local_, &k) &&
                    k.direction == Direction::kOut)
                    lastTo_[k.key.remotePort] = {std::vector<uint8_t>(d.begin(), d.end()), timeNs};
            });
    }
    bool Opened() const { return capture_->Opened(); }
    // The event list's tooltip lines of the last datagram this host sent to `port`.
    std::string TipOfLastTo(uint16_t port) {
        std::string tip;
        capture_->Locked([&] {
            if (const auto it = lastTo_.find(port); it != lastTo_.end())
                tip = tracker_->DatagramToolTip(it->second.first, it->second.second);
        });
        return tip;
    }
    void Pump() {
        capture_->Locked([this] {
            tracker_->Tap().Inserted(0);
            tracker_->Tap().Clear(0);
        });
    }

  private:
    ConversationTracker* tracker_;
    const uint32_t local_ = Addr(g_net->localAddress);
    std::map<uint16_t, std::pair<std::vector<uint8_t>, int64_t>> lastTo_;
    std::unique_ptr<LiveCapture> capture_;
};

// The line of a conversation; with `app`, one that spoke it (s_client's
// attempts before s_server listened have lines of their own).
int RowOf(const ConversationLines& lines, uint8_t protocol, uint16_t remotePort,
          uint16_t localPort = 0, const char* app = nullptr) {
    for (int r = 0; r < lines.rowCount(); ++r) {
        const std::string p = lines.CellText(r, ConversationLines::kProtocol);
        if (p == (protocol == kProtocolTcp ? "TCP" : "UDP") &&
            lines.CellText(r, ConversationLines::kRemotePort) == std::to_string(remotePort) &&
            (localPort == 0 ||
             lines.CellText(r, ConversationLines::kLocalPort) == std::to_string(localPort)) &&
            (app == nullptr || lines.CellText(r, ConversationLines::kApplication) == app))
            return r;
    }
    return -1;
}

TEST(WireNamesLive, TheAskedNameAndTheServerNameOverTheReverseOne) {
    if (system("command -v openssl >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "openssl is not installed";
    ConversationTracker::Options options;
    options.names.resolve = [](const IpAddress&, std::string* name) {
        *name = kReverse;
        return true;
    };
    ConversationTracker tracker(options);
    LiveTap tap(&tracker);
    ASSERT_TRUE(tap.Opened());
    ConversationLines lines(tracker);
    const auto until = [&](const std::function<bool()>& done) {
        return PollUntil([&] {
            tap.Pump();
            lines.Refresh();
            return done();
        });
    };

    // The servers: DNS, a plain TCP one, TLS with a certificate made now.
    Child dns = Spawn(g_self, {"--dns", g_net->peerAddress, kAsked}, g_net->PeerName());
    ASSERT_EQ(dns.Line(), "ready");
    Child plain = Spawn(g_self, {"--serve", g_net->peerAddress}, g_net->PeerName());
    ASSERT_EQ(plain.Line(), "ready");
    char dir[] = "/tmp/qvwirenamesXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string key = std::string(dir) + "/key.pem";
    const std::string cert = std::string(dir) + "/cert.pem";
    ASSERT_EQ(system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                      "-subj /CN=" +
                      std::string(kServerName) + " -days 1 -keyout " + key + " -out " + cert +
                      " >/dev/null 2>&1")
                         .c_str()),
              0);
    Child tls = SpawnCommand(
        {"openssl", "s_server", "-quiet", "-accept",
         g_net->peerAddress + ":" + std::to_string(kTlsPort), "-key", key, "-cert", cert},
        g_net->PeerName());

    // A program resolves the name and connects to what the answer said.
    Child program = Spawn(
        g_self, {"--resolve-connect", g_net->peerAddress, kAsked, std::to_string(kPlainPort)});
    const std::string port = program.Line();
    ASSERT_FALSE(port.empty()) << "the program could not resolve and connect";
    // TLS with the server name; s_server may still be starting: tried again.
    // (Not -quiet, with which s_client stays after its input ends.)
    int tries = 0;
    while (system(("timeout 20 openssl s_client -connect " + g_net->peerAddress + ":" +
                   std::to_string(kTlsPort) + " -servername " + kServerName +
                   " </dev/null >/dev/null 2>&1")
                      .c_str()) != 0 &&
           ++tries < 50)
        usleep(100000);

    const auto named = [&](int row) {
        return row >= 0 &&
               lines.CellText(row, ConversationLines::kRemoteHost).find('.') != std::string::npos;
    };
    ASSERT_TRUE(until([&] {
        return named(RowOf(lines, kProtocolTcp, kPlainPort,
                           static_cast<uint16_t>(std::stoi(port)))) &&
               named(RowOf(lines, kProtocolTcp, kTlsPort, 0, "TLS")) &&
               RowOf(lines, kProtocolUdp, 53) >= 0 &&
               tracker.Name(Addr(g_net->peerAddress)).state == NameService::State::kFound &&
               tracker.Name(Addr(g_net->localAddress)).state == NameService::State::kFound;
    }));
    // Reverse DNS says something else, and is not what is shown.
    EXPECT_EQ(tracker.Name(Addr(g_net->peerAddress)).name, kReverse);

    struct Want {
        int row;
        const char* host;
        const char* source;
        const char* app;
    } wants[] = {
        {RowOf(lines, kProtocolTcp, kPlainPort, static_cast<uint16_t>(std::stoi(port))), kAsked,
         "DNS 应答", ""},
        {RowOf(lines, kProtocolTcp, kTlsPort, 0, "TLS"), kServerName, "TLS", "TLS"},
        {RowOf(lines, kProtocolUdp, 53), kAsked, "DNS 应答", "DNS"},
    };
    for (const Want& w : wants) {
        ASSERT_GE(w.row, 0);
        EXPECT_EQ(lines.CellText(w.row, ConversationLines::kRemoteHost), w.host);
        EXPECT_EQ(lines.CellText(w.row, ConversationLines::kApplication), w.app) << w.host;
        const QString tip =
            lines.data(lines.index(w.row, ConversationLines::kRemoteHost), Qt::ToolTipRole)
                .toString();
        EXPECT_TRUE(tip.contains(QString::fromUtf8(w.source))) << tip.toStdString();
        const CsvLine csv = lines.Export(w.row);
        EXPECT_EQ(NameSourceText(csv.hostSource), w.source);
    }

    // A row of the event list names the remote side as the 连接 window does,
    // with where the name came from; this host's side by its reverse name.
    const std::string local = g_net->localAddress + ": " + kReverse + "（来源：反向解析）";
    for (const auto& [port, host, source] :
         {std::tuple(kTlsPort, kServerName, "TLS"), std::tuple(kPlainPort, kAsked, "DNS 应答")}) {
        const std::string tip = tap.TipOfLastTo(port);
        const std::string remote = g_net->peerAddress + ": " + host + "（来源：" + source + "）";
        EXPECT_NE(tip.find("\n" + local + "\n" + remote), std::string::npos) << tip;
    }

    EXPECT_EQ(program.End(), 0);
    tls.Kill();
    plain.Kill();
    dns.Kill();
    system(("rm -rf " + std::string(dir)).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--dns") == 0)
        return ServeDns(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "--serve") == 0)
        return Serve(argv[2], kPlainPort, kPlainPort + 1);
    if (argc == 5 && std::strcmp(argv[1], "--resolve-connect") == 0)
        return ResolveAndConnect(argv[2], argv[3], static_cast<uint16_t>(std::atoi(argv[4])));
    return RunInTestNetwork(argv[0], [&] {
        QCoreApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    });
}
