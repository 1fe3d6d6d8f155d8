#include "capture/decode.h"

#include <cstdio>
#include <cstring>

#include "wire/ipv4.h"

namespace {

// "数据超长度=" in GBK.
constexpr std::string_view kOverLengthPrefix = "\xCA\xFD\xBE\xDD\xB3\xAC\xB3\xA4\xB6\xC8=";
constexpr int kOverLengthThreshold = 1514;

int CopyText(char* out, std::string_view a, std::string_view b = {}) {
    // memcpy from an empty view's null data pointer is undefined.
    if (!a.empty())
        std::memcpy(out, a.data(), a.size());
    if (!b.empty())
        std::memcpy(out + a.size(), b.data(), b.size());
    out[a.size() + b.size()] = '\0';
    return static_cast<int>(a.size() + b.size());
}

// The port rules, the same for both families: the monitored port on either
// side, the ignored port on neither.
bool PortsPassFilter(uint16_t srcPort, uint16_t dstPort, const FilterSettings& filter) {
    const uint16_t m = filter.monitoredPort;
    if (m != 0 && m != srcPort && m != dstPort) {
        return false;
    }
    const uint16_t ig = filter.ignoredPort;
    return ig == 0 || (ig != srcPort && ig != dstPort);
}

}  // namespace

int FormatDecimal(uint32_t value, char* out) {
    char tmp[10];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = 0; i < n; ++i) {
        out[i] = tmp[n - 1 - i];
    }
    out[n] = '\0';
    return n;
}

int FormatDotted(uint32_t address, char* out) {
    int n = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (shift != 24)
            out[n++] = '.';
        n += FormatDecimal((address >> shift) & 0xFF, out + n);
    }
    return n;
}

