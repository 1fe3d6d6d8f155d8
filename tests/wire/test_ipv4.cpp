// The IPv4 view against datagrams built field by field, cut anywhere; the
// payload rule and its text; address text; the host's interface addresses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <string_view>
#include <vector>

#include "tests/capture/packet_builder.h"
#include "wire/interfaces.h"
#include "wire/ipv4.h"

namespace {

uint32_t HostOrder(const uint8_t a[4]) {
    return (uint32_t{a[0]} << 24) | (uint32_t{a[1]} << 16) | (uint32_t{a[2]} << 8) | a[3];
}

// Every field reads what was built while its bytes are there and 0 once the
// datagram is cut before them; nothing is read past the cut (each cut is a
// vector of its own size, for the sanitizers).
TEST(Ipv4View, FieldsOfBuiltDatagramsCutAnywhere) {
    std::mt19937 rng(5);
    for (int round = 0; round < 3000; ++round) {
        testpkt::Ip ip;
        for (int i = 0; i < 4; ++i) {
            ip.src[i] = static_cast<uint8_t>(rng());
            ip.dst[i] = static_cast<uint8_t>(rng());
        }
        const uint8_t protocols[] = {kProtocolTcp, kProtocolUdp, 1};
        ip.protocol = protocols[rng() % 3];
        ip.optionWords = static_cast<int>(rng() % 11);
        const auto sport = static_cast<uint16_t>(rng()), dport = static_cast<uint16_t>(rng());
        const auto flags = static_cast<uint8_t>(rng() & 0x3F);
        const std::vector<uint8_t> body(rng() % 40, 'x');
        const int tcpOptions = static_cast<int>(rng() % 4);
        std::vector<uint8_t> whole =
            ip.protocol == kProtocolTcp
                ? testpkt::Datagram(ip, testpkt::Tcp(sport, dport, flags, body, tcpOptions))
            : ip.protocol == kProtocolUdp ? testpkt::Datagram(ip, testpkt::Udp(sport, dport, body))
                                          : testpkt::Datagram(ip, testpkt::IcmpEcho(0, body));
        const uint16_t fragment = rng() % 4 == 0 ? static_cast<uint16_t>(rng() % 0x2000) : 0;
        testpkt::Put16(whole, 6, static_cast<uint16_t>(0x4000 | fragment));
        const size_t h = 20 + 4 * static_cast<size_t>(ip.optionWords);

        const size_t cut = rng() % 2 ? whole.size() : rng() % (whole.size() + 1);
        const std::vector<uint8_t> d(whole.begin(), whole.begin() + static_cast<long>(cut));
        const Ipv4View v(d);
        const auto has = [&](size_t at, size_t n) { return at + n <= cut; };
        ASSERT_EQ(v.Size(), cut);
        EXPECT_EQ(v.HasFixedHeader(), cut >= 20);
        EXPECT_EQ(v.Version(), cut >= 1 ? 4 : 0);
        EXPECT_EQ(v.HeaderLength(), cut >= 1 ? h : 0);
        EXPECT_EQ(v.HeaderComplete(), cut >= h);
        EXPECT_EQ(v.TotalLength(), has(2, 2) ? whole.size() : 0);
        EXPECT_EQ(v.FragmentOffset(), has(6, 2) ? fragment : 0);
        EXPECT_EQ(v.Protocol(), has(9, 1) ? ip.protocol : 0);
        EXPECT_EQ(v.Source(), has(12, 4) ? HostOrder(ip.src) : 0);
        EXPECT_EQ(v.Destination(), has(16, 4) ? HostOrder(ip.dst) : 0);
        if (cut == 0)
            continue;
        const bool ports = ip.protocol != 1 && has(h, 4);
        EXPECT_EQ(v.HasPorts(), has(h, 4));
        EXPECT_EQ(v.SourcePort(), has(h, 2) ? (ip.protocol == 1 ? 0x0800 : sport) : 0);
        if (ports) {
            EXPECT_EQ(v.DestinationPort(), dport);
        }
        if (ip.protocol == kProtocolTcp) {
            EXPECT_EQ(v.TcpFlags(), has(h + 13, 1) ? flags : 0);
            bool ok = false;
            const size_t t = v.TcpHeaderLength(&ok);
            EXPECT_EQ(ok, has(h + 12, 1));
            EXPECT_EQ(t, ok ? 20 + 4 * static_cast<size_t>(tcpOptions) : 0);
        }
        // Whole and past the thresholds, the payload is exactly the body.
        const size_t threshold = ip.protocol == kProtocolTcp ? 40 : 28;
        const PayloadSpan p = v.Payload();
        if (cut == whole.size() && ip.protocol != 1 && cut > threshold) {
            ASSERT_EQ(p.size, body.size());
            EXPECT_EQ(p.offset + p.size, cut);
        } else if (ip.protocol == 1 || cut <= threshold) {
            EXPECT_EQ(p.size, 0u);
        }
    }
}

// Whatever the bytes claim, the payload lies within the datagram and starts
// right behind the headers the datagram names.
TEST(Ipv4View, PayloadOfAnyBytesStaysInside) {
    std::mt19937 rng(3);
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> d(rng() % 100);
        for (auto& b : d)
            b = static_cast<uint8_t>(rng());
        if (d.size() > 9 && rng() % 2)
            d[9] = rng() % 2 ? kProtocolTcp : kProtocolUdp;
        const Ipv4View v(d);
        const PayloadSpan p = v.Payload();
        if (p.size == 0)
            continue;
        ASSERT_EQ(p.offset + p.size, d.size()) << round;
        const size_t transport = v.Protocol() == kProtocolTcp ? v.TcpHeaderLength() : 8;
        EXPECT_EQ(p.offset, v.HeaderLength() + transport) << round;
        EXPECT_GT(d.size(), v.Protocol() == kProtocolTcp ? 40u : 28u) << round;
        // The data cell's text: the payload up to its first NUL, inside the
        // payload (the vector has no spare byte past it).
        const std::string_view text =
            PacketBytes(d.data(), static_cast<int>(d.size())).TextUpToNul(p.offset, p.size);
        const auto first = d.begin() + static_cast<std::ptrdiff_t>(p.offset);
        const auto nul = std::find(first, d.end(), 0);
        ASSERT_EQ(text.size(), static_cast<size_t>(nul - first)) << round;
        EXPECT_EQ(static_cast<const void*>(text.data()), static_cast<const void*>(&*first));
    }
    // Bytes not all received give no text.
    const std::vector<uint8_t> few = {'a', 'b', 'c'};
    const PacketBytes bytes(few.data(), static_cast<int>(few.size()));
    EXPECT_EQ(bytes.TextUpToNul(1, 2), "bc");
    EXPECT_TRUE(bytes.TextUpToNul(1, 3).empty());
    EXPECT_TRUE(bytes.TextUpToNul(4, 0).empty());
}

