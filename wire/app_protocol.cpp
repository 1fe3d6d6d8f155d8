#include "wire/app_protocol.h"

#include <cstring>
#include <string_view>

#include "wire/dns_message.h"
#include "wire/ipv4.h"

namespace {

bool StartsWith(const PacketBytes& p, std::string_view text) {
    return p.Has(0, text.size()) && std::memcmp(p.data(), text.data(), text.size()) == 0;
}

bool DnsHeader(const PacketBytes& p, size_t at) {
    // 12 bytes of header, opcode 0 (standard query), one question.
    return p.Has(at, 12) && ((p.BeU16(at + 2) >> 11) & 0xFu) == 0 && p.BeU16(at + 4) == 1;
}

bool QuicLongHeader(const PacketBytes& p) {
    // Header form and fixed bit set, then the version.
    if ((p.U8(0) & 0xC0u) != 0xC0u || !p.Has(1, 4))
        return false;
    const uint32_t version = p.BeU32(1);
    return version == 0x00000001u || version == 0x6B3343CFu ||
           (version & 0xFFFFFF00u) == 0xFF000000u;
}

bool HttpStart(const PacketBytes& p) {
    static constexpr std::string_view kMethods[] = {
        "GET ", "POST ", "HEAD ", "PUT ", "DELETE ", "PATCH ", "OPTIONS ", "CONNECT ", "TRACE "};
    for (const std::string_view m : kMethods) {
        if (StartsWith(p, m))
            return true;
    }
    return StartsWith(p, "HTTP/1.");
}

}  // namespace

AppProtocol GuessAppProtocol(uint8_t protocol, uint16_t sourcePort, uint16_t destinationPort,
                             const PacketBytes& p) {
    if (p.size() == 0)
        return AppProtocol::kUnknown;
    const bool dnsPort = sourcePort == kDnsPort || destinationPort == kDnsPort;
    if (protocol == kProtocolUdp) {
        if (dnsPort && DnsHeader(p, 0))
            return AppProtocol::kDns;
        if ((sourcePort == kHttpsPort || destinationPort == kHttpsPort) && QuicLongHeader(p))
            return AppProtocol::kQuic;
        return AppProtocol::kUnknown;
    }
    if (protocol != kProtocolTcp)
        return AppProtocol::kUnknown;
    if (dnsPort && DnsHeader(p, 2))
        return AppProtocol::kDns;
    // A handshake record of TLS 1.0 to 1.3 (whose records say 3.1 to 3.3).
    const uint8_t handshake = p.U8(5);
    if (p.U8(0) == 0x16 && p.U8(1) == 3 && p.U8(2) <= 4 && (handshake == 1 || handshake == 2))
        return AppProtocol::kTls;
    if (StartsWith(p, "SSH-2.0-") || StartsWith(p, "SSH-1.99-"))
        return AppProtocol::kSsh;
    if (HttpStart(p))
        return AppProtocol::kHttp;
    return AppProtocol::kUnknown;
}
