// Who is talking, on a veth pair between two namespaces made by the test: a
// process named qvtalkprobe talks TCP and UDP to a server in the peer
// namespace while a live capture counts the conversations; the owners found
// for them, a socket of another user seen without rights to its process, a
// closed socket, datagrams no local socket takes, the CSV export, and a
// resolver that never answers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <utility>

#include "export/save_open.h"
#include "talk/conversation.h"
#include "talk/csv.h"
#include "talk/names.h"
#include "talk/owner.h"
#include "talk/texts.h"
#include "tests/support/live_capture.h"
#include "tests/support/live_test.h"
#include "tests/support/socket_roles.h"
#include "wire/interfaces.h"

namespace {

using namespace roles;

constexpr uint16_t kServerTcp = 7001;
constexpr uint16_t kServerUdp = 7002;
constexpr int kUdpExchanges = 25;
constexpr uint32_t kNobody = 65534;
constexpr uint32_t kStranger = 65533;  // another uid without rights to nobody's processes

// ---- roles of the test binary's children

// One owner lookup as another uid: prints the state and the user.
int LookupAs(uint32_t uid, char** args) {
    if (!BecomeUid(uid))
        return 2;
    OwnerQuery q;
    q.key.protocol = static_cast<uint8_t>(std::atoi(args[0]));
    q.key.localAddr = Addr(args[1]);
    q.key.localPort = static_cast<uint16_t>(std::atoi(args[2]));
    q.key.remoteAddr = Addr(args[3]);
    q.key.remotePort = static_cast<uint16_t>(std::atoi(args[4]));
    OwnerLookup lookup;
    const OwnerInfo r = lookup.Round(std::span(&q, 1))[0];
    Say(std::to_string(static_cast<int>(r.state)) + " " + r.user + " " + r.program);
    return 0;
}

// Runs where the only resolver never answers. Checks that a request returns
// while its lookup is still inside getnameinfo, that the lookup is reported
// as timed out at its deadline with the address left as it is, and that
// destroying the service does not wait for it. Exits with the number of
// failed checks.
int SilentResolver(const char* resolver, const char* address) {
    int failed = 0;
    const auto check = [&](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "silent resolver: %s\n", what);
            ++failed;
        }
    };
    const uint32_t a = Addr(address);
    // The resolver: a socket on its address and port that never reads.
    if (BindUdp(resolver, 53) < 0) {
        std::perror("silent resolver: bind");
        return 100;
    }
    {
        NameService::Options o;
        o.deadline = std::chrono::milliseconds(300);
        NameService names(o);
        names.Request(a);
        // Waiting for the thread to be inside the resolver (not a measure of speed).
        for (int i = 0; i < 6000 && NameService::LookupsInFlight() == 0; ++i)
            usleep(10000);
        check(NameService::LookupsInFlight() == 1, "the lookup never started");
        check(names.Lookup(a).state == NameService::State::kPending ||
                  names.Lookup(a).state == NameService::State::kTimedOut,
              "answered by a resolver that never answers");
        for (int i = 0; i < 6000 && names.Lookup(a).state == NameService::State::kPending; ++i)
            usleep(10000);
        check(names.Lookup(a).state == NameService::State::kTimedOut, "not timed out");
        check(names.HostText(a) == address, "the address did not stay as it is");
        names.Request(a);  // asked again at once: still the timed-out answer, no second lookup
        check(NameService::LookupsInFlight() == 1, "a timed-out address was asked again");
    }
    // Destroyed while the lookup is still stuck in the resolver.
    check(NameService::LookupsInFlight() == 1, "destruction waited for the lookup");
    return failed;
}

// ---- the test's side

// Starts the test binary in a role, in the local namespace or (`peer`) the other.
Child Spawn(std::vector<std::string> args, bool peer = false) {
    return roles::Spawn(g_self, std::move(args), peer ? g_net->PeerName() : std::string());
}

