#pragma once
// A find-bar text turned into the byte needles that rows are searched for.
#include <QString>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "search/finder.h"

struct SearchOptions {
    bool caseSensitive = false;  // otherwise A-Z and a-z match either case
    bool hex = false;            // the text is bytes written in hex
};

enum class QueryStatus : uint8_t {
    kReady,         // a query to run
    kEmpty,         // nothing typed: no query, and nothing to complain about
    kHexNoBytes,    // hex: separators only
    kHexOddDigits,  // hex: a run of digits of odd length (half a byte)
    kHexBadChar,    // hex: a character that is neither a digit nor a separator
};

// How payload bytes matched a text query.
enum class NeedleEncoding : uint8_t {
    kGbk,    // the text's GBK bytes, at a GBK character start
    kUtf8,   // the text's UTF-8 bytes
    kAscii,  // ASCII text: the same bytes in all three encodings, matched anywhere
};

// The find bar's message for a status other than kReady and kEmpty, in
// Simplified Chinese (short: it sits beside the text box).
QString QueryErrorText(QueryStatus status);

class SearchQuery {
  public:
    struct Needle {
        NeedleEncoding encoding;
        NeedleFinder finder;
    };

    // Compiles once per typed text. A query whose status is not kReady
    // matches no row.
    static SearchQuery Compile(const QString& text, SearchOptions options = {});

    QueryStatus status() const { return status_; }
    bool ready() const { return status_ == QueryStatus::kReady; }
    // Where the typed text stops being hex: the stray character, or the
    // first character of a group of odd length; -1 when no one place is.
    qsizetype errorPosition() const { return errorPosition_; }
    bool hex() const { return hex_; }

    // Text: the GBK needle looked for in the cells (empty when the text has
    // no GBK form). Hex: empty.
    const NeedleFinder& cellNeedle() const { return cellNeedle_; }
    // Text: the needles looked for in the payload, no two with the same bytes
    // (none when the text has neither a GBK nor a UTF-8 form). Hex: the one
    // needle looked for in the whole datagram (its encoding means nothing).
    int needleCount() const { return needleCount_; }
    const Needle& needle(int i) const { return needles_[static_cast<size_t>(i)]; }

  private:
    QueryStatus status_ = QueryStatus::kEmpty;
    qsizetype errorPosition_ = -1;
    bool hex_ = false;
    NeedleFinder cellNeedle_;
    std::array<Needle, 2> needles_{};
    int needleCount_ = 0;
};

// Reads hex bytes: pairs of digits in either case, optionally split into
// groups by white space, ':' or '-' (as tools print addresses and dumps),
// each group an even number of digits with an optional 0x prefix. The
// full-width forms a Chinese input method types count as their ASCII
// counterparts. On failure returns the status and sets `errorPosition` as
// SearchQuery::errorPosition() tells it.
QueryStatus ParseHexBytes(const QString& text, std::string& bytes, qsizetype& errorPosition);
