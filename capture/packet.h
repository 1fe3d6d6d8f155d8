#pragma once
// Texts and settings that travel from a received datagram to an event row.
#include <array>
#include <cstdint>
#include <string_view>

#include "wire/ipv4.h"

inline constexpr int kMaxDatagram = 65535;
// The receive area: one datagram plus the spare byte that takes the data
// text's terminator when a datagram fills all 65,535 bytes.
inline constexpr int kReceiveBufferSize = kMaxDatagram + 1;
inline constexpr int kMaxEventRows = 500;
inline constexpr int kEventColumns = 8;

// The texts of the last decoded datagram (zero-terminated 8-bit text).
struct PacketText {
    char dstPort[16] = {};
    char srcPort[16] = {};
    char dstAddr[16] = {};
    char srcAddr[16] = {};
};

// The filter in force. The address bytes are in dotted order (first byte =
// first field); "0.0.0.0" means any address, monitored port 0 any port,
// ignored port 0 none. The port texts stay empty until the filter dialog is
// first accepted.
struct FilterSettings {
    std::array<uint8_t, 4> srcAddr = {0, 0, 0, 0};
    std::array<uint8_t, 4> dstAddr = {0, 0, 0, 0};
    uint16_t monitoredPort = 0;
    uint16_t ignoredPort = 0;
    char srcAddrText[16] = "0.0.0.0";
    char dstAddrText[16] = "0.0.0.0";
    char monitoredPortText[8] = "";
    char ignoredPortText[8] = "";

    // Rewrites the four texts from the values ("%d.%d.%d.%d" and "%u").
    void RebuildTexts();
};

// The eight column texts of one event, in column order. They point into the
// capture thread's working areas and receive buffer, valid until its next datagram.
struct EventRow {
    std::array<std::string_view, kEventColumns> cells;
};

enum EventColumn {
    kColTime = 0,
    kColSrcAddr = 1,
    kColSrcPort = 2,
    kColDstAddr = 3,
    kColDstPort = 4,
    kColService = 5,
    kColData = 6,
    kColFlags = 7,
};

// "(本机)" in GBK.
inline constexpr std::string_view kLocalMarker = "(\xB1\xBE\xBB\xFA)";