// The capture thread's side: a live capture counting into deltas that the
// test merges into its table, as the interface thread does with each batch.
class Watch {
  public:
    explicit Watch(OwnerService* owners)
        : owners_(owners),
          local_(Addr(g_net->localAddress)),
          // As the capture's tap takes them: the interface's IPv6 addresses
          // beside the selected IPv4 one.
          local6_(Ipv6AddressesBeside(g_net->localAddress)),
          capture_(g_net->localAddress, [this](std::span<const uint8_t> d, int64_t timeNs) {
              deltas_.AddDatagram(d.data(), static_cast<int>(d.size()),
                                  LocalAddresses{local_, local6_}, timeNs);
          }) {}
    bool Opened() const { return capture_.Opened(); }

    // Merges what came and asks for the owners of what it touched.
    void Pump() {
        capture_.Locked([this] {
            const MergeReport r = table_.Merge(deltas_);
            deltas_.Clear();
            for (const ConversationKey& k : r.active)
                owners_->Request(*table_.Find(k));
        });
    }
    // Pumps until `done` holds, for up to a minute.
    bool Until(const std::function<bool()>& done) {
        return PollUntil([&] {
            Pump();
            return done();
        });
    }
    const Conversation* Find(uint8_t protocol, uint16_t localPort, uint32_t remote,
                             uint16_t remotePort) const {
        return table_.Find(ConversationKey{protocol, local_, localPort, remote, remotePort});
    }
    const Conversation* Find(uint8_t protocol, const IpAddress& local, uint16_t localPort,
                             const IpAddress& remote, uint16_t remotePort) const {
        return table_.Find(ConversationKey{protocol, local, localPort, remote, remotePort});
    }
    const ConversationTable& Table() const { return table_; }

  private:
    OwnerService* owners_;
    uint32_t local_;
    std::vector<Ipv6Address> local6_;
    ConversationDeltas deltas_;
    ConversationTable table_;
    LiveCapture capture_;  // last: its thread ends before what it counts into goes
};

// The server in the peer namespace on `peer`, and the probe talking to it.
struct Talking {
    Child server;
    Child probe;
    ProbePorts ports;  // zero where the server or the probe could not start
};

Talking StartTalking(const std::string& peer) {
    Child server = Spawn({"--serve", peer}, true);
    const bool ready = server.Line() == "ready";
    Child probe = ready ? Spawn({"--probe", peer}) : Child{};
    const ProbePorts ports = ready ? ReadPorts(probe) : ProbePorts{};
    return Talking{std::move(server), std::move(probe), ports};
}

// Owners looked up again soon after a change, as the window's are.
OwnerService::Options Refreshing() {
    OwnerService::Options options;
    options.refreshAfter = std::chrono::milliseconds(100);
    return options;
}

bool Settled(const OwnerService& owners, const ConversationKey& k) {
    return owners.Result(k).state != OwnerState::kPending;
}

// Each found, and the probe's: its name and PID.
void ExpectOwnedByProbe(const OwnerService& owners, std::initializer_list<ConversationKey> keys,
                        pid_t pid) {
    for (const ConversationKey& k : keys) {
        const OwnerInfo o = owners.Result(k);
        EXPECT_EQ(o.state, OwnerState::kFound) << OwnerPhrase(o);
        EXPECT_EQ(o.program, "qvtalkprobe");
        EXPECT_EQ(o.executable, g_self);  // the test binary in a role
        EXPECT_EQ(o.pid, pid);
    }
}

