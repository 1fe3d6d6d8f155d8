// The IPv6 view against datagrams built with extension chains, cut anywhere;
// hostile chains; address text against inet_pton/inet_ntop's rules; the
// order and text of addresses of both families.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/capture/packet_builder.h"
#include "wire/interfaces.h"
#include "wire/ip_address.h"
#include "wire/ipv6.h"

namespace {

// Every field reads what was built while its bytes are there, the chain is
// walked exactly when all of it was received, ports only in a first
// fragment; nothing is read past the cut (each cut a vector of its own size).
TEST(Ipv6View, ChainsOfBuiltDatagramsCutAnywhere) {
    std::mt19937 rng(6);
    const uint8_t kinds[] = {kIpv6HopByHop, kIpv6Routing, kIpv6DestinationOptions, kIpv6Fragment,
                             kIpv6Auth};
    for (int round = 0; round < 4000; ++round) {
        testpkt::Ip6 ip;
        for (auto& b : ip.src)
            b = static_cast<uint8_t>(rng());
        for (auto& b : ip.dst)
            b = static_cast<uint8_t>(rng());
        const uint8_t protocols[] = {kProtocolTcp, kProtocolUdp, 58};
        ip.protocol = protocols[rng() % 3];
        std::vector<testpkt::Ext6> chain;
        const int headers = static_cast<int>(rng() % 5);
        bool later = false;
        size_t chainEnd = 40;
        for (int i = 0; i < headers; ++i) {
            testpkt::Ext6 e;
            // Hop-by-hop only first, as senders put it.
            e.type = kinds[i == 0 ? rng() % 5 : 1 + rng() % 4];
            e.units = static_cast<uint8_t>(rng() % 4);
            if (e.type == kIpv6Fragment) {
                e.fragmentOffset = rng() % 3 == 0 ? static_cast<uint16_t>(1 + rng() % 100) : 0;
                later = later || e.fragmentOffset != 0;
            }
            chain.push_back(e);
            chainEnd += testpkt::Ext6Size(e);
            if (later)
                break;  // nothing behind a later fragment is a header
        }
        const auto sport = static_cast<uint16_t>(rng()), dport = static_cast<uint16_t>(rng());
        const std::vector<uint8_t> body(rng() % 30, 'y');
        const std::vector<uint8_t> transport =
            ip.protocol == kProtocolTcp
                ? testpkt::Tcp(sport, dport, 0x18, body, static_cast<int>(rng() % 3))
            : ip.protocol == kProtocolUdp ? testpkt::Udp(sport, dport, body)
                                          : testpkt::IcmpEcho(0, body);
        const std::vector<uint8_t> whole = testpkt::Datagram6(ip, transport, chain);

        const size_t cut = rng() % 2 ? whole.size() : rng() % (whole.size() + 1);
        const std::vector<uint8_t> d(whole.begin(), whole.begin() + static_cast<long>(cut));
        const Ipv6View v(d);
        ASSERT_EQ(v.Size(), cut);
        EXPECT_EQ(v.HasFixedHeader(), cut >= 40);
        EXPECT_EQ(v.Version(), cut >= 1 ? 6 : 0);
        EXPECT_EQ(v.PayloadLength(), cut >= 6 ? whole.size() - 40 : 0);
        EXPECT_EQ(v.ClaimedLength(), cut >= 6 ? whole.size() : 0);
        EXPECT_EQ(v.Source(), cut >= 24 ? ip.src : Ipv6Address{});
        EXPECT_EQ(v.Destination(), cut >= 40 ? ip.dst : Ipv6Address{});
        const bool walked = cut >= chainEnd;
        ASSERT_EQ(v.Walked(), walked) << round;
        if (!walked) {
            EXPECT_FALSE(v.HasPorts());
            EXPECT_EQ(v.Payload().size, 0u);
            continue;
        }
        EXPECT_EQ(v.Protocol(), ip.protocol);
        EXPECT_EQ(v.TransportOffset(), chainEnd);
        EXPECT_EQ(v.FirstFragment(), !later);
        const bool ports = !later && ip.protocol != 58 && cut >= chainEnd + 4;
        ASSERT_EQ(v.HasPorts(), ports);
        EXPECT_EQ(v.SourcePort(), ports ? sport : 0);
        EXPECT_EQ(v.DestinationPort(), ports ? dport : 0);
        const PayloadSpan p = v.Payload();
        const size_t transportHeader =
            ip.protocol == kProtocolUdp ? 8 : transport.size() - body.size();
        if (ports && cut >= chainEnd + transportHeader &&
            (ip.protocol == kProtocolUdp || cut >= chainEnd + 13)) {
            EXPECT_EQ(p.offset, chainEnd + transportHeader);
            EXPECT_EQ(p.size, cut - p.offset);
        } else {
            EXPECT_EQ(p.size, 0u);
        }
    }
}

// Chains no sender makes: each stops the walk, inside the received bytes.
TEST(Ipv6View, HostileChainsStopTheWalk) {
    const testpkt::Ip6 ip;
    const std::vector<uint8_t> udp = testpkt::Udp(5000, 53);
    // Longer than any sender needs.
    std::vector<testpkt::Ext6> many(Ipv6View::kMaxExtensionHeaders + 1, testpkt::Ext6{60, 0, 0});
    EXPECT_FALSE(Ipv6View(testpkt::Datagram6(ip, udp, many)).Walked());
    many.pop_back();
    EXPECT_TRUE(Ipv6View(testpkt::Datagram6(ip, udp, many)).HasPorts());
    // Hop-by-hop anywhere but first.
    EXPECT_FALSE(Ipv6View(testpkt::Datagram6(ip, udp, {{60, 0, 0}, {0, 0, 0}})).Walked());
    // A header that claims more than the datagram holds (2 KB of options).
    std::vector<uint8_t> d = testpkt::Datagram6(ip, udp, {{43, 0, 0}});
    d[41] = 255;
    EXPECT_FALSE(Ipv6View(d).Walked());
    // Each header naming another as the next, as far as the datagram goes:
    // bounded by the count, not the length.
    std::vector<uint8_t> filler(8 * 40, 0);
    for (size_t i = 0; i < filler.size(); i += 8)
        filler[i] = kIpv6DestinationOptions;
    testpkt::Ip6 looping;
    looping.protocol = kIpv6DestinationOptions;
    EXPECT_FALSE(Ipv6View(testpkt::Datagram6(looping, filler, {{60, 0, 0}})).Walked());
    // Not version 6, or no fixed header: nothing walked, nothing read.
    d = testpkt::Datagram6(ip, udp);
    d[0] = 0x40;
    EXPECT_FALSE(Ipv6View(d).Walked());
    EXPECT_FALSE(Ipv6View(std::vector<uint8_t>(39, 0x60)).Walked());
    // No next header: walked, no ports.
    d = testpkt::Datagram6(ip, {});
    d[6] = kIpv6NoNextHeader;
    const Ipv6View none(d);
    EXPECT_TRUE(none.Walked());
    EXPECT_EQ(none.Protocol(), kIpv6NoNextHeader);
    EXPECT_FALSE(none.HasPorts());
}

// Text as inet_ntop writes it (RFC 5952) and as inet_pton reads it.
TEST(Ipv6Text, KnownFormsAndRoundTrips) {
    const std::pair<const char*, const char*> forms[] = {
        {"2001:0db8:0000:0000:0000:0000:0002:0001", "2001:db8::2:1"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},
        {"2001:DB8::A", "2001:db8::a"},
        {"::", "::"},
        {"::1", "::1"},
        {"fe80::", "fe80::"},
        {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
    };
    for (const auto& [in, out] : forms) {
        Ipv6Address a{};
        ASSERT_TRUE(ParseIpv6(in, &a)) << in;
        EXPECT_EQ(FormatIpv6(a), out);
    }
    EXPECT_TRUE(IsIpv4Mapped(
        IpAddress::FromIpv6({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 1, 2, 3, 4}).v6));
    for (const char* bad :
         {"", "1::2::3", "12345::", "::1%eth0", " ::1", "::1 ", "2001:db8::g", "1.2.3.4", ":",
          "1:2:3:4:5:6:7:8:9", "0000:0000:0000:0000:0000:0000:0000:0000:0"}) {
        Ipv6Address a{};
        EXPECT_FALSE(ParseIpv6(bad, &a)) << bad;
    }
    Ipv6Address untouched{};
    EXPECT_FALSE(ParseIpv6(std::string_view("::1\0", 4), &untouched)) << "a NUL inside";
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        Ipv6Address a{};
        // Runs of zero words, so that every compression is tried.
        for (size_t w = 0; w < 8; ++w) {
            const uint16_t word = rng() % 3 == 0 ? 0 : static_cast<uint16_t>(rng());
            a[2 * w] = static_cast<uint8_t>(word >> 8);
            a[2 * w + 1] = static_cast<uint8_t>(word);
        }
        const std::string text = FormatIpv6(a);
        Ipv6Address back{};
        ASSERT_TRUE(ParseIpv6(text, &back)) << text;
        EXPECT_EQ(back, a) << text;
        EXPECT_EQ(text.find(":::"), std::string::npos);
        EXPECT_LE(std::count(text.begin(), text.end(), ':'), 7);
    }
}

// Both families through one type: text, the address of a dual-stack socket,
// and the order an address column sorts in.
TEST(IpAddress, TextUnmappingAndOrder) {
    IpAddress a;
    ASSERT_TRUE(ParseIp("192.0.2.7", &a));
    EXPECT_FALSE(a.IsIpv6());
    EXPECT_EQ(a, IpAddress(0xC0000207u));
    EXPECT_EQ(FormatIp(a), "192.0.2.7");
    ASSERT_TRUE(ParseIp("2001:db8::7", &a));
    EXPECT_TRUE(a.IsIpv6());
    EXPECT_EQ(FormatIp(a), "2001:db8::7");
    EXPECT_FALSE(ParseIp("192.0.2", &a));
    EXPECT_FALSE(ParseIp("2001:db8::7/64", &a));

    Ipv6Address mapped{};
    ASSERT_TRUE(ParseIpv6("::ffff:192.0.2.7", &mapped));
    EXPECT_EQ(IpAddress::Unmapped(mapped), IpAddress(0xC0000207u));
    Ipv6Address any{};
    EXPECT_TRUE(IpAddress::Unmapped(any).IsIpv6());
    EXPECT_TRUE(IpAddress::Unmapped(any).IsUnspecified());
    EXPECT_TRUE(IpAddress(0u).IsUnspecified());
    EXPECT_NE(IpAddress(0u), IpAddress::FromIpv6(any)) << "0.0.0.0 is not ::";

    // Sorted: IPv4 by number, then IPv6 by number; a strict total order.
    std::vector<std::string> texts = {"2001:db8::10",    "10.0.0.2",    "::1",
                                      "255.255.255.255", "2001:db8::9", "0.0.0.0",
                                      "fe80::1",         "10.0.0.10",   "::ffff:10.0.0.1"};
    std::vector<IpAddress> addresses;
    for (const std::string& t : texts) {
        ASSERT_TRUE(ParseIp(t, &a)) << t;
        addresses.push_back(a);
    }
    std::sort(addresses.begin(), addresses.end(),
              [](const IpAddress& x, const IpAddress& y) { return CompareIp(x, y) < 0; });
    std::vector<std::string> sorted;
    for (const IpAddress& x : addresses)
        sorted.push_back(FormatIp(x));
    EXPECT_EQ(sorted, (std::vector<std::string>{"0.0.0.0", "10.0.0.2", "10.0.0.10",
                                                "255.255.255.255", "::1", "::ffff:10.0.0.1",
                                                "2001:db8::9", "2001:db8::10", "fe80::1"}));
    for (const IpAddress& x : addresses) {
        EXPECT_TRUE(CompareIp(x, x) == 0);
        EXPECT_EQ(HashIp(x, 1), HashIp(x, 1));
    }
}

// The loopback device holds ::1 wherever IPv6 is on; a device that does not
// exist holds nothing, and an IPv4 address no interface holds has no IPv6
// beside it.
TEST(Interfaces, Ipv6AddressesOfADevice) {
    Ipv6Address loopback{};
    loopback[15] = 1;
    const std::vector<Ipv6Address> lo = Ipv6AddressesOf("lo");
    if (!lo.empty()) {
        EXPECT_NE(std::find(lo.begin(), lo.end(), loopback), lo.end());
    }
    EXPECT_TRUE(Ipv6AddressesOf("qv-no-such-device").empty());
    EXPECT_TRUE(Ipv6AddressesBeside("192.0.2.254").empty());
    EXPECT_TRUE(Ipv6AddressesBeside("not an address").empty());
    EXPECT_EQ(Ipv6AddressesBeside("127.0.0.1"), lo);
}

}  // namespace
