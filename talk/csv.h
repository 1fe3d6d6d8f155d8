#pragma once
// The conversations table as a CSV file: UTF-8 with a byte-order mark (so
// that spreadsheet programs take it as UTF-8), a header line of Chinese
// headings (the window's, with where the host name came from after it),
// one conversation per line, quoted as RFC 4180 says (CRLF line
// ends, fields with a comma, quote or line break quoted, quotes doubled).
//
// Texts that others choose (program, user and host names) are written so
// that a spreadsheet cannot take them for a formula: one that begins with
// '=', '+', '-', '@', a tab or a carriage return gets a leading apostrophe.
// Numbers, addresses and times are ours and written as they are.
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talk/conversation.h"
#include "talk/owner.h"
#include "talk/wire_names.h"

class NameService;

struct CsvLine {
    Conversation conversation;
    std::string remoteHost;  // empty: the address has no name (yet)
    OwnerInfo owner;
    NameSource hostSource = NameSource::kNone;  // where remoteHost came from
    AppProtocol application = AppProtocol::kUnknown;
    // Where the remote address is ("美国") and its network ("AS15169
    // GOOGLE"), displayable; empty when not known.
    std::string country;
    std::string network;
};

// The lines of every conversation of the table, with the names and owners
// known now: a host's name from the wire (`wire`) before its reverse name
// (`names`). `owners`, `names` and `wire` may be null; `fromFile` gives
// every owner as kFromFile.
std::vector<CsvLine> CollectCsvLines(const ConversationTable& table, const OwnerService* owners,
                                     const NameService* names, bool fromFile,
                                     const WireNames* wire = nullptr);

// The whole file's bytes, saved as every file is (WriteWholeFile,
// export/save_open.h).
std::string ConversationsCsv(std::span<const CsvLine> lines);
// One field as RFC 4180 wants it, the formula guard applied when `foreign`.
std::string CsvField(std::string_view text, bool foreign);