TEST(TalkLive, ConversationsTheirOwnersAndTheirEnd) {
    OwnerService owners(Refreshing());
    Watch watch(&owners);
    ASSERT_TRUE(watch.Opened());
    const uint32_t peer = Addr(g_net->peerAddress);

    Talking talking = StartTalking(g_net->peerAddress);
    ASSERT_TRUE(talking.ports.tcp != 0 && talking.ports.udp != 0);
    Child& probe = talking.probe;
    const uint16_t tcpPort = talking.ports.tcp, udpPort = talking.ports.udp;

    // Every datagram of the UDP exchange, both directions in one conversation.
    ASSERT_TRUE(watch.Until([&] {
        const Conversation* c = watch.Find(kProtocolUdp, udpPort, peer, kServerUdp);
        return c && c->counts.outDatagrams >= kUdpExchanges &&
               c->counts.inDatagrams >= kUdpExchanges;
    }));
    const Conversation udp = *watch.Find(kProtocolUdp, udpPort, peer, kServerUdp);
    EXPECT_EQ(udp.counts.outDatagrams, uint64_t{kUdpExchanges});
    EXPECT_EQ(udp.counts.inDatagrams, uint64_t{kUdpExchanges});
    EXPECT_EQ(udp.counts.outBytes, uint64_t{kUdpExchanges} * (20 + 8 + 4));
    EXPECT_TRUE(udp.localSelected);
    int udpRows = 0;
    for (const Conversation& c : watch.Table().Rows())
        udpRows += c.key.protocol == kProtocolUdp &&
                   (c.key.localPort == udpPort || c.key.remotePort == udpPort);
    EXPECT_EQ(udpRows, 1);
    ASSERT_TRUE(watch.Until([&] { return watch.Find(kProtocolTcp, tcpPort, peer, kServerTcp); }));
    const ConversationKey tcpKey = watch.Find(kProtocolTcp, tcpPort, peer, kServerTcp)->key;

    // Both owned by the probe, by name and PID.
    ASSERT_TRUE(watch.Until([&] { return Settled(owners, udp.key) && Settled(owners, tcpKey); }));
    ExpectOwnedByProbe(owners, {udp.key, tcpKey}, probe.pid);
    for (const ConversationKey& k : {udp.key, tcpKey}) {
        const OwnerInfo o = owners.Result(k);
        EXPECT_EQ(o.user, "root");
        EXPECT_EQ(OwnerPhrase(o), "qvtalkprobe (PID " + std::to_string(probe.pid) + ", 用户 root)");
    }

    // The export names them.
    char dir[] = "/tmp/qvtalkliveXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/talk.csv";
    const auto lines = CollectCsvLines(watch.Table(), &owners, nullptr, false);
    ASSERT_TRUE(WriteWholeFile(path, ConversationsCsv(lines)).ok());
    std::ifstream csv(path);
    std::string line;
    int named = 0;
    while (std::getline(csv, line))
        named +=
            line.find(",qvtalkprobe," + std::to_string(probe.pid) + ",root,") != std::string::npos;
    EXPECT_EQ(named, 2);
    std::remove(path.c_str());
    rmdir(dir);

    // Datagrams that no local socket takes: a UDP datagram to a closed port,
    // and a connection refused with a reset.
    ASSERT_EQ(g_net->RunInPeer(g_self + " --send udp " + g_net->localAddress + " 9"), 0);
    ASSERT_EQ(g_net->RunInPeer(g_self + " --send tcp " + g_net->localAddress + " 81"), 0);
    const auto byLocalPort = [&](uint8_t protocol, uint16_t port) -> const Conversation* {
        for (const Conversation& c : watch.Table().Rows())
            if (c.key.protocol == protocol && c.key.localPort == port)
                return &c;
        return nullptr;
    };
    ASSERT_TRUE(watch.Until([&] {
        const Conversation* u = byLocalPort(kProtocolUdp, 9);
        const Conversation* t = byLocalPort(kProtocolTcp, 81);
        return u && t && Settled(owners, u->key) && Settled(owners, t->key);
    }));
    EXPECT_EQ(owners.Result(byLocalPort(kProtocolUdp, 9)->key).state, OwnerState::kNoSocket);
    const Conversation refused = *byLocalPort(kProtocolTcp, 81);
    EXPECT_EQ(refused.counts.inDatagrams, 1u);   // the SYN
    EXPECT_GE(refused.counts.outDatagrams, 1u);  // the reset
    EXPECT_EQ(owners.Result(refused.key).state, OwnerState::kNoSocket);

    // The probe closes its connection: closed, and whose it was.
    EXPECT_TRUE(probe.Tell("close"));
    ASSERT_EQ(probe.Line(), "closed");
    OwnerLookup lookup;
    const OwnerInfo before = owners.Result(tcpKey);
    OwnerQuery q{tcpKey, true, &before};
    OwnerInfo closed = lookup.Round(std::span(&q, 1))[0];
    EXPECT_EQ(closed.state, OwnerState::kClosed);
    EXPECT_EQ(OwnerPhrase(closed),
              "套接字已关闭 (原属 qvtalkprobe, PID " + std::to_string(probe.pid) + ")");
    const pid_t probePid = probe.pid;
    EXPECT_EQ(probe.End(), 0);

    // Its UDP socket is gone too; what a lookup says depends on what was known.
    const OwnerInfo udpBefore = owners.Result(udp.key);
    OwnerQuery uq[3] = {
        {udp.key, true, &udpBefore}, {udp.key, true, nullptr}, {udp.key, false, nullptr}};
    const auto gone = lookup.Round(uq);
    EXPECT_EQ(gone[0].state, OwnerState::kClosed);
    EXPECT_EQ(gone[0].pid, probePid);
    EXPECT_EQ(gone[1].state, OwnerState::kClosed) << "it sent, so a socket was there";
    EXPECT_EQ(gone[2].state, OwnerState::kNoSocket);

    // Another program takes the port: the next lookup finds the new holder.
    Child holder = Spawn({"--hold", "qvtalkreuse", std::to_string(udpPort), "0"});
    ASSERT_EQ(holder.Line(), "ready");
    ASSERT_TRUE(watch.Until([&] {
        owners.Request(udp.key, true, true);
        return owners.Result(udp.key).program == "qvtalkreuse" &&
               owners.Result(udp.key).state == OwnerState::kFound;
    }));
    EXPECT_EQ(owners.Result(udp.key).pid, holder.pid);
    EXPECT_EQ(owners.Result(udp.key).generation, udpBefore.generation + 1);
    EXPECT_EQ(holder.End(), 0);
    talking.server.Kill();
}

