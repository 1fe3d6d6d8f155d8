// Names and applications from the traffic, through the capture's tap as the
// capture thread feeds it: DNS answers name the addresses they gave (for the
// local address that asked), a ClientHello and a request name their
// connection, the best name goes first in the CSV with where it came from;
// the tap looks at a conversation's first payloads only, never allocates,
// and the stores stay within their bounds.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "talk/conversation_tap.h"
#include "talk/csv.h"
#include "talk/wire_names.h"
#include "tests/allocation_count.h"
#include "tests/capture/packet_builder.h"
#include "tests/wire/wire_names_builder.h"

namespace {

using wirenames::Bytes;

constexpr uint32_t kLocal = 0x0A000001;   // 10.0.0.1
constexpr uint32_t kOther = 0x0A000002;   // 10.0.0.2, another local host (forwarded)
constexpr uint32_t kServer = 0xC000020A;  // 192.0.2.10
constexpr uint32_t kPlain = 0xC000020B;   // 192.0.2.11
constexpr uint32_t kResolver = 0x0A000035;

void SetIp(uint8_t* out, uint32_t a) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(a >> (24 - 8 * i));
}

Bytes Datagram(uint8_t protocol, uint32_t src, uint16_t sport, uint32_t dst, uint16_t dport,
               const Bytes& payload) {
    testpkt::Ip ip;
    ip.protocol = protocol;
    SetIp(ip.src, src);
    SetIp(ip.dst, dst);
    return testpkt::Datagram(ip, protocol == kProtocolTcp
                                     ? testpkt::Tcp(sport, dport, 0x18, payload)
                                     : testpkt::Udp(sport, dport, payload));
}

