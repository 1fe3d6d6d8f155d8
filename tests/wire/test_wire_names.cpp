// Names read from the wire: DNS responses (alias chains, cut answers,
// compression pointers that loop or point forward), the TLS ClientHello's
// server name, the HTTP/1 Host header, and the application a payload's first
// bytes show. Each message is shaped as real ones are and also cut at every
// length: nothing is read past the cut and a cut never invents a name.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/wire/wire_names_builder.h"
#include "wire/app_protocol.h"
#include "wire/dns_message.h"
#include "wire/hello_names.h"
#include "wire/ipv4.h"

namespace {

using namespace wirenames;

PacketBytes View(const Bytes& b, size_t size) {
    return PacketBytes(b.data(), static_cast<int>(size));
}
PacketBytes View(const Bytes& b) {
    return View(b, b.size());
}

Bytes V4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return {a, b, c, d};
}

std::vector<std::string> Addresses(const DnsResponse& r) {
    std::vector<std::string> out;
    for (const IpAddress& a : r.addresses)
        out.push_back(FormatIp(a));
    return out;
}

// www.Quorvelan.TEST -> cdn.example.net -> edge.cdn.example.net -> two
// addresses, every later name compressed against an earlier one, as a
// recursive resolver answers; an extra A record of a name outside the chain.
Bytes ChainAnswer() {
    // Offsets: the question's name at 12 ("www.quorvelan.test" takes 20 bytes).
    const int question = 12;
    Bytes aaaa(16, 0);
    aaaa[0] = 0x20;
    aaaa[1] = 0x01;
    aaaa[2] = 0x0d;
    aaaa[3] = 0xb8;
    aaaa[15] = 7;
    // The first record's data puts "cdn.example.net" at 12 + 20 + 4 + 12 = 48.
    const int cdn = 48;
    return DnsAnswer("www.Quorvelan.TEST", {{"", question, 5, NameBytes("cdn.example.net")},
                                            {"", cdn, 5, NameBytes("edge", cdn)},
                                            {"edge", cdn, 1, V4(192, 0, 2, 10)},
                                            {"edge", cdn, 28, aaaa},
                                            {"other.test", -1, 1, V4(198, 51, 100, 1)},
                                            {"edge", cdn, 1, V4(192, 0, 2, 11)}});
}

TEST(DnsResponse, AnAliasChainNamesItsAddressesByTheQuestion) {
    const Bytes m = ChainAnswer();
    DnsResponse r;
    ASSERT_TRUE(ParseDnsResponse(View(m), &r));
    EXPECT_EQ(r.question, "www.quorvelan.test");
    EXPECT_EQ(r.aliases, (std::vector<std::string>{"cdn.example.net", "edge.cdn.example.net"}));
    EXPECT_EQ(Addresses(r), (std::vector<std::string>{"192.0.2.10", "2001:db8::7", "192.0.2.11"}));
    EXPECT_FALSE(r.cut);

    // Over TCP: the same after its length; a length beyond the segment reads as cut.
    Bytes tcp;
    Put16(tcp, static_cast<uint16_t>(m.size()));
    tcp.insert(tcp.end(), m.begin(), m.end());
    DnsResponse t;
    ASSERT_TRUE(ParseDnsResponseOverTcp(View(tcp), &t));
    EXPECT_EQ(Addresses(t), Addresses(r));
    DnsResponse half;
    ASSERT_TRUE(ParseDnsResponseOverTcp(View(tcp, tcp.size() - 20), &half));
    EXPECT_TRUE(half.cut);
    EXPECT_EQ(half.question, "www.quorvelan.test");
    // The length prefix bounds the message: trailing bytes are not read as records.
    tcp.insert(tcp.end(), {0xC0, 0x0C});
    ASSERT_TRUE(ParseDnsResponseOverTcp(View(tcp), &t));
    EXPECT_FALSE(t.cut);
}

// Cut at every length: the question is found once its bytes are there,
// the addresses found are always the first ones of the whole answer.
TEST(DnsResponse, ACutAnswerKeepsTheRecordsThatArrivedWhole) {
    const Bytes m = ChainAnswer();
    DnsResponse whole;
    ASSERT_TRUE(ParseDnsResponse(View(m), &whole));
    const std::vector<std::string> all = Addresses(whole);
    size_t lastCount = 0;
    for (size_t cut = 0; cut < m.size(); ++cut) {
        const Bytes part(m.begin(), m.begin() + static_cast<long>(cut));
        DnsResponse r;
        const bool ok = ParseDnsResponse(View(part), &r);
        EXPECT_EQ(ok, cut >= 12 + 20 + 4) << cut;
        if (!ok)
            continue;
        EXPECT_TRUE(r.cut) << cut;
        const std::vector<std::string> got = Addresses(r);
        ASSERT_LE(got.size(), all.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin())) << cut;
        EXPECT_GE(got.size(), lastCount) << cut;
        lastCount = got.size();
    }
}