IpAddress Addr6(const std::string& text) {
    IpAddress a;
    ParseIp(text, &a);
    return a;
}

// The same program over IPv6: its TCP connection and UDP exchanges counted
// both ways with IPv6's header, owned by it (sock_diag for AF_INET6), and
// the CSV's address columns in IPv6 text. Then an IPv4 datagram to a
// dual-stack socket: its owner found through the IPv4-mapped address.
TEST(TalkLive, Ipv6ConversationsAndADualStackSocket) {
    std::string why;
    if (!g_net->AddIpv6(&why))
        GTEST_SKIP() << why;
    OwnerService owners(Refreshing());
    Watch watch(&owners);
    ASSERT_TRUE(watch.Opened());
    const IpAddress local = Addr6(g_net->localAddress6);
    const IpAddress peer = Addr6(g_net->peerAddress6);
    ASSERT_TRUE(local.IsIpv6());

    Talking talking = StartTalking(g_net->peerAddress6);
    ASSERT_TRUE(talking.ports.tcp != 0 && talking.ports.udp != 0);
    Child& probe = talking.probe;
    const uint16_t tcpPort = talking.ports.tcp, udpPort = talking.ports.udp;

    ASSERT_TRUE(watch.Until([&] {
        const Conversation* c = watch.Find(kProtocolUdp, local, udpPort, peer, kServerUdp);
        return c && c->counts.outDatagrams >= kUdpExchanges &&
               c->counts.inDatagrams >= kUdpExchanges;
    }));
    const Conversation udp = *watch.Find(kProtocolUdp, local, udpPort, peer, kServerUdp);
    EXPECT_EQ(udp.counts.outDatagrams, uint64_t{kUdpExchanges});
    EXPECT_EQ(udp.counts.inDatagrams, uint64_t{kUdpExchanges});
    EXPECT_EQ(udp.counts.outBytes, uint64_t{kUdpExchanges} * (40 + 8 + 4));
    EXPECT_EQ(udp.counts.inBytes, uint64_t{kUdpExchanges} * (40 + 8 + 4));
    EXPECT_TRUE(udp.localSelected) << "the interface's IPv6 address is local";
    ASSERT_TRUE(watch.Until(
        [&] { return watch.Find(kProtocolTcp, local, tcpPort, peer, kServerTcp) != nullptr; }));
    const ConversationKey tcpKey = watch.Find(kProtocolTcp, local, tcpPort, peer, kServerTcp)->key;

    ASSERT_TRUE(watch.Until([&] { return Settled(owners, udp.key) && Settled(owners, tcpKey); }));
    ExpectOwnedByProbe(owners, {udp.key, tcpKey}, probe.pid);

    const std::string csv =
        ConversationsCsv(CollectCsvLines(watch.Table(), &owners, nullptr, false));
    const std::string udpLine = "UDP," + g_net->localAddress6 + "," + std::to_string(udpPort) +
                                "," + g_net->peerAddress6 + "," + std::to_string(kServerUdp) + ",";
    EXPECT_NE(csv.find(udpLine), std::string::npos) << csv;
    int named = 0;
    for (size_t at = csv.find(",qvtalkprobe," + std::to_string(probe.pid) + ",");
         at != std::string::npos;
         at = csv.find(",qvtalkprobe," + std::to_string(probe.pid) + ",", at + 1))
        ++named;
    EXPECT_EQ(named, 2);
    EXPECT_EQ(probe.End(), 0);

    // IPv4 to a dual-stack IPv6 socket on [::]: the kernel holds the pair as
    // ::ffff:a.b.c.d, and the IPv4 conversation is its.
    constexpr uint16_t kDualPort = 7300;
    Child dual = Spawn({"--hold-dual", "qvtalkdual", std::to_string(kDualPort)});
    ASSERT_EQ(dual.Line(), "ready");
    ASSERT_EQ(g_net->RunInPeer(g_self + " --send udp " + g_net->localAddress + " " +
                               std::to_string(kDualPort)),
              0);
    const Conversation* toDual = nullptr;
    ASSERT_TRUE(watch.Until([&] {
        for (const Conversation& c : watch.Table().Rows())
            if (c.key.protocol == kProtocolUdp && c.key.localPort == kDualPort)
                toDual = &c;
        return toDual && Settled(owners, toDual->key);
    }));
    EXPECT_FALSE(toDual->key.localAddr.IsIpv6());
    const OwnerInfo o = owners.Result(toDual->key);
    EXPECT_EQ(o.state, OwnerState::kFound) << OwnerPhrase(o);
    EXPECT_EQ(o.program, "qvtalkdual");
    EXPECT_EQ(o.pid, dual.pid);
    EXPECT_EQ(dual.End(), 0);
    talking.server.Kill();
}

