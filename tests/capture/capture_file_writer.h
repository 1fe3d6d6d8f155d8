#pragma once
// Writes capture files for tests: pcap through libpcap, pcapng block by block
// (libpcap reads pcapng but does not write it), and the link-layer framing of
// every link type the program reads.
#include <pcap/pcap.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tests/capture/packet_builder.h"

namespace testfile {

// One second apart from 2023-11-14 22:13:20 UTC on, a quarter second past each.
inline constexpr int64_t kFirstSecond = 1700000000;
inline constexpr int kMicros = 250000;

inline std::vector<uint8_t> Ethernet(const std::vector<uint8_t>& datagram,
                                     const std::vector<uint16_t>& vlanTags = {}) {
    std::vector<uint8_t> f(12, 0x02);
    for (uint16_t tag : vlanTags) {
        f.push_back(0x81), f.push_back(0x00);
        f.push_back(static_cast<uint8_t>(tag >> 8)), f.push_back(static_cast<uint8_t>(tag));
    }
    f.push_back(0x08), f.push_back(0x00);
    f.insert(f.end(), datagram.begin(), datagram.end());
    return f;
}

// The datagram in a frame of `linkType`, as a capture of that type holds it.
inline std::vector<uint8_t> Frame(int linkType, const std::vector<uint8_t>& d) {
    std::vector<uint8_t> f;
    switch (linkType) {
        case DLT_EN10MB:
            return Ethernet(d, {42});
        case DLT_LINUX_SLL:
            f.assign(16, 0);
            f[14] = 0x08;
            break;
        case DLT_LINUX_SLL2:
            f.assign(20, 0);
            f[0] = 0x08;
            break;
        case DLT_NULL: {
            f.assign(4, 0);
            const uint32_t family = 2;  // AF_INET, in this host's order
            std::memcpy(f.data(), &family, 4);
            break;
        }
        case DLT_LOOP:
            f = {0, 0, 0, 2};
            break;
        default:  // DLT_RAW, DLT_IPV4
            break;
    }
    f.insert(f.end(), d.begin(), d.end());
    return f;
}

inline bool WritePcap(const std::string& path, int linkType,
                      const std::vector<std::vector<uint8_t>>& frames,
                      int64_t firstSecond = kFirstSecond) {
    pcap_t* dead = pcap_open_dead(linkType, 65535 + 64);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    if (dumper == nullptr) {
        pcap_close(dead);
        return false;
    }
    int64_t second = firstSecond;
    for (const auto& f : frames) {
        pcap_pkthdr h{};
        h.ts.tv_sec = static_cast<time_t>(second++);
        h.ts.tv_usec = kMicros;
        h.caplen = h.len = static_cast<bpf_u_int32>(f.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, f.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
}

// A section header, one interface, an enhanced packet block per frame;
// timestamps in microseconds, the format's default resolution.
inline bool WritePcapng(const std::string& path, int linkType,
                        const std::vector<std::vector<uint8_t>>& frames,
                        int64_t firstSecond = kFirstSecond) {
    std::vector<uint8_t> out;
    auto u16 = [&out](uint16_t v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto u32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    u32(0x0A0D0D0A), u32(28), u32(0x1A2B3C4D), u16(1), u16(0), u32(0xFFFFFFFF), u32(0xFFFFFFFF);
    u32(28);
    // The file holds LINKTYPE_ values; of ours only raw IP differs from its DLT_.
    u32(1), u32(20), u16(static_cast<uint16_t>(linkType == DLT_RAW ? 101 : linkType));
    u16(0), u32(65535 + 64), u32(20);
    int64_t second = firstSecond;
    for (const auto& f : frames) {
        const uint32_t padded = (static_cast<uint32_t>(f.size()) + 3) & ~3u;
        const uint64_t micros = static_cast<uint64_t>(second++) * 1000000 + kMicros;
        u32(6), u32(32 + padded), u32(0), u32(static_cast<uint32_t>(micros >> 32));
        u32(static_cast<uint32_t>(micros)), u32(static_cast<uint32_t>(f.size()));
        u32(static_cast<uint32_t>(f.size()));
        out.insert(out.end(), f.begin(), f.end());
        out.resize(out.size() + (padded - f.size()), 0);
        u32(32 + padded);
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}

inline testpkt::Ip Between(std::array<uint8_t, 4> src, std::array<uint8_t, 4> dst,
                           uint8_t protocol = 6) {
    testpkt::Ip ip;
    std::copy(src.begin(), src.end(), ip.src);
    std::copy(dst.begin(), dst.end(), ip.dst);
    ip.protocol = protocol;
    return ip;
}

// Datagrams of every kind a row is made of: flags, GBK payload text, a
// payload too long to show, ICMP, IPv4 options, both directions of 10.0.0.5.
inline std::vector<std::vector<uint8_t>> Mix() {
    using namespace testpkt;
    Ip options;
    options.optionWords = 2;
    return {
        Datagram(Ip{}, Tcp(1025, 80, 0x02)),
        Datagram(Ip{}, Tcp(1025, 80, 0x18, Bytes("\xD6\xD0\xCE\xC4\xCA\xFD\xBE\xDD"))),
        Datagram(Between({10, 0, 0, 9}, {10, 0, 0, 5}, 17), Udp(5353, 53, Bytes("query"))),
        Datagram(Between({10, 0, 0, 9}, {10, 0, 0, 5}, 1), IcmpEcho(0x1234, Bytes("ping"))),
        Datagram(Between({10, 0, 0, 5}, {10, 0, 0, 9}, 17),
                 Udp(4000, 4003, std::vector<uint8_t>(1600, 'x'))),
        Datagram(options, Tcp(3389, 1025, 0x11)),
        Datagram(Between({192, 168, 1, 20}, {10, 0, 0, 9}), Tcp(443, 40000, 0x10, Bytes("tls"))),
    };
}

// What the time column shows for a file's n-th datagram: its own second in
// the tests' zone, eight hours east of UTC (see UseTestTimeZone).
inline std::string FileTimeText(int n) {
    const time_t t = static_cast<time_t>(kFirstSecond + n + 8 * 3600);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
    return text;
}

// A zone of the tests' own, so that local time and UTC differ.
inline void UseTestTimeZone() {
    setenv("TZ", "CST-8", 1);
    tzset();
}

// Keeps only the first `bytes` bytes of a file: a capture cut off in the middle.
inline bool CutFile(const std::string& path, long bytes) {
    return truncate(path.c_str(), bytes) == 0;
}

}  // namespace testfile