Bytes Answer(const std::string& question, uint32_t address) {
    const Bytes a = {static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                     static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    return wirenames::DnsAnswer(question, {{"", 12, 1, a}});
}

ConversationKey Key(uint8_t protocol, uint32_t local, uint16_t lport, uint32_t remote,
                    uint16_t rport) {
    return ConversationKey{protocol, local, lport, remote, rport};
}

// The tap on batch 0, its hand-over read by the names as the interface thread reads it.
struct Feed {
    WireNames names;
    ConversationTable table;
    uint64_t lostSamples = 0;
    ConversationTap tap{[this](const ConversationDeltas& d) {
                            names.Take(d);
                            table.Merge(d);
                            lostSamples += d.LostSamples();
                        },
                        [](std::string_view) { return std::vector<Ipv6Address>{}; }};
    Feed() { tap.Begin("10.0.0.1"); }
    void Send(const std::vector<Bytes>& datagrams) {
        for (const Bytes& d : datagrams)
            tap.Add(0, d, 1);
        tap.Inserted(0);
        tap.Clear(0);
    }
};

TEST(WireNames, AnswersAndHellosNameWhatTheyOpened) {
    Feed f;
    const Bytes hello = wirenames::ClientHello({{0, "TLS.quorvelan.test"}});
    const Bytes get = wirenames::Text("GET / HTTP/1.1\r\nHost: www.quorvelan.test:8080\r\n\r\n");
    const std::vector<Bytes> datagrams = {
        // The question, then its answer for this host and another one's for another host.
        Datagram(kProtocolUdp, kLocal, 40000, kResolver, 53, Bytes(20, 0)),
        Datagram(kProtocolUdp, kResolver, 53, kLocal, 40000, Answer("www.quorvelan.test", kServer)),
        Datagram(kProtocolUdp, kResolver, 53, kOther, 40001, Answer("other.test", kServer)),
        Datagram(kProtocolUdp, kResolver, 53, kLocal, 40000, Answer("plain.test", kPlain)),
        // A TLS connection to the answered address, and HTTP to it.
        Datagram(kProtocolTcp, kLocal, 50000, kServer, 443, hello),
        Datagram(kProtocolTcp, kLocal, 50001, kServer, 8080, get),
        // QUIC, SSH, and a connection that says nothing the tap knows.
        Datagram(kProtocolUdp, kLocal, 50002, kServer, 443, {0xC3, 0, 0, 0, 1, 8, 1, 2}),
        Datagram(kProtocolTcp, kServer, 22, kLocal, 50003, wirenames::Text("SSH-2.0-x\r\n")),
        Datagram(kProtocolTcp, kLocal, 50004, kPlain, 9000, Bytes(100, 'x')),
    };
    const uint64_t before = g_allocations.load();
    for (const Bytes& d : datagrams)
        f.tap.Add(0, d, 1);
    EXPECT_EQ(g_allocations.load() - before, 0u) << "the capture thread's side allocated";
    f.tap.Inserted(0);

    const ConversationKey tls = Key(kProtocolTcp, kLocal, 50000, kServer, 443);
    const ConversationKey http = Key(kProtocolTcp, kLocal, 50001, kServer, 8080);
    const ConversationKey plain = Key(kProtocolTcp, kLocal, 50004, kPlain, 9000);
    struct Want {
        ConversationKey key;
        const char* name;
        NameSource source;
        AppProtocol app;
    } wants[] = {
        {tls, "tls.quorvelan.test", NameSource::kTls, AppProtocol::kTls},
        {http, "www.quorvelan.test", NameSource::kHttp, AppProtocol::kHttp},
        {Key(kProtocolUdp, kLocal, 50002, kServer, 443), "www.quorvelan.test",
         NameSource::kDnsAnswer, AppProtocol::kQuic},
        {Key(kProtocolTcp, kLocal, 50003, kServer, 22), "www.quorvelan.test",
         NameSource::kDnsAnswer, AppProtocol::kSsh},
        {plain, "plain.test", NameSource::kDnsAnswer, AppProtocol::kUnknown},
        // The other host asked the same address by another name.
        {Key(kProtocolTcp, kOther, 50005, kServer, 443), "other.test", NameSource::kDnsAnswer,
         AppProtocol::kUnknown},
        {Key(kProtocolUdp, kLocal, 40000, kResolver, 53), "", NameSource::kNone, AppProtocol::kDns},
    };
    for (const Want& w : wants) {
        const SourcedName n = f.names.Named(w.key);
        EXPECT_EQ(n.name, w.name) << w.name;
        EXPECT_EQ(n.source, w.source) << w.name;
        EXPECT_EQ(f.names.Application(w.key), w.app) << w.name;
    }
    // A third local address never asked: the latest answer for the address.
    EXPECT_EQ(f.names.Answered(0x0A000003, kServer), "other.test");

    // The CSV: the name, where it came from right after it, the application
    // after the window's own columns (then the place, empty here).
    const std::string csv =
        ConversationsCsv(CollectCsvLines(f.table, nullptr, nullptr, false, &f.names));
    std::istringstream lines(csv);
    std::string line;
    std::getline(lines, line);
    EXPECT_NE(line.find(",远端主机,名称来源,程序,"), std::string::npos) << line;
    EXPECT_TRUE(line.ends_with(",最近,应用,国家/地区,网络\r")) << line;
    int checked = 0;
    while (std::getline(lines, line)) {
        if (line.find(",50000,192.0.2.10,443,") != std::string::npos) {
            EXPECT_NE(line.find(",tls.quorvelan.test,TLS,"), std::string::npos) << line;
            EXPECT_TRUE(line.ends_with(",TLS,,\r")) << line;
            ++checked;
        }
        if (line.find(",50004,192.0.2.11,9000,") != std::string::npos) {
            EXPECT_NE(line.find(",plain.test,DNS 应答,"), std::string::npos) << line;
            EXPECT_TRUE(line.ends_with(",,,\r")) << "no application: " << line;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 2);
}

TEST(WireNames, OnlyAConversationsFirstPayloadsAreLookedAt) {
    Feed f;
    const Bytes hello = wirenames::ClientHello({{0, "late.test"}});
    const Bytes early = wirenames::ClientHello({{0, "early.test"}});
    std::vector<Bytes> late;
    for (unsigned i = 0; i < ConversationTap::kPayloadsLooked; ++i)
        late.push_back(Datagram(kProtocolTcp, kLocal, 50000, kServer, 443, Bytes(50, 'x')));
    late.push_back(Datagram(kProtocolTcp, kLocal, 50000, kServer, 443, hello));
    // One datagram short of the bound, then the hello: still looked at.
    std::vector<Bytes> inTime(late.begin() + 1, late.end());
    for (Bytes& d : inTime)
        d[21] = 0x51;  // local port 50001
    f.Send(late);
    f.Send(inTime);
    // Payloads after the first that spoke are not looked at: the first name stays.
    f.Send({Datagram(kProtocolTcp, kLocal, 50002, kServer, 443, early),
            Datagram(kProtocolTcp, kLocal, 50002, kServer, 443, hello)});
    EXPECT_EQ(f.names.Named(Key(kProtocolTcp, kLocal, 50000, kServer, 443)).source,
              NameSource::kNone);
    EXPECT_EQ(f.names.Named(Key(kProtocolTcp, kLocal, 50001, kServer, 443)).name, "late.test");
    EXPECT_EQ(f.names.Named(Key(kProtocolTcp, kLocal, 50002, kServer, 443)).name, "early.test");

    // Every answer is read, however many one socket gets; a batch keeps at most
    // its samples and counts the rest.
    std::vector<Bytes> answers;
    for (uint32_t i = 0; i < ConversationDeltas::kMaxSamples + 10; ++i)
        answers.push_back(Datagram(kProtocolUdp, kResolver, 53, kLocal, 40000,
                                   Answer("h" + std::to_string(i) + ".test", 0xC6336400 + i)));
    f.Send(answers);
    EXPECT_EQ(f.lostSamples, 10u);
    EXPECT_EQ(f.names.Answered(kLocal, 0xC6336400 + 63), "h63.test");
    EXPECT_EQ(f.names.Answered(kLocal, 0xC6336400 + 64), "");
}

// The payload a sample takes ends where the IP length says: an Ethernet
// frame's padding is not part of it, and a length that ends inside the
// headers leaves none.
TEST(WireNames, APayloadEndsWithTheIpLength) {
    Bytes d = Datagram(kProtocolUdp, kLocal, 40000, kServer, 53, wirenames::Text("abc"));
    d.insert(d.end(), 10, 0);
    KeyedDatagram k;
    ASSERT_TRUE(KeyDatagram(d.data(), static_cast<int>(d.size()), kLocal, &k));
    EXPECT_EQ(k.payloadOffset, 28u);
    EXPECT_EQ(k.payloadSize, 3u);
    d[3] = 24;  // total length 24: inside the UDP header
    ASSERT_TRUE(KeyDatagram(d.data(), static_cast<int>(d.size()), kLocal, &k));
    EXPECT_EQ(k.payloadSize, 0u);
}

TEST(WireNames, TheStoresDropTheLeastRecentlyUsed) {
    WireNames names(3, 3);
    ConversationDeltas d;
    const auto answer = [&](uint32_t address, const std::string& name) {
        const Bytes b = Answer(name, address);
        d.AddSample(Key(kProtocolUdp, kLocal, 40000, kResolver, 53), Direction::kIn,
                    AppProtocol::kDns, b);
    };
    answer(1, "a.test");
    answer(2, "b.test");
    answer(3, "c.test");
    names.Take(d);
    d.Clear();
    EXPECT_EQ(names.Answered(kLocal, 1), "a.test");  // used: now the most recent
    answer(4, "d.test");
    names.Take(d);
    EXPECT_EQ(names.AnswersHeld(), 3u);
    EXPECT_EQ(names.Answered(kLocal, 1), "a.test");
    EXPECT_EQ(names.Answered(kLocal, 2), "") << "the least recently used goes first";
    EXPECT_EQ(names.Answered(kLocal, 4), "d.test");
    // An answer that changes a name moves the counter; the same again does not.
    const uint64_t changes = names.Changes();
    names.Take(d);
    EXPECT_EQ(names.Changes(), changes);
    d.Clear();
    answer(4, "e.test");
    names.Take(d);
    EXPECT_GT(names.Changes(), changes);
    EXPECT_EQ(names.Answered(kLocal, 4), "e.test");

    // Hostile samples: cut, empty, nonsense; nothing named, nothing kept beyond the bound.
    d.Clear();
    const Bytes full = Answer("x.test", 9);
    for (size_t cut = 0; cut < full.size(); ++cut)
        d.AddSample(Key(kProtocolUdp, kLocal, 40000, kResolver, 53), Direction::kIn,
                    AppProtocol::kDns, std::span(full.data(), cut));
    names.Take(d);
    EXPECT_EQ(names.Answered(kLocal, 9), "");
    EXPECT_LE(names.ConnectionsHeld(), 3u);
}

}  // namespace