// A socket of another user: root sees its process; a lookup that may not
// read that process's descriptors names the user and says so.
TEST(TalkLive, AnotherUsersSocket) {
    constexpr uint16_t kPort = 7100;
    Child other = Spawn({"--hold", "qvtalkother", std::to_string(kPort), std::to_string(kNobody)});
    ASSERT_EQ(other.Line(), "ready");
    OwnerQuery q;
    q.key = ConversationKey{kProtocolUdp, Addr(g_net->localAddress), kPort,
                            Addr(g_net->peerAddress), 5000};
    OwnerLookup lookup;
    const OwnerInfo asRoot = lookup.Round(std::span(&q, 1))[0];
    EXPECT_EQ(asRoot.state, OwnerState::kFound);
    EXPECT_EQ(asRoot.program, "qvtalkother");
    EXPECT_EQ(asRoot.pid, other.pid);
    EXPECT_EQ(asRoot.user, "nobody");

    Child stranger = Spawn({"--lookup-as", std::to_string(kStranger), "17", g_net->localAddress,
                            std::to_string(kPort), g_net->peerAddress, "5000"});
    const std::string seen = stranger.Line();
    EXPECT_EQ(stranger.End(), 0);
    EXPECT_EQ(seen, std::to_string(static_cast<int>(OwnerState::kOtherUser)) + " nobody ");
    OwnerInfo o;
    o.state = OwnerState::kOtherUser;
    o.user = "nobody";
    EXPECT_EQ(OwnerPhrase(o), "用户 nobody 的进程 (另一用户)");
    EXPECT_EQ(other.End(), 0);
}

