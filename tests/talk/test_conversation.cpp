// Conversations from datagram bytes: keys, the capture thread's per-batch
// counts, the interface thread's table and the per-second rates.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <random>
#include <span>
#include <tuple>

#include "talk/conversation.h"
#include "talk/rate_history.h"
#include "tests/allocation_count.h"
#include "tests/capture/packet_builder.h"

namespace {

constexpr int64_t kSecond = 1000000000;

struct Endpoint {
    uint32_t addr;
    uint16_t port;
};

std::vector<uint8_t> Make(uint8_t protocol, Endpoint src, Endpoint dst, size_t payload = 0) {
    testpkt::Ip ip;
    ip.protocol = protocol;
    for (int i = 0; i < 4; ++i) {
        ip.src[i] = static_cast<uint8_t>(src.addr >> (24 - 8 * i));
        ip.dst[i] = static_cast<uint8_t>(dst.addr >> (24 - 8 * i));
    }
    const std::vector<uint8_t> body(payload, 'x');
    if (protocol == kProtocolTcp)
        return testpkt::Datagram(ip, testpkt::Tcp(src.port, dst.port, 0x10, body));
    if (protocol == kProtocolUdp)
        return testpkt::Datagram(ip, testpkt::Udp(src.port, dst.port, body));
    return testpkt::Datagram(ip, testpkt::IcmpEcho(0, body));
}

KeyedDatagram Key(const std::vector<uint8_t>& d, uint32_t selected) {
    KeyedDatagram k;
    EXPECT_TRUE(KeyDatagram(d.data(), static_cast<int>(d.size()), selected, &k));
    return k;
}

// Both directions of every exchange give one key and opposite directions;
// the selected address is the local side whenever exactly one side has it,
// and otherwise the rule puts the higher port (then the lower address) local.
TEST(ConversationKey, BothDirectionsShareOneKey) {
    std::mt19937 rng(7);
    const uint32_t selected = 0x0A000001;
    const uint8_t protocols[] = {kProtocolTcp, kProtocolUdp, 1};
    for (int i = 0; i < 5000; ++i) {
        // Small pools so that equal ports and equal addresses come up often.
        const auto addr = [&] {
            return rng() % 3 == 0 ? selected : 0x0A000000u + static_cast<uint32_t>(rng() % 4);
        };
        const Endpoint a{addr(), static_cast<uint16_t>(rng() % 4 * 20000)};
        const Endpoint b{addr(), static_cast<uint16_t>(rng() % 4 * 20000)};
        const uint8_t proto = protocols[rng() % 3];
        for (const uint32_t sel : {selected, 0u}) {
            const KeyedDatagram there = Key(Make(proto, a, b, rng() % 50), sel);
            const KeyedDatagram back = Key(Make(proto, b, a), sel);
            ASSERT_EQ(there.key, back.key) << i;
            ASSERT_EQ(there.key.protocol, proto);
            const bool toItself = a.addr == b.addr && (proto == 1 || a.port == b.port);
            if (!toItself) {
                ASSERT_NE(there.direction, back.direction) << i;
            }
            const bool oneSelected = sel != 0 && (a.addr == sel) != (b.addr == sel);
            ASSERT_EQ(there.localSelected, oneSelected);
            if (oneSelected) {
                ASSERT_EQ(there.key.localAddr, sel);
                ASSERT_EQ(there.direction, a.addr == sel ? Direction::kOut : Direction::kIn);
            } else if (proto != 1 && a.port != b.port) {
                ASSERT_EQ(there.key.localPort, std::max(a.port, b.port));
            } else {
                ASSERT_EQ(there.key.localAddr, std::min(a.addr, b.addr));
            }
            if (proto == 1) {
                ASSERT_EQ(there.key.localPort, 0);
                ASSERT_EQ(there.key.remotePort, 0);
            }
        }
    }
}

// The same over IPv6, the interface's addresses being the local ones; at
// equal ports the lower address is the lower in byte order, as the address
// column sorts.
TEST(ConversationKey, BothDirectionsShareOneKeyOverIpv6) {
    const Ipv6Address pool[] = {
        {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
        {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0},
        {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
    };
    const Ipv6Address mine[] = {pool[1]};
    std::mt19937 rng(11);
    const uint8_t protocols[] = {kProtocolTcp, kProtocolUdp, 58};
    for (int i = 0; i < 3000; ++i) {
        const Ipv6Address& a = pool[rng() % 4];
        const Ipv6Address& b = pool[rng() % 4];
        const auto aPort = static_cast<uint16_t>(rng() % 3 * 20000);
        const auto bPort = static_cast<uint16_t>(rng() % 3 * 20000);
        const uint8_t proto = protocols[rng() % 3];
        auto make = [&](const Ipv6Address& src, uint16_t sp, const Ipv6Address& dst, uint16_t dp) {
            testpkt::Ip6 ip;
            ip.src = src;
            ip.dst = dst;
            ip.protocol = proto;
            const std::vector<uint8_t> body(rng() % 20, 'x');
            return testpkt::Datagram6(ip, proto == kProtocolTcp   ? testpkt::Tcp(sp, dp, 0x10, body)
                                          : proto == kProtocolUdp ? testpkt::Udp(sp, dp, body)
                                                                  : testpkt::IcmpEcho(0, body));
        };
        const auto there = make(a, aPort, b, bPort), back = make(b, bPort, a, aPort);
        for (const std::span<const Ipv6Address> local :
             {std::span<const Ipv6Address>(mine), std::span<const Ipv6Address>()}) {
            KeyedDatagram k1, k2;
            ASSERT_TRUE(KeyDatagram(there.data(), static_cast<int>(there.size()),
                                    LocalAddresses{0x0A000001, local}, &k1));
            ASSERT_TRUE(KeyDatagram(back.data(), static_cast<int>(back.size()),
                                    LocalAddresses{0x0A000001, local}, &k2));
            ASSERT_EQ(k1.key, k2.key) << i;
            ASSERT_TRUE(k1.key.localAddr.IsIpv6() && k1.key.remoteAddr.IsIpv6());
            ASSERT_EQ(k1.bytes, there.size());
            const bool ported = proto != 58;
            const bool oneLocal = !local.empty() && (a == mine[0]) != (b == mine[0]);
            ASSERT_EQ(k1.localSelected, oneLocal);
            if (oneLocal) {
                ASSERT_EQ(k1.key.localAddr.v6, mine[0]);
                ASSERT_EQ(k1.direction, a == mine[0] ? Direction::kOut : Direction::kIn);
            } else if (ported && aPort != bPort) {
                ASSERT_EQ(k1.key.localPort, std::max(aPort, bPort));
            } else {
                ASSERT_EQ(k1.key.localAddr.v6, std::min(a, b));
            }
            if (!(a == b && (!ported || aPort == bPort))) {
                ASSERT_NE(k1.direction, k2.direction) << i;
            }
            if (!ported) {
                ASSERT_EQ(k1.key.localPort, 0);
                ASSERT_EQ(k1.key.remotePort, 0);
            }
        }
    }
}

// Every cut of a datagram, and malformed headers, are read within their
// bytes: no key until the ports are all there, the same key after.
TEST(ConversationKey, ShortAndMalformedDatagrams) {
    const Endpoint local{0x0A000001, 5353}, remote{0x0A000002, 53};
    for (const uint8_t proto : {kProtocolTcp, kProtocolUdp, uint8_t{1}}) {
        const std::vector<uint8_t> whole = Make(proto, local, remote, 10);
        const KeyedDatagram full = Key(whole, local.addr);
        EXPECT_EQ(full.bytes, whole.size());
        const size_t needed = proto == 1 ? 20 : 24;
        for (size_t n = 0; n <= whole.size(); ++n) {
            // A copy of exactly n bytes, so that AddressSanitizer sees any read past them.
            std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(n));
            KeyedDatagram k;
            const bool ok = KeyDatagram(cut.data(), static_cast<int>(n), local.addr, &k);
            ASSERT_EQ(ok, n >= needed) << n;
            if (ok) {
                ASSERT_EQ(k.key, full.key);
                ASSERT_EQ(k.bytes, whole.size()) << "the header's length, not the bytes received";
            }
        }
    }
    std::vector<uint8_t> d = Make(kProtocolUdp, local, remote);
    KeyedDatagram k;
    EXPECT_FALSE(KeyDatagram(d.data(), -1, 0, &k));
    auto bad = d;
    bad[0] = 0x65;  // IPv6 version
    EXPECT_FALSE(KeyDatagram(bad.data(), static_cast<int>(bad.size()), 0, &k));
    bad = d;
    bad[0] = 0x44;  // header length 16 bytes
    EXPECT_FALSE(KeyDatagram(bad.data(), static_cast<int>(bad.size()), 0, &k));
    bad = d;
    bad[0] = 0x4F;  // 60-byte header in a 28-byte datagram
    EXPECT_FALSE(KeyDatagram(bad.data(), static_cast<int>(bad.size()), 0, &k));
    // A later fragment: what follows the header is not a UDP header.
    bad = d;
    bad[7] = 0x10;
    ASSERT_TRUE(KeyDatagram(bad.data(), static_cast<int>(bad.size()), local.addr, &k));
    EXPECT_EQ(k.key.localPort, 0);
    EXPECT_EQ(k.key.remotePort, 0);
    EXPECT_EQ(k.key.protocol, kProtocolUdp);
    // A total length smaller than the header counts what was received.
    bad = d;
    bad[2] = 0;
    bad[3] = 4;
    ASSERT_TRUE(KeyDatagram(bad.data(), static_cast<int>(bad.size()), local.addr, &k));
    EXPECT_EQ(k.bytes, bad.size());
}

struct Truth {
    ConversationCounts counts;
    int order = 0;  // first appearance
};

// A stream over many conversations, handed over in batches of random size as
// the capture thread does (and early when asked to): the table ends with
// exactly the counts of the stream, every conversation reported new exactly
// once, and counting allocates nothing once the deltas exist.
TEST(ConversationTable, MergedBatchesEqualTheStream) {
    std::mt19937 rng(11);
    const uint32_t selected = 0xC0A80001;
    std::vector<std::pair<Endpoint, uint8_t>> remotes;
    for (int i = 0; i < 300; ++i)
        remotes.push_back({Endpoint{0x08080000u + static_cast<uint32_t>(rng() % 50),
                                    static_cast<uint16_t>(1 + rng() % 3)},
                           static_cast<uint8_t>(i % 3 == 0 ? kProtocolUdp : kProtocolTcp)});
    std::vector<std::vector<uint8_t>> stream;
    std::vector<int64_t> times;
    int64_t now = 1700000000 * kSecond;
    for (int i = 0; i < 20000; ++i) {
        const auto& [remote, proto] = remotes[rng() % remotes.size()];
        const Endpoint local{selected, static_cast<uint16_t>(40000 + remote.port)};
        const bool out = rng() % 2;
        stream.push_back(Make(proto, out ? local : remote, out ? remote : local, rng() % 100));
        now += static_cast<int64_t>(rng() % 2000000);  // up to 2 ms apart
        times.push_back(now);
    }
    // Ground truth, kept the simple way.
    std::map<std::tuple<uint8_t, uint32_t, uint16_t, uint32_t, uint16_t>, Truth> truth;
    std::map<int64_t, SecondCounts> perSecond;
    for (size_t i = 0; i < stream.size(); ++i) {
        const KeyedDatagram k = Key(stream[i], selected);
        auto [it, inserted] =
            truth.try_emplace(std::make_tuple(k.key.protocol, k.key.localAddr.v4, k.key.localPort,
                                              k.key.remoteAddr.v4, k.key.remotePort));
        if (inserted)
            it->second.order = static_cast<int>(truth.size());
        it->second.counts.Add(k.direction, k.bytes, times[i]);
        SecondCounts& s = perSecond[times[i] / kSecond];
        (k.direction == Direction::kIn ? s.inDatagrams : s.outDatagrams) += 1;
        (k.direction == Direction::kIn ? s.inBytes : s.outBytes) += k.bytes;
    }

    ConversationDeltas deltas(64, 8);
    ConversationTable table;
    RateHistory rates;
    std::map<std::tuple<uint8_t, uint32_t, uint16_t, uint32_t, uint16_t>, int> reported;
    const auto handOver = [&] {
        const MergeReport r = table.Merge(deltas);
        rates.Add(deltas);
        for (const ConversationKey& k : r.added)
            ++reported[std::make_tuple(k.protocol, k.localAddr.v4, k.localPort, k.remoteAddr.v4,
                                       k.remotePort)];
        EXPECT_EQ(r.active.size(), deltas.Entries().size());
        EXPECT_EQ(r.dropped, 0u);
        deltas.Clear();
    };
    uint64_t allocations = 0;
    size_t next = 0;
    while (next < stream.size()) {
        const size_t batch = 1 + rng() % 400;
        const uint64_t before = g_allocations.load();
        for (size_t i = 0; i < batch && next < stream.size() && !deltas.HandOverDue(); ++i, ++next)
            deltas.AddDatagram(stream[next].data(), static_cast<int>(stream[next].size()), selected,
                               times[next]);
        allocations += g_allocations.load() - before;
        EXPECT_EQ(deltas.LostDatagrams(), 0u);
        EXPECT_EQ(deltas.LostRateDatagrams(), 0u);
        handOver();
    }
    EXPECT_EQ(allocations, 0u);
    ASSERT_EQ(table.Size(), truth.size());
    EXPECT_EQ(table.LostDatagrams(), 0u);
    EXPECT_EQ(table.Unkeyed(), 0u);
    uint64_t lastId = 0;
    for (const Conversation& c : table.Rows()) {
        const auto key = std::make_tuple(c.key.protocol, c.key.localAddr.v4, c.key.localPort,
                                         c.key.remoteAddr.v4, c.key.remotePort);
        const auto it = truth.find(key);
        ASSERT_NE(it, truth.end());
        const ConversationCounts& want = it->second.counts;
        EXPECT_EQ(c.counts.inDatagrams, want.inDatagrams);
        EXPECT_EQ(c.counts.inBytes, want.inBytes);
        EXPECT_EQ(c.counts.outDatagrams, want.outDatagrams);
        EXPECT_EQ(c.counts.outBytes, want.outBytes);
        EXPECT_EQ(c.counts.firstNs, want.firstNs);
        EXPECT_EQ(c.counts.lastNs, want.lastNs);
        EXPECT_TRUE(c.localSelected);
        EXPECT_EQ(reported[key], 1);
        EXPECT_GT(c.id, lastId) << "rows keep the order they came in";
        lastId = c.id;
        EXPECT_EQ(table.IndexOfId(c.id), &c - table.Rows().data());
    }
    // Every second of the stream, as the ring holds the last 300 of them.
    const std::vector<SecondCounts> series = rates.Series(rates.NewestSecond());
    ASSERT_EQ(series.size(), 300u);
    EXPECT_EQ(series.back().second, perSecond.rbegin()->first);
    for (const SecondCounts& s : series) {
        const auto it = perSecond.find(s.second);
        const SecondCounts want = it == perSecond.end() ? SecondCounts{} : it->second;
        EXPECT_EQ(s.inDatagrams, want.inDatagrams) << s.second;
        EXPECT_EQ(s.outDatagrams, want.outDatagrams) << s.second;
        EXPECT_EQ(s.inBytes, want.inBytes) << s.second;
        EXPECT_EQ(s.outBytes, want.outBytes) << s.second;
    }
}

// A batch that finds its map (or its seconds) full counts the rest as lost
// instead of dropping it silently; clearing makes room again.
TEST(ConversationTable, FullDeltasCountWhatTheyCannotHold) {
    ConversationDeltas deltas(4, 2);
    const uint32_t local = 0x0A000001;
    uint64_t bytes = 0;
    for (int i = 0; i < 10; ++i) {
        const auto d = Make(kProtocolUdp, {local, 1000}, {0x0A000002, static_cast<uint16_t>(i)});
        bytes += d.size();
        deltas.AddDatagram(d.data(), static_cast<int>(d.size()), local, (i % 3) * kSecond);
        EXPECT_EQ(deltas.HandOverDue(), i >= 1) << i;
    }
    const uint8_t junk[10] = {0x45};
    EXPECT_FALSE(deltas.AddDatagram(junk, sizeof junk, local, 0));
    EXPECT_EQ(deltas.Entries().size(), 4u);
    EXPECT_EQ(deltas.LostDatagrams(), 6u);
    uint64_t held = 0;
    for (const auto& e : deltas.Entries())
        held += e.counts.outBytes;
    EXPECT_EQ(held + deltas.LostBytes(), bytes);
    EXPECT_EQ(deltas.Seconds().size(), 2u);
    EXPECT_EQ(deltas.LostRateDatagrams(), 3u);  // those of the third second
    EXPECT_EQ(deltas.Unkeyed(), 1u);

    ConversationTable table;
    RateHistory rates;
    table.Merge(deltas);
    rates.Add(deltas);
    EXPECT_EQ(table.LostDatagrams(), 6u);
    EXPECT_EQ(table.Unkeyed(), 1u);
    EXPECT_EQ(rates.Lost(), 3u);
    deltas.Clear();
    EXPECT_TRUE(deltas.Empty());
    EXPECT_FALSE(deltas.HandOverDue());
    const auto d = Make(kProtocolUdp, {local, 1000}, {0x0A000002, 9});
    deltas.AddDatagram(d.data(), static_cast<int>(d.size()), local, 0);
    EXPECT_EQ(deltas.Entries().size(), 1u);
    EXPECT_EQ(deltas.Entries()[0].counts.outDatagrams, 1u);
}

// Past its capacity the table drops the least recently active first, counts
// them, reports none of them as new, and the ids of those kept stay valid.
TEST(ConversationTable, DropsTheLeastRecentlyActive) {
    ConversationTable table(3);
    ConversationDeltas deltas;
    const uint32_t local = 0x0A000001;
    const auto add = [&](uint16_t port, int64_t t) {
        const auto d = Make(kProtocolTcp, {local, 50000}, {0x0A000002, port});
        deltas.AddDatagram(d.data(), static_cast<int>(d.size()), local, t * kSecond);
    };
    add(1, 10);
    add(2, 20);
    add(3, 30);
    MergeReport r = table.Merge(deltas);
    deltas.Clear();
    EXPECT_EQ(r.added.size(), 3u);
    const uint64_t id3 = table.Rows()[2].id;
    const uint64_t rows = table.RowsVersion();
    add(1, 40);  // 1 is active again; 2 is now the least recent
    add(4, 35);
    add(5, 5);  // new, but older than everything: dropped at once
    r = table.Merge(deltas);
    deltas.Clear();
    EXPECT_EQ(r.dropped, 2u);
    EXPECT_EQ(table.Dropped(), 2u);
    ASSERT_EQ(r.added.size(), 1u);
    EXPECT_EQ(r.added[0].remotePort, 4);
    EXPECT_EQ(r.active.size(), 2u);
    ASSERT_EQ(table.Size(), 3u);
    EXPECT_NE(table.RowsVersion(), rows);
    std::vector<uint16_t> ports;
    for (const Conversation& c : table.Rows())
        ports.push_back(c.key.remotePort);
    EXPECT_EQ(ports, (std::vector<uint16_t>{1, 3, 4}));
    EXPECT_EQ(table.IndexOfId(id3), 1);
    EXPECT_EQ(table.Find(table.Rows()[0].key)->counts.outDatagrams, 2u);
    ConversationKey two = table.Rows()[0].key;
    two.remotePort = 2;
    EXPECT_EQ(table.Find(two), nullptr);
}

// The ring keeps five minutes by the datagrams' own times: a jump ahead
// leaves older seconds behind, and late ones are counted, not misfiled.
TEST(RateHistory, KeepsFiveMinutes) {
    RateHistory rates;
    EXPECT_EQ(rates.NewestSecond(), RateHistory::kNone);
    rates.Add(SecondCounts{1000, 1, 10, 2, 20});
    rates.Add(SecondCounts{1299, 3, 30, 0, 0});
    std::vector<SecondCounts> s = rates.Series(1299);
    EXPECT_EQ(s.front().second, 1000);
    EXPECT_EQ(s.front().outBytes, 20u);
    EXPECT_EQ(s.back().inDatagrams, 3u);
    rates.Add(SecondCounts{1300, 1, 1, 0, 0});  // takes the slot of second 1000
    s = rates.Series(1300);
    EXPECT_EQ(s.front().second, 1001);
    EXPECT_EQ(s.front().inDatagrams, 0u);
    EXPECT_EQ(rates.Series(1299).front().inDatagrams, 0u) << "second 1000 is gone";
    rates.Add(SecondCounts{1000, 5, 5, 0, 0});
    EXPECT_EQ(rates.TooOld(), 5u);
    rates.Add(SecondCounts{1100, 1, 1, 0, 0});  // late but inside the window
    EXPECT_EQ(rates.Series(1300)[99].inDatagrams, 1u);
    rates.Add(SecondCounts{100000, 7, 7, 0, 0});
    s = rates.Series(100000);
    uint64_t total = 0;
    for (const auto& x : s)
        total += x.inDatagrams;
    EXPECT_EQ(total, 7u);
    EXPECT_EQ(rates.Series(100100).back().second, 100100);
}

}  // namespace
