#pragma once
// What libpcap and tcpdump make of a capture file the program wrote.
#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace readback {

struct Packet {
    int64_t timeNs = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const Packet&) const = default;
};

struct File {
    std::vector<Packet> packets;
    int linkType = -1;
    bool whole = true;   // every datagram as long in the file as it was on the wire
    bool clean = false;  // read to its end without an error
    std::string error;
};

inline File WithLibpcap(const std::string& path) {
    File f;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p =
        pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_NANO, errbuf);
    if (p == nullptr) {
        f.error = errbuf;
        return f;
    }
    f.linkType = pcap_datalink(p);
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    int rc = 0;
    while ((rc = pcap_next_ex(p, &h, &data)) == 1) {
        f.whole = f.whole && h->caplen == h->len;
        f.packets.push_back({int64_t{h->ts.tv_sec} * 1000000000 + h->ts.tv_usec,
                             std::vector<uint8_t>(data, data + h->caplen)});
    }
    f.clean = rc == PCAP_ERROR_BREAK;
    if (!f.clean)
        f.error = pcap_geterr(p);
    pcap_close(p);
    return f;
}

// tcpdump's own reading: a line per packet with its time in nanoseconds,
// then the datagram in hex.
inline File WithTcpdump(const std::string& path) {
    File f;
    const std::string err = path + ".tcpdump-err";
    FILE* out = popen(("tcpdump -r '" + path + "' -nn -tt --nano -x 2>'" + err + "'").c_str(), "r");
    if (out == nullptr) {
        f.error = "cannot run tcpdump";
        return f;
    }
    char line[512];
    while (std::fgets(line, sizeof line, out) != nullptr) {
        if (line[0] >= '0' && line[0] <= '9') {
            long long s = 0, ns = 0;
            if (std::sscanf(line, "%lld.%9lld", &s, &ns) == 2)
                f.packets.push_back({s * 1000000000 + ns, {}});
        } else if (std::strncmp(line, "\t0x", 3) == 0 && !f.packets.empty()) {
            const char* at = std::strchr(line, ':');
            for (at = at ? at + 1 : line; *at != '\0';) {
                unsigned byte = 0;
                int used = 0;
                while (*at == ' ')
                    ++at;
                if (std::sscanf(at, "%2x%n", &byte, &used) != 1)
                    break;
                f.packets.back().bytes.push_back(static_cast<uint8_t>(byte));
                at += used;
            }
        }
    }
    const int status = pclose(out);
    std::ifstream e(err);
    f.error.assign(std::istreambuf_iterator<char>(e), {});
    std::remove(err.c_str());
    f.clean = status == 0 && f.error.find("tcpdump:") == std::string::npos;
    return f;
}

// The options of the file's interface blocks, in order: {code, value}.
struct Option {
    uint16_t code;
    std::vector<uint8_t> value;
};
inline std::vector<std::vector<Option>> InterfaceOptions(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> b(std::istreambuf_iterator<char>(in), {});
    auto u32 = [&b](size_t at) {
        uint32_t v = 0;
        std::memcpy(&v, b.data() + at, 4);
        return v;
    };
    std::vector<std::vector<Option>> interfaces;
    for (size_t at = 0; at + 12 <= b.size();) {
        const uint32_t length = u32(at + 4);
        if (length < 12 || length > b.size() - at)
            break;
        if (u32(at) == 1) {
            interfaces.emplace_back();
            for (size_t o = at + 16; o + 4 <= at + length - 4;) {
                uint16_t code = 0, len = 0;
                std::memcpy(&code, b.data() + o, 2);
                std::memcpy(&len, b.data() + o + 2, 2);
                if (code == 0 || o + 4 + len > at + length - 4)
                    break;
                interfaces.back().push_back({code,
                                             {b.begin() + static_cast<long>(o) + 4,
                                              b.begin() + static_cast<long>(o) + 4 + len}});
                o += 4 + ((len + 3u) & ~3u);
            }
        }
        at += length;
    }
    return interfaces;
}

}  // namespace readback
