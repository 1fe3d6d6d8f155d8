#pragma once
// What the alerts make of an address (wire's IpAddress): a host as they count
// it, and the network it is taken to belong to.
#include <string>
#include <string_view>

#include "wire/ip_address.h"

// Dotted IPv4 or IPv6 text (no zone, no brackets, no prefix), as inet_pton
// takes it: unlike ParseIp, no IPv4 field with a leading zero (some tools read
// "010" as octal, so a list written for them may mean another host). An
// IPv4-mapped address is its IPv4 host. False for anything else.
bool ParseHost(std::string_view text, IpAddress* out);

// The network a host is taken to belong to: its /24 for IPv4, its /48 for
// IPv6 (what a site is usually given; a /64 is one link, and a host may
// walk through many of its addresses).
inline constexpr int kIpv4NetworkBits = 24;
inline constexpr int kIpv6NetworkBits = 48;
IpAddress NetworkOf(const IpAddress& host);
// "192.0.2.0/24", "2001:db8:1::/48".
std::string FormatNetwork(const IpAddress& network);
