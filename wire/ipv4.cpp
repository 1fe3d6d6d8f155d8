#include "wire/ipv4.h"

namespace {

constexpr size_t kTcpPayloadAfter = 40;
constexpr size_t kUdpPayloadAfter = 28;
constexpr size_t kUdpHeader = 8;

}  // namespace

PayloadSpan Ipv4View::Payload() const {
    const size_t length = p_.size();
    if (!HasFixedHeader())
        return {};
    size_t start;
    const uint8_t protocol = Protocol();
    if (protocol == kProtocolTcp && length > kTcpPayloadAfter) {
        bool ok = false;
        const size_t t = TcpHeaderLength(&ok);
        if (!ok)
            return {};
        start = HeaderLength() + t;
    } else if (protocol == kProtocolUdp && length > kUdpPayloadAfter) {
        start = HeaderLength() + kUdpHeader;
    } else {
        return {};
    }
    if (start > length)
        return {};
    return {start, length - start};
}

bool ParseIpv4(std::string_view text, uint32_t* address) {
    uint32_t value = 0;
    int fields = 0;
    size_t i = 0;
    while (fields < 4) {
        uint32_t field = 0;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            field = field * 10 + static_cast<uint32_t>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || field > 255)
            return false;
        value = (value << 8) | field;
        ++fields;
        if (fields < 4) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
    }
    if (i != text.size())
        return false;
    *address = value;
    return true;
}

std::string FormatIpv4(uint32_t address) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (shift != 24)
            text += '.';
        text += std::to_string((address >> shift) & 0xFF);
    }
    return text;
}
