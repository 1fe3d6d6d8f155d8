#include "wire/ip_address.h"

#include <algorithm>
#include <cstring>
#include <random>

IpAddress IpAddress::Unmapped(const Ipv6Address& address) {
    if (!IsIpv4Mapped(address))
        return FromIpv6(address);
    return IpAddress((uint32_t{address[12]} << 24) | (uint32_t{address[13]} << 16) |
                     (uint32_t{address[14]} << 8) | address[15]);
}

bool IpAddress::IsUnspecified() const {
    return IsIpv6() ? std::all_of(v6.begin(), v6.end(), [](uint8_t b) { return b == 0; }) : v4 == 0;
}

std::strong_ordering CompareIp(const IpAddress& a, const IpAddress& b) {
    if (a.family != b.family)
        return a.family <=> b.family;
    if (!a.IsIpv6())
        return a.v4 <=> b.v4;
    const int c = std::memcmp(a.v6.data(), b.v6.data(), a.v6.size());
    return c <=> 0;
}

std::string FormatIp(const IpAddress& address) {
    return address.IsIpv6() ? FormatIpv6(address.v6) : FormatIpv4(address.v4);
}

bool ParseIp(std::string_view text, IpAddress* address) {
    uint32_t v4 = 0;
    if (ParseIpv4(text, &v4)) {
        *address = IpAddress(v4);
        return true;
    }
    Ipv6Address v6{};
    if (text.find(':') == std::string_view::npos || !ParseIpv6(text, &v6))
        return false;
    *address = IpAddress::FromIpv6(v6);
    return true;
}

uint64_t HashIp(const IpAddress& a, uint64_t seed) {
    if (!a.IsIpv6())
        return MixHash(uint64_t{a.v4} ^ seed);
    uint64_t hi = 0, lo = 0;
    std::memcpy(&hi, a.v6.data(), 8);
    std::memcpy(&lo, a.v6.data() + 8, 8);
    return MixHash(MixHash(hi ^ seed) ^ (lo + 0x9E3779B97F4A7C15ull));
}

uint64_t RandomIpHashSeed() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    return generator();
}
