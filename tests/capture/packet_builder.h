#pragma once
// Builds IPv4 and IPv6 datagrams byte by byte for tests and benchmarks.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testpkt {

struct Ip {
    uint8_t src[4] = {10, 0, 0, 5};
    uint8_t dst[4] = {10, 0, 0, 9};
    uint8_t protocol = 6;
    int optionWords = 0;  // IPv4 options, in 32-bit words
};

inline void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

// IPv4 header followed by `transport` bytes; total length set from the result.
inline std::vector<uint8_t> Datagram(const Ip& ip, const std::vector<uint8_t>& transport) {
    const size_t h = 20 + 4 * static_cast<size_t>(ip.optionWords);
    // Sized once: GCC 12 warns falsely about a vector insert here at -O3.
    std::vector<uint8_t> b(h + transport.size(), 0);
    b[0] = static_cast<uint8_t>(0x40 | (h / 4));
    b[8] = 64;
    b[9] = ip.protocol;
    for (int i = 0; i < 4; ++i) {
        b[12 + i] = ip.src[i];
        b[16 + i] = ip.dst[i];
    }
    for (size_t i = 20; i < h; ++i)
        b[i] = 1;  // NOP options
    std::copy(transport.begin(), transport.end(), b.begin() + static_cast<std::ptrdiff_t>(h));
    Put16(b, 2, static_cast<uint16_t>(b.size()));
    return b;
}

inline std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

inline std::vector<uint8_t> Tcp(uint16_t sport, uint16_t dport, uint8_t flags,
                                const std::vector<uint8_t>& payload = {}, int optionWords = 0) {
    std::vector<uint8_t> t(20 + 4 * static_cast<size_t>(optionWords), 0);
    Put16(t, 0, sport);
    Put16(t, 2, dport);
    t[12] = static_cast<uint8_t>((5 + optionWords) << 4);
    t[13] = flags;
    t.insert(t.end(), payload.begin(), payload.end());
    return t;
}

inline std::vector<uint8_t> Udp(uint16_t sport, uint16_t dport,
                                const std::vector<uint8_t>& payload = {}) {
    std::vector<uint8_t> u(8, 0);
    Put16(u, 0, sport);
    Put16(u, 2, dport);
    Put16(u, 4, static_cast<uint16_t>(8 + payload.size()));
    u.insert(u.end(), payload.begin(), payload.end());
    return u;
}

inline std::vector<uint8_t> IcmpEcho(uint16_t checksum, const std::vector<uint8_t>& payload = {}) {
    std::vector<uint8_t> c(8, 0);
    c[0] = 8;  // echo request
    Put16(c, 2, checksum);
    c.insert(c.end(), payload.begin(), payload.end());
    return c;
}

// IPv6: the fixed header, the extension headers in order, then the upper layer.
struct Ip6 {
    std::array<uint8_t, 16> src = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
    std::array<uint8_t, 16> dst = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9};
    uint8_t protocol = 6;  // the upper layer's, behind the extension headers
};

// One extension header: hop-by-hop (0), routing (43), destination options
// (60) of (units + 1) * 8 bytes, authentication (51) of (units + 2) * 4,
// fragment (44) of 8 with its offset in 8-byte units.
struct Ext6 {
    uint8_t type = 60;
    uint8_t units = 0;
    uint16_t fragmentOffset = 0;
};

inline size_t Ext6Size(const Ext6& e) {
    switch (e.type) {
        case 44:
            return 8;
        case 51:
            return (size_t{e.units} + 2) * 4;
        default:
            return (size_t{e.units} + 1) * 8;
    }
}

// Payload length set from the result.
inline std::vector<uint8_t> Datagram6(const Ip6& ip, const std::vector<uint8_t>& transport,
                                      const std::vector<Ext6>& extensions = {}) {
    size_t size = 40 + transport.size();
    for (const Ext6& e : extensions)
        size += Ext6Size(e);
    std::vector<uint8_t> b(size, 0);
    b[0] = 0x60;
    Put16(b, 4, static_cast<uint16_t>(size - 40));
    b[6] = extensions.empty() ? ip.protocol : extensions.front().type;
    b[7] = 64;
    std::copy(ip.src.begin(), ip.src.end(), b.begin() + 8);
    std::copy(ip.dst.begin(), ip.dst.end(), b.begin() + 24);
    size_t at = 40;
    for (size_t i = 0; i < extensions.size(); ++i) {
        const Ext6& e = extensions[i];
        b[at] = i + 1 < extensions.size() ? extensions[i + 1].type : ip.protocol;
        if (e.type == 44) {
            Put16(b, at + 2, static_cast<uint16_t>((e.fragmentOffset << 3) | 1));
        } else {
            b[at + 1] = e.units;
            for (size_t k = 2; k < Ext6Size(e); ++k)
                b[at + k] = 0xA5;  // filler: no reader looks inside
        }
        at += Ext6Size(e);
    }
    std::copy(transport.begin(), transport.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
}

}  // namespace testpkt
