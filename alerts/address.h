#pragma once
// Addresses of both families as one 128-bit number: IPv6 as it is, IPv4
// mapped into ::ffff:0:0/96, so one table and one order hold both.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct AddressKey {
    uint64_t hi = 0;
    uint64_t lo = 0;

    friend bool operator==(const AddressKey&, const AddressKey&) = default;
    friend auto operator<=>(const AddressKey&, const AddressKey&) = default;

    bool IsV4() const { return hi == 0 && (lo >> 32) == 0xFFFFu; }
};

// Dotted IPv4 or IPv6 text (no zone, no brackets, no prefix). False for
// anything else.
bool ParseAddress(std::string_view text, AddressKey* out);
AddressKey AddressFromIpv4(uint32_t hostOrder);
// IPv4 as dotted text, IPv6 in its shortest form.
std::string FormatAddress(const AddressKey& key);

// The key with every bit past the first `bits` cleared (`bits` over the
// 128-bit space: an IPv4 /24 is 96 + 24).
AddressKey MaskedTo(const AddressKey& key, int bits);
// The last key of the prefix of `bits` bits that holds `key`.
AddressKey LastOf(const AddressKey& key, int bits);

// The network a host is taken to belong to: its /24 for IPv4, its /48 for
// IPv6 (what a site is usually given; a /64 is one link, and a host may
// walk through many of its addresses).
inline constexpr int kIpv4NetworkBits = 24;
inline constexpr int kIpv6NetworkBits = 48;
AddressKey NetworkOf(const AddressKey& key);
// "192.0.2.0/24", "2001:db8:1::/48".
std::string FormatNetwork(const AddressKey& network);
// A prefix as text: IPv4 ones in IPv4 terms.
std::string FormatPrefix(const AddressKey& first, int bits);

struct AddressKeyHash {
    uint64_t seed;
    size_t operator()(const AddressKey& k) const;
};
