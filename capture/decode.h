#pragma once
// Turning one received datagram into texts, testing it against the filter and
// building its event row. Pure functions over caller-owned areas: no heap use.
#include <cstdint>
#include <ctime>
#include <string_view>

#include "capture/packet.h"
#include "capture/row_batch.h"
#include "wire/ipv6.h"

// Writes the address texts and, for TCP and UDP, the port texts. Fields that
// lie beyond `length` are left empty; a receive shorter than an IPv4 header
// gives empty texts throughout.
void DecodePacket(const uint8_t* buffer, int length, PacketText& text);

std::string_view ServiceNameForPort(uint16_t port);

// Joins the names of the set flag bits ("URG-ACK-PSH-RST-SYN-FIN" at most)
// into `out` (at least 24 bytes); returns its length.
int FormatTcpFlags(uint8_t flags, char* out);

// Writes `value` in decimal without leading zeros; returns the length.
int FormatDecimal(uint32_t value, char* out);
// Writes a dotted-decimal address (at most 15 characters plus terminator),
// given in host order or as its bytes in dotted order.
int FormatDotted(uint32_t address, char* out);
int FormatDotted(const uint8_t bytes[4], char* out);

// Whole-text comparison ignoring ASCII letter case.
bool TextEqualsNoCase(std::string_view a, std::string_view b);

// Working areas of row building, reused for every datagram.
struct RowWorkspace {
    char srcAddrColumn[32] = {};
    char dstAddrColumn[32] = {};
    char flagText[64] = {};
    char timeText[32] = {};
    std::time_t timeTextSecond = -1;  // the second `timeText` was formatted for
    char overLength[32] = {};         // the data text of a payload of 1,514 bytes or more
};

// Applies the filter and, when the datagram passes, fills `row` (pointing into
// `ws` and `buffer`) and returns true. False means the filter turned the
// datagram away, unless it is shorter than an IPv4 header. May write the data text's terminator at
// buffer[length] (the buffer must hold kReceiveBufferSize bytes); the
// datagram's own bytes are left as they are.
bool BuildEventRow(uint8_t* buffer, int length, const PacketText& text,
                   const FilterSettings& filter, std::string_view localAddress, std::time_t now,
                   RowWorkspace& ws, EventRow& row);

// The filter applied to an IPv6 datagram, which feeds the conversations only:
// the ports as for IPv4 (0 where the datagram carries none), and an address
// rule, which names an IPv4 address, turns every IPv6 datagram away.
bool Ipv6PassesFilter(const Ipv6View& ip, const FilterSettings& filter);