TEST(DnsResponse, PointersThatLoopOrLeadForwardEndTheName) {
    const auto owner = [](const Bytes& name) {
        Bytes m = DnsAnswer("a.test", {});
        m[7] = 1;  // one answer, whose owner name follows
        const size_t at = m.size();
        m.insert(m.end(), name.begin(), name.end());
        m.insert(m.end(), {0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 192, 0, 2, 1});
        return std::make_pair(m, at);
    };
    struct Case {
        const char* what;
        Bytes name;  // placed at the answer's offset, 12 + 8 + 4 = 24
        bool reads;
    } cases[] = {
        {"a pointer to the question", {0xC0, 12}, true},
        {"a pointer to itself", {0xC0, 24}, false},
        {"a pointer forward", {0xC0, 40}, false},
        {"a label, then a pointer back to it", {1, 'x', 0xC0, 24}, false},
        {"a pointer into the header", {0xC0, 2}, false},
        {"a pointer past the end", {0xFF, 0xFF}, false},
        {"an extended label type", {0x41, 'x', 0}, false},
        {"a pointer cut in half", {0xC0}, false},
    };
    for (const Case& c : cases) {
        const auto [m, at] = owner(c.name);
        ASSERT_EQ(at, 24u);
        std::string name;
        size_t next = 0;
        EXPECT_EQ(ReadDnsName(View(m), at, &name, &next), c.reads) << c.what;
        DnsResponse r;
        ASSERT_TRUE(ParseDnsResponse(View(m), &r)) << c.what;
        EXPECT_EQ(r.addresses.size(), c.reads ? 1u : 0u) << c.what;
        EXPECT_EQ(r.cut, !c.reads) << c.what;
    }

    // A chain of backward pointers longer than the bound, and the longest allowed.
    for (const int jumps : {16, 17}) {
        Bytes m(12, 0);
        m.insert(m.end(), {1, 'a', 0});  // "a" at 12
        size_t target = 12;
        for (int j = 0; j < jumps; ++j) {
            const size_t here = m.size();
            m.insert(m.end(), {0xC0, static_cast<uint8_t>(target)});
            target = here;
        }
        std::string name;
        size_t next = 0;
        EXPECT_EQ(ReadDnsName(View(m), target, &name, &next), jumps <= 16) << jumps;
    }
    // A name of more than 255 bytes.
    Bytes longName(12, 0);
    for (int i = 0; i < 5; ++i) {
        longName.push_back(63);
        longName.insert(longName.end(), 63, 'x');
    }
    longName.push_back(0);
    std::string name;
    size_t next = 0;
    EXPECT_FALSE(ReadDnsName(View(longName), 12, &name, &next));
}

TEST(DnsResponse, WhatIsNotAnAnswerToOneQuestion) {
    const Bytes query = DnsAnswer("a.test", {}, 0x0100);
    const Bytes notify = DnsAnswer("a.test", {}, 0xA000);  // opcode 4
    Bytes two = DnsAnswer("a.test", {});
    two[5] = 2;
    Bytes odd = DnsAnswer("a.test", {{"", 12, 1, V4(1, 2, 3, 4)}});
    odd[12 + 1] = '*';  // a byte no host name holds
    for (const Bytes* m : std::initializer_list<const Bytes*>{&query, &notify, &two, &odd}) {
        DnsResponse r;
        EXPECT_FALSE(ParseDnsResponse(View(*m), &r));
    }
    // An answer with an error: its question, no address.
    const Bytes missing = DnsAnswer("nx.test", {}, 0x8183);
    DnsResponse r;
    ASSERT_TRUE(ParseDnsResponse(View(missing), &r));
    EXPECT_EQ(r.question, "nx.test");
    EXPECT_TRUE(r.addresses.empty());
    // An alias chain that comes back to the question stops there.
    const Bytes loop = DnsAnswer("a.test", {{"", 12, 5, NameBytes("b.test")},
                                            {"b.test", -1, 5, NameBytes("", 12)},
                                            {"", 12, 1, V4(10, 0, 0, 1)}});
    ASSERT_TRUE(ParseDnsResponse(View(loop), &r));
    EXPECT_EQ(r.aliases, std::vector<std::string>{"b.test"});
    EXPECT_EQ(Addresses(r), std::vector<std::string>{"10.0.0.1"});
}

