#pragma once
// Looking for a compiled query in one event row: its eight cells as shown and
// its whole datagram. No heap use while matching.
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "capture/packet.h"
#include "search/query.h"
#include "wire/ipv4.h"

using RowCells = std::array<std::string_view, kEventColumns>;

// Where a datagram's payload lies, by the rule the data cell is built with
// (Ipv4View::Payload).
PayloadSpan FindPayload(std::span<const uint8_t> datagram);

// The payload bytes, empty when there are none.
std::span<const uint8_t> PayloadBytes(std::span<const uint8_t> datagram);

// The first NUL byte, where the data cell stops; the size when there is none.
size_t FirstNul(std::span<const uint8_t> payload);

enum class MatchPlace : uint8_t {
    kNone,
    kCell,      // text: in cell `cell` as shown, at byte `offset` of it
    kPayload,   // text: in the payload at `offset`, as `encoding`
    kDatagram,  // hex: in the datagram at `offset` (the IPv4 header's first byte is 0)
};

struct RowMatch {
    MatchPlace place = MatchPlace::kNone;
    int cell = -1;
    size_t offset = 0;
    size_t length = 0;  // bytes matched
    NeedleEncoding encoding = NeedleEncoding::kGbk;
    // kPayload: the match is not wholly before the payload's first NUL, so
    // the data cell does not show it.
    bool pastNul = false;

    explicit operator bool() const { return place != MatchPlace::kNone; }
};

// Text: the first cell (in column order) that shows the text, else the
// payload match that starts first (on a tie GBK before UTF-8). Hex: the first
// place in the datagram. No match for a query that is not ready.
RowMatch MatchRow(const SearchQuery& query, const RowCells& cells,
                  std::span<const uint8_t> datagram);

// A few dozen payload bytes either side of a match, for a tooltip: cut on
// character starts and decoded as GBK (as UTF-8 for a UTF-8 match, so that
// the match reads as typed), with the escapes DisplayableUtf16 gives
// controls, line breaks and the format characters that could reorder or hide
// the text around them ("\u0000" for a NUL), so the tooltip stays one block
// of plain text that says what was received. A cut end is marked "…". The
// text may hold '<' and '&': escape it before it goes anywhere that reads
// rich text, as a tooltip does.
struct MatchContext {
    QString text;
    qsizetype matchStart = 0;  // the match within `text`
    qsizetype matchLength = 0;
};
MatchContext PayloadContext(std::span<const uint8_t> payload, size_t offset, size_t length,
                            NeedleEncoding encoding = NeedleEncoding::kGbk, size_t radius = 32);
