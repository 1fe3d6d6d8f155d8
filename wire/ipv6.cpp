#include "wire/ipv6.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

void Ipv6View::Walk() {
    if (!HasFixedHeader() || Version() != 6)
        return;
    uint8_t next = NextHeader();
    size_t at = kIpv6Header;
    for (int headers = 0;; ++headers) {
        protocol_ = next;
        transport_ = at;
        size_t length = 0;
        switch (next) {
            case kIpv6HopByHop:
                // Only directly behind the fixed header.
                if (headers != 0)
                    return;
                [[fallthrough]];
            case kIpv6Routing:
            case kIpv6DestinationOptions:
                length = (size_t{p_.U8(at + 1)} + 1) * 8;
                break;
            case kIpv6Fragment:
                length = 8;
                fragmented_ = true;
                fragmentOffset_ = static_cast<uint16_t>(p_.BeU16(at + 2) >> 3);
                break;
            case kIpv6Auth:
                length = (size_t{p_.U8(at + 1)} + 2) * 4;
                break;
            default:
                // The upper layer (or "no next header"): the walk is done.
                walked_ = true;
                return;
        }
        if (headers == kMaxExtensionHeaders || !p_.Has(at, length))
            return;
        next = p_.U8(at);
        at += length;
        // Behind a later fragment lies the middle of the original payload,
        // not a header.
        if (fragmented_ && fragmentOffset_ != 0) {
            protocol_ = next;
            transport_ = at;
            walked_ = true;
            return;
        }
    }
}

PayloadSpan Ipv6View::Payload() const {
    if (!HasPorts())
        return {};
    size_t start;
    if (protocol_ == kProtocolTcp) {
        bool ok = false;
        const size_t t = (p_.U8(transport_ + 12, &ok) >> 4) * 4u;
        if (!ok || t < 20)
            return {};
        start = transport_ + t;
    } else {
        start = transport_ + 8;
    }
    const size_t length = p_.size();
    if (start > length)
        return {};
    return {start, length - start};
}

std::string FormatIpv6(const Ipv6Address& address) {
    in6_addr a;
    std::memcpy(&a, address.data(), sizeof a);
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET6, &a, text, sizeof text) == nullptr)
        return {};
    return text;
}

bool ParseIpv6(std::string_view text, Ipv6Address* address) {
    char z[INET6_ADDRSTRLEN];
    if (text.empty() || text.size() >= sizeof z || text.find('\0') != std::string_view::npos)
        return false;
    std::memcpy(z, text.data(), text.size());
    z[text.size()] = '\0';
    in6_addr a;
    if (inet_pton(AF_INET6, z, &a) != 1)
        return false;
    std::memcpy(address->data(), &a, sizeof a);
    return true;
}

bool IsIpv4Mapped(const Ipv6Address& a) {
    for (int i = 0; i < 10; ++i) {
        if (a[static_cast<size_t>(i)] != 0)
            return false;
    }
    return a[10] == 0xFF && a[11] == 0xFF;
}