// A connection this host accepted: the server's while open; once it is
// gone (this host closed second, so no TIME_WAIT is left here) it reads as
// closed, not as its listener's.
TEST(TalkLive, AcceptedConnectionEnds) {
    constexpr uint16_t kPort = 7200;
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = SockAddr(Addr(g_net->localAddress), kPort);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(g_net->RunInPeer(g_self + " --send tcp-open " + g_net->localAddress + " " +
                               std::to_string(kPort)),
              0);
    sockaddr_in from{};
    socklen_t n = sizeof from;
    const int accepted = accept(listener, reinterpret_cast<sockaddr*>(&from), &n);
    ASSERT_GE(accepted, 0);
    OwnerQuery q;
    q.key = ConversationKey{kProtocolTcp, Addr(g_net->localAddress), kPort,
                            ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
    OwnerLookup lookup;
    const OwnerInfo open = lookup.Round(std::span(&q, 1))[0];
    EXPECT_EQ(open.state, OwnerState::kFound);
    EXPECT_EQ(open.pid, getpid());
    char rest[8];
    while (read(accepted, rest, sizeof rest) > 0) {
    }
    close(accepted);
    // Until the kernel has let the connection go (LAST_ACK ends with the
    // peer's answer): then only the listener holds the port.
    SockDiag diag;
    SocketEntry e;
    for (int i = 0; i < 3000; ++i) {
        if (diag.FindOwner(kProtocolTcp, q.key.localAddr, kPort, q.key.remoteAddr, q.key.remotePort,
                           &e) == 0 &&
            e.remotePort == 0)
            break;
        usleep(20000);
    }
    ASSERT_EQ(e.remotePort, 0) << "the connection never went";
    q.previous = &open;
    const OwnerInfo closed = lookup.Round(std::span(&q, 1))[0];
    EXPECT_EQ(closed.state, OwnerState::kClosed) << OwnerPhrase(closed);
    EXPECT_EQ(closed.pid, getpid());
    close(listener);
}

// `ip netns exec` puts /etc/netns/NAME/resolv.conf in place of the system's:
// in a namespace of its own, the only resolver is an address of its loopback
// device where a socket takes the queries and never answers them.
TEST(TalkLive, SilentResolverHoldsNothing) {
    const std::string resolver = "10.214." + g_net->Id() + ".53";
    auto ns = Namespace::Make("qvr" + std::to_string(getpid()));
    NamespaceFiles etc(ns ? ns->Name() : std::string("qvr-none"));
    const bool made =
        ns && ns->Ip("addr add " + resolver + "/32 dev lo") &&
        etc.Write("resolv.conf", "nameserver " + resolver + "\noptions timeout:30 attempts:3\n");
    ASSERT_TRUE(made) << "could not make the resolver's namespace";
    const int rc = RunToEnd(
        {g_self, "--silent-resolver", resolver, "10.214." + g_net->Id() + ".77"}, ns->Name());
    EXPECT_EQ(rc, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--serve") == 0)
        return Serve(argv[2], kServerTcp, kServerUdp);
    if (argc == 3 && std::strcmp(argv[1], "--probe") == 0)
        return Probe("qvtalkprobe", argv[2], kServerTcp, kServerUdp, kUdpExchanges);
    if (argc == 5 && std::strcmp(argv[1], "--hold") == 0)
        return Hold(argv[2], static_cast<uint16_t>(std::atoi(argv[3])),
                    static_cast<uint32_t>(std::atoi(argv[4])));
    if (argc == 4 && std::strcmp(argv[1], "--hold-dual") == 0)
        return Hold(argv[2], static_cast<uint16_t>(std::atoi(argv[3])), 0, true);
    if (argc == 8 && std::strcmp(argv[1], "--lookup-as") == 0)
        return LookupAs(static_cast<uint32_t>(std::atoi(argv[2])), argv + 3);
    if (argc == 5 && std::strcmp(argv[1], "--send") == 0)
        return SendTo(argv[2], argv[3], static_cast<uint16_t>(std::atoi(argv[4])));
    if (argc == 4 && std::strcmp(argv[1], "--silent-resolver") == 0)
        return SilentResolver(argv[2], argv[3]);
    return RunInTestNetwork(argv[0], [&] {
        ::testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    });
}