TEST(Ipv4Text, RoundTripAndRefusals) {
    std::mt19937 rng(7);
    for (int i = 0; i < 10000; ++i) {
        const uint32_t a = static_cast<uint32_t>(rng()) >> (rng() % 32);
        uint32_t back = ~a;
        ASSERT_TRUE(ParseIpv4(FormatIpv4(a), &back)) << FormatIpv4(a);
        ASSERT_EQ(back, a);
    }
    uint32_t a = 0;
    ASSERT_TRUE(ParseIpv4("10.213.7.1", &a));
    EXPECT_EQ(a, 0x0AD50701u);
    EXPECT_EQ(FormatIpv4(a), "10.213.7.1");
    EXPECT_TRUE(ParseIpv4("255.255.255.255", &a));
    for (const char* bad : {"", "1.2.3", "1.2.3.4.", "256.1.1.1", "1..2.3", "1.2.3.4 ",
                            "01234.1.1.1", "a.b.c.d", "1.2.3.-4"})
        EXPECT_FALSE(ParseIpv4(bad, &a)) << bad;
}

TEST(Interfaces, LoopbackIsListedWithItsNetmask) {
    int error = -1;
    const auto list = Ipv4InterfaceAddresses(&error);
    EXPECT_EQ(error, 0);
    const auto lo = std::find_if(list.begin(), list.end(),
                                 [](const auto& a) { return a.address == 0x7F000001u; });
    if (lo == list.end())
        GTEST_SKIP() << "no 127.0.0.1 here";
    EXPECT_TRUE(lo->up);
    EXPECT_TRUE(lo->hasNetmask);
    EXPECT_EQ(lo->netmask, 0xFF000000u);
    EXPECT_EQ(DeviceName(lo->name), lo->name);
    EXPECT_EQ(DeviceName("eth0:1"), "eth0");
}

}  // namespace