int FormatDotted(const uint8_t bytes[4], char* out) {
    return FormatDotted((uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                            (uint32_t{bytes[2]} << 8) | bytes[3],
                        out);
}

bool TextEqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

void DecodePacket(const uint8_t* buffer, int length, PacketText& text) {
    text = PacketText{};
    const Ipv4View ip(buffer, length);
    if (!ip.HasFixedHeader()) {
        return;
    }
    FormatDotted(ip.Source(), text.srcAddr);
    FormatDotted(ip.Destination(), text.dstAddr);

    const uint8_t proto = ip.Protocol();
    // Ports beyond the received bytes stay empty rather than inventing values.
    if ((proto == kProtocolTcp || proto == kProtocolUdp) && ip.HasPorts()) {
        FormatDecimal(ip.SourcePort(), text.srcPort);
        FormatDecimal(ip.DestinationPort(), text.dstPort);
    }
}

std::string_view ServiceNameForPort(uint16_t port) {
    switch (port) {
        case 53:
            return "dns";
        case 80:
            return "http";
        case 137:
            return "netbios-ns";
        case 139:
            return "netbios-ssn";
        case 514:
            return "syslog";
        case 3389:
            return "\xD4\xB6\xB3\xCC\xD7\xC0\xC3\xE6";  // 远程桌面
        case 4000:
        case 4001:
        case 4002:
        case 4003:
            return "oicq";
        default:
            return "--";
    }
}

int FormatTcpFlags(uint8_t flags, char* out) {
    static constexpr struct {
        uint8_t bit;
        std::string_view name;
    } kSlots[] = {{0x20, "URG-"}, {0x10, "ACK-"}, {0x08, "PSH-"},
                  {0x04, "RST-"}, {0x02, "SYN-"}, {0x01, "FIN"}};
    int n = 0;
    for (const auto& slot : kSlots) {
        if (flags & slot.bit) {
            std::memcpy(out + n, slot.name.data(), slot.name.size());
            n += static_cast<int>(slot.name.size());
        }
    }
    out[n] = '\0';
    return n;
}

bool BuildEventRow(uint8_t* buffer, int length, const PacketText& text,
                   const FilterSettings& filter, std::string_view localAddress, std::time_t now,
                   RowWorkspace& ws, EventRow& row) {
    // Too short for an IPv4 header (or a receive error): nothing to show.
    if (length < kMinIpv4Header) {
        return false;
    }
    const Ipv4View ip(buffer, length);
    const std::string_view srcAddr(text.srcAddr);
    const std::string_view dstAddr(text.dstAddr);
    const std::string_view anyAddr("0.0.0.0");

    if (!TextEqualsNoCase(filter.srcAddrText, anyAddr) &&
        !TextEqualsNoCase(filter.srcAddrText, srcAddr)) {
        return false;
    }
    if (!TextEqualsNoCase(filter.dstAddrText, anyAddr) &&
        !TextEqualsNoCase(filter.dstAddrText, dstAddr)) {
        return false;
    }

    // Port words are read whatever the protocol; absent bytes read as 0.
    const uint16_t srcPort = ip.SourcePort();
    const uint16_t dstPort = ip.DestinationPort();
    if (!PortsPassFilter(srcPort, dstPort, filter)) {
        return false;
    }

    const bool srcLocal = !localAddress.empty() && TextEqualsNoCase(srcAddr, localAddress);
    const bool dstLocal = !localAddress.empty() && TextEqualsNoCase(dstAddr, localAddress);
    const int srcLen = CopyText(ws.srcAddrColumn, srcLocal ? kLocalMarker : "", srcAddr);
    const int dstLen = CopyText(ws.dstAddrColumn, dstLocal ? kLocalMarker : "", dstAddr);

    // Formatting local time costs far more than the rest of the row; do it once a second.
    if (now != ws.timeTextSecond) {
        std::tm local{};
        size_t n = 0;
        if (localtime_r(&now, &local) != nullptr) {
            n = std::strftime(ws.timeText, sizeof ws.timeText, "%Y-%m-%d %H:%M:%S", &local);
        }
        ws.timeText[n] = '\0';
        ws.timeTextSecond = now;
    }

    // Read whatever the protocol, as the ports are.
    const int flagLen = FormatTcpFlags(ip.TcpFlags(), ws.flagText);

    std::string_view data;
    const PayloadSpan payload = ip.Payload();
    if (payload.size != 0) {
        buffer[length] = 0;  // the spare byte when the datagram fills the buffer
        if (payload.size >= static_cast<size_t>(kOverLengthThreshold)) {
            // In the workspace, not over the payload: the row keeps the
            // datagram as it was received.
            const int n = CopyText(ws.overLength, kOverLengthPrefix);
            const int digits =
                FormatDecimal(static_cast<uint32_t>(payload.size), ws.overLength + n);
            data = std::string_view(ws.overLength, static_cast<size_t>(n + digits));
        } else {
            // The data cell is the payload as text, up to its first NUL.
            data = PacketBytes(buffer, length).TextUpToNul(payload.offset, payload.size);
        }
    }

    row.cells[kColTime] = ws.timeText;
    row.cells[kColSrcAddr] = std::string_view(ws.srcAddrColumn, static_cast<size_t>(srcLen));
    row.cells[kColSrcPort] = text.srcPort;
    row.cells[kColDstAddr] = std::string_view(ws.dstAddrColumn, static_cast<size_t>(dstLen));
    row.cells[kColDstPort] = text.dstPort;
    row.cells[kColService] = ServiceNameForPort(dstPort);
    row.cells[kColData] = data;
    row.cells[kColFlags] = std::string_view(ws.flagText, static_cast<size_t>(flagLen));
    return true;
}

bool Ipv6PassesFilter(const Ipv6View& ip, const FilterSettings& filter) {
    const std::string_view anyAddr("0.0.0.0");
    if (!TextEqualsNoCase(filter.srcAddrText, anyAddr) ||
        !TextEqualsNoCase(filter.dstAddrText, anyAddr)) {
        return false;
    }
    return PortsPassFilter(ip.SourcePort(), ip.DestinationPort(), filter);
}

void FilterSettings::RebuildTexts() {
    FormatDotted(srcAddr.data(), srcAddrText);
    FormatDotted(dstAddr.data(), dstAddrText);
    FormatDecimal(monitoredPort, monitoredPortText);
    FormatDecimal(ignoredPort, ignoredPortText);
}
