#pragma once
// An address of either family, as conversations, owners and names key them.
// An IPv4 address keeps its host-order word, so IPv4 work stays as cheap as
// it was; an IPv6 address keeps its sixteen bytes.
#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "wire/ipv6.h"

struct IpAddress {
    static constexpr uint8_t kIpv4 = 4;
    static constexpr uint8_t kIpv6 = 6;

    uint8_t family = kIpv4;
    uint32_t v4 = 0;   // IPv4, host order; 0 for IPv6
    Ipv6Address v6{};  // IPv6; zero for IPv4

    constexpr IpAddress() = default;
    // Not explicit: an IPv4 word in host order is an address as it stands.
    constexpr IpAddress(uint32_t ipv4) : v4(ipv4) {}  // NOLINT(google-explicit-constructor)
    static IpAddress FromIpv6(const Ipv6Address& address) {
        IpAddress a;
        a.family = kIpv6;
        a.v6 = address;
        return a;
    }
    // The IPv4 address of an IPv4-mapped IPv6 one (a dual-stack socket's), the
    // address itself otherwise.
    static IpAddress Unmapped(const Ipv6Address& address);

    bool IsIpv6() const { return family == kIpv6; }
    // 0.0.0.0 or ::
    bool IsUnspecified() const;

    friend bool operator==(const IpAddress&, const IpAddress&) = default;
};

// Every IPv4 address before every IPv6 address, each family by number: the
// order an address column sorts in.
std::strong_ordering CompareIp(const IpAddress& a, const IpAddress& b);
// Dotted IPv4 or RFC 5952 IPv6 text.
std::string FormatIp(const IpAddress& address);
// Dotted IPv4 (as ParseIpv4) or IPv6 text (as ParseIpv6).
bool ParseIp(std::string_view text, IpAddress* address);
// SplitMix64's finaliser: every input bit moves every output bit. The one
// mixer of the seeded hashes of maps that traffic fills.
inline uint64_t MixHash(uint64_t h) {
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBull;
    h ^= h >> 31;
    return h;
}

// A seeded hash of an address (for maps that traffic fills).
uint64_t HashIp(const IpAddress& address, uint64_t seed);

// A seed of its own per map, so that traffic cannot collide on purpose.
uint64_t RandomIpHashSeed();

struct IpAddressHash {
    uint64_t seed = RandomIpHashSeed();
    size_t operator()(const IpAddress& a) const { return static_cast<size_t>(HashIp(a, seed)); }
};
