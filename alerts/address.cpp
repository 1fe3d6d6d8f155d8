#include "alerts/address.h"

#include <arpa/inet.h>

#include <cstring>

#include "wire/ip_address.h"

namespace {

uint64_t Load64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << 8) | p[i];
    return v;
}

void Store64(uint64_t v, uint8_t* p) {
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

}  // namespace

bool ParseAddress(std::string_view text, AddressKey* out) {
    // inet_pton wants a terminated string; no address text is longer than this.
    char buffer[INET6_ADDRSTRLEN + 1];
    if (text.empty() || text.size() >= sizeof buffer ||
        text.find('\0') != std::string_view::npos)  // inet_pton would stop there
        return false;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    if (text.find(':') == std::string_view::npos) {
        in_addr v4{};
        if (inet_pton(AF_INET, buffer, &v4) != 1)
            return false;
        *out = AddressFromIpv4(ntohl(v4.s_addr));
        return true;
    }
    uint8_t v6[16];
    if (inet_pton(AF_INET6, buffer, v6) != 1)
        return false;
    out->hi = Load64(v6);
    out->lo = Load64(v6 + 8);
    return true;
}

AddressKey AddressFromIpv4(uint32_t hostOrder) {
    return AddressKey{0, (uint64_t{0xFFFFu} << 32) | hostOrder};
}

std::string FormatAddress(const AddressKey& key) {
    char text[INET6_ADDRSTRLEN];
    if (key.IsV4()) {
        const in_addr v4{htonl(static_cast<uint32_t>(key.lo))};
        inet_ntop(AF_INET, &v4, text, sizeof text);
    } else {
        uint8_t v6[16];
        Store64(key.hi, v6);
        Store64(key.lo, v6 + 8);
        inet_ntop(AF_INET6, v6, text, sizeof text);
    }
    return text;
}

AddressKey MaskedTo(const AddressKey& key, int bits) {
    if (bits <= 0)
        return {};
    if (bits >= 128)
        return key;
    if (bits <= 64)
        return {bits == 64 ? key.hi : key.hi & ~(~uint64_t{0} >> bits), 0};
    return {key.hi, key.lo & ~(~uint64_t{0} >> (bits - 64))};
}

AddressKey LastOf(const AddressKey& key, int bits) {
    const AddressKey first = MaskedTo(key, bits);
    if (bits <= 0)
        return {~uint64_t{0}, ~uint64_t{0}};
    if (bits >= 128)
        return first;
    if (bits <= 64)
        return {first.hi | (bits == 64 ? 0 : ~uint64_t{0} >> bits), ~uint64_t{0}};
    return {first.hi, first.lo | (~uint64_t{0} >> (bits - 64))};
}

AddressKey NetworkOf(const AddressKey& key) {
    return MaskedTo(key, key.IsV4() ? 96 + kIpv4NetworkBits : kIpv6NetworkBits);
}

std::string FormatNetwork(const AddressKey& network) {
    return FormatPrefix(network, network.IsV4() ? 96 + kIpv4NetworkBits : kIpv6NetworkBits);
}

std::string FormatPrefix(const AddressKey& first, int bits) {
    if (first.IsV4() && bits >= 96)
        return FormatAddress(first) + "/" + std::to_string(bits - 96);
    return FormatAddress(first) + "/" + std::to_string(bits);
}

size_t AddressKeyHash::operator()(const AddressKey& k) const {
    return static_cast<size_t>(MixHash(k.hi ^ seed) ^ MixHash(k.lo + seed * 0x9E3779B97F4A7C15ULL));
}