TEST(TlsServerName, TheFirstHostNameOfTheClientHello) {
    struct Case {
        const char* what;
        Bytes hello;
        const char* name;  // nullptr: none
    } cases[] = {
        {"one name", ClientHello({{0, "tls.quorvelan.test"}}), "tls.quorvelan.test"},
        {"upper case, a final dot", ClientHello({{0, "TLS.Quorvelan.Test."}}),
         "tls.quorvelan.test"},
        {"several names, another type first",
         ClientHello({{7, "ignored"}, {0, "first.test"}, {0, "second.test"}}), "first.test"},
        {"no server_name", ClientHello({}, false), nullptr},
        {"an empty list", ClientHello({}), nullptr},
        {"a name with a space", ClientHello({{0, "a b.test"}}), nullptr},
        {"a name with a NUL", ClientHello({{0, std::string("a\0b.test", 8)}}), nullptr},
    };
    for (const Case& c : cases) {
        std::string name;
        const bool found = ParseTlsServerName(View(c.hello), &name);
        EXPECT_EQ(found, c.name != nullptr) << c.what;
        if (c.name) {
            EXPECT_EQ(name, c.name) << c.what;
        }
    }
    // Not a ClientHello: a ServerHello, an application record, plain text.
    Bytes server = ClientHello({{0, "a.test"}});
    server[5] = 2;
    Bytes data = ClientHello({{0, "a.test"}});
    data[0] = 0x17;
    std::string name;
    EXPECT_FALSE(ParseTlsServerName(View(server), &name));
    EXPECT_FALSE(ParseTlsServerName(View(data), &name));
    EXPECT_FALSE(ParseTlsServerName(View(Text("GET / HTTP/1.1\r\n")), &name));
}

// A ClientHello cut at every length (one that goes on into the next
// segment): the name is found exactly when its whole entry arrived.
TEST(TlsServerName, ACutHelloGivesTheNameOnlyWhole) {
    const Bytes hello = ClientHello({{0, "tls.quorvelan.test"}});
    const std::string text = "tls.quorvelan.test";
    const auto at = std::search(hello.begin(), hello.end(), text.begin(), text.end());
    const size_t nameEnd = static_cast<size_t>(at - hello.begin()) + text.size();
    for (size_t cut = 0; cut <= hello.size(); ++cut) {
        const Bytes part(hello.begin(), hello.begin() + static_cast<long>(cut));
        std::string name;
        const bool found = ParseTlsServerName(View(part), &name);
        EXPECT_EQ(found, cut >= nameEnd) << cut;
        if (found) {
            EXPECT_EQ(name, text);
        }
    }
}

TEST(HttpHost, TheHostHeaderOfARequest) {
    struct Case {
        const char* what;
        const char* head;
        const char* host;  // nullptr: none
    } cases[] = {
        {"plain", "GET / HTTP/1.1\r\nHost: www.quorvelan.test\r\n\r\n", "www.quorvelan.test"},
        {"a port, upper case",
         "GET /x HTTP/1.1\r\nUser-Agent: t\r\nHOST: WWW.Example.COM:8080\r\n\r\n",
         "www.example.com"},
        {"lower-case name, tabs, LF alone", "POST /f HTTP/1.0\nhost:\tapi.test \n\n", "api.test"},
        {"an IPv6 literal with a port", "GET / HTTP/1.1\r\nHost: [2001:DB8::1]:80\r\n\r\n",
         "[2001:db8::1]"},
        {"an IPv6 literal longer than any address",
         "GET / HTTP/1.1\r\nHost: [::::::7::::::::::::3333333333333333333333333333333333333333"
         "3333333333333333333333333333333333333333333333333333333333333333333333333333333333333"
         "3333333333333333333333333333333333333333333333333333333333333333333333333333333333333"
         "33333333333333]\r\n\r\n",
         nullptr},
        {"no Host", "GET / HTTP/1.1\r\nAccept: */*\r\n\r\n", nullptr},
        {"a Host in the body", "POST / HTTP/1.1\r\nContent-Length: 14\r\n\r\nHost: x.test\r\n",
         nullptr},
        {"a port that is not one", "GET / HTTP/1.1\r\nHost: a.test:8x\r\n\r\n", nullptr},
        {"markup in the name", "GET / HTTP/1.1\r\nHost: <b>x</b>\r\n\r\n", nullptr},
        {"a response", "HTTP/1.1 200 OK\r\nHost: a.test\r\n\r\n", nullptr},
        {"HTTP/2's preface", "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n", nullptr},
        {"a lower-case method", "get / HTTP/1.1\r\nHost: a.test\r\n\r\n", nullptr},
        {"a header cut before its line ends", "GET / HTTP/1.1\r\nHost: a.te", nullptr},
        {"Hostname is not Host", "GET / HTTP/1.1\r\nHostname: a.test\r\n\r\n", nullptr},
    };
    for (const Case& c : cases) {
        std::string host;
        const bool found = ParseHttpHost(View(Text(c.head)), &host);
        EXPECT_EQ(found, c.host != nullptr) << c.what;
        if (c.host) {
            EXPECT_EQ(host, c.host) << c.what;
        }
    }
}

