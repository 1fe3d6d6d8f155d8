#include "alerts/address.h"

#include <algorithm>

bool ParseHost(std::string_view text, IpAddress* out) {
    if (text.find(':') == std::string_view::npos) {
        for (size_t i = 0; i + 1 < text.size(); ++i) {
            const bool fieldStart = i == 0 || text[i - 1] == '.';
            if (fieldStart && text[i] == '0' && text[i + 1] >= '0' && text[i + 1] <= '9')
                return false;
        }
    }
    IpAddress address;
    if (!ParseIp(text, &address))
        return false;
    *out = address.IsIpv6() ? IpAddress::Unmapped(address.v6) : address;
    return true;
}

IpAddress NetworkOf(const IpAddress& host) {
    if (!host.IsIpv6())
        return IpAddress(host.v4 & ~(~uint32_t{0} >> kIpv4NetworkBits));
    Ipv6Address network = host.v6;
    std::fill(network.begin() + kIpv6NetworkBits / 8, network.end(), uint8_t{0});
    return IpAddress::FromIpv6(network);
}

std::string FormatNetwork(const IpAddress& network) {
    return FormatIp(network) + "/" +
           std::to_string(network.IsIpv6() ? kIpv6NetworkBits : kIpv4NetworkBits);
}