TEST(AppProtocol, WhatTheFirstBytesSay) {
    const Bytes dns = ChainAnswer();
    Bytes dnsTcp;
    Put16(dnsTcp, static_cast<uint16_t>(dns.size()));
    dnsTcp.insert(dnsTcp.end(), dns.begin(), dns.end());
    const Bytes hello = ClientHello({{0, "a.test"}});
    Bytes quic = {0xC3, 0, 0, 0, 1, 8, 1, 2, 3, 4, 5, 6, 7, 8};
    Bytes quicDraft = quic;
    quicDraft[4] = 29;
    quicDraft[1] = 0xFF;
    Bytes quicShort = quic;
    quicShort[0] = 0x43;  // a short header says no version
    Bytes negotiation = quic;
    negotiation[4] = 0;  // version 0: negotiation, not a QUIC version
    struct Case {
        const char* what;
        uint8_t protocol;
        uint16_t source, destination;
        Bytes payload;
        AppProtocol app;
    } cases[] = {
        {"DNS over UDP", kProtocolUdp, 53, 40000, dns, AppProtocol::kDns},
        {"DNS over TCP", kProtocolTcp, 53, 40000, dnsTcp, AppProtocol::kDns},
        {"DNS bytes off port 53", kProtocolUdp, 5353, 40000, dns, AppProtocol::kUnknown},
        {"TLS", kProtocolTcp, 40000, 8443, hello, AppProtocol::kTls},
        {"TLS over UDP is not", kProtocolUdp, 40000, 8443, hello, AppProtocol::kUnknown},
        {"QUIC v1", kProtocolUdp, 40000, 443, quic, AppProtocol::kQuic},
        {"QUIC draft", kProtocolUdp, 443, 40000, quicDraft, AppProtocol::kQuic},
        {"QUIC off 443", kProtocolUdp, 40000, 4433, quic, AppProtocol::kUnknown},
        {"a short header", kProtocolUdp, 40000, 443, quicShort, AppProtocol::kUnknown},
        {"version negotiation", kProtocolUdp, 40000, 443, negotiation, AppProtocol::kUnknown},
        {"HTTP request", kProtocolTcp, 40000, 8080, Text("GET / HTTP/1.1\r\n"), AppProtocol::kHttp},
        {"HTTP response", kProtocolTcp, 80, 40000, Text("HTTP/1.1 200 OK\r\n"), AppProtocol::kHttp},
        {"SSH", kProtocolTcp, 22, 40000, Text("SSH-2.0-OpenSSH_9.2p1\r\n"), AppProtocol::kSsh},
        {"SSH 1.99", kProtocolTcp, 40000, 2222, Text("SSH-1.99-x\r\n"), AppProtocol::kSsh},
        {"SSH-1.5 is not spoken", kProtocolTcp, 40000, 22, Text("SSH-1.5-x\r\n"),
         AppProtocol::kUnknown},
        {"nothing", kProtocolTcp, 40000, 80, {}, AppProtocol::kUnknown},
        {"ICMP", 1, 0, 0, hello, AppProtocol::kUnknown},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GuessAppProtocol(c.protocol, c.source, c.destination, View(c.payload)), c.app)
            << c.what;
        // One byte fewer than a signature never reads past the payload.
        if (!c.payload.empty())
            GuessAppProtocol(c.protocol, c.source, c.destination,
                             View(c.payload, c.payload.size() - 1));
    }
}

}  // namespace
