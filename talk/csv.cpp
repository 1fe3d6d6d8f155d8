#include "talk/csv.h"

#include <iterator>

#include "res/resource.h"
#include "res/string_table.h"
#include "talk/names.h"
#include "talk/texts.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// The window's column headings, and where the host's name came from after
// the name.
constexpr int kHeadings[] = {
    IDS_CONV_HEADING_FIRST + 0,   IDS_CONV_HEADING_FIRST + 1,  IDS_CONV_HEADING_FIRST + 2,
    IDS_CONV_HEADING_FIRST + 3,   IDS_CONV_HEADING_FIRST + 4,  IDS_CONV_HEADING_FIRST + 5,
    IDS_CONV_HEADING_NAME_SOURCE, IDS_CONV_HEADING_FIRST + 6,  IDS_CONV_HEADING_FIRST + 7,
    IDS_CONV_HEADING_FIRST + 8,   IDS_CONV_HEADING_FIRST + 9,  IDS_CONV_HEADING_FIRST + 10,
    IDS_CONV_HEADING_FIRST + 11,  IDS_CONV_HEADING_FIRST + 12, IDS_CONV_HEADING_FIRST + 13,
    IDS_CONV_HEADING_FIRST + 14,  IDS_CONV_HEADING_APPLICATION};
constexpr size_t kColumns = std::size(kHeadings);

bool PortsApply(uint8_t protocol) {
    return protocol == kProtocolTcp || protocol == kProtocolUdp;
}

}  // namespace

std::string CsvField(std::string_view text, bool foreign) {
    std::string value;
    if (foreign && !text.empty() &&
        (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' || text[0] == '\t' ||
         text[0] == '\r'))
        value = "'";
    value.append(text);
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::vector<CsvLine> CollectCsvLines(const ConversationTable& table, const OwnerService* owners,
                                     const NameService* names, bool fromFile,
                                     const WireNames* wire) {
    std::vector<CsvLine> lines;
    lines.reserve(table.Size());
    for (const Conversation& c : table.Rows()) {
        CsvLine line{c, {}, {}, NameSource::kNone, AppProtocol::kUnknown, {}, {}};
        SourcedName wired = wire != nullptr ? wire->Named(c.key) : SourcedName{};
        if (wired.source != NameSource::kNone) {
            line.remoteHost = std::move(wired.name);
            line.hostSource = wired.source;
        } else if (names != nullptr) {
            const NameService::Result r = names->Lookup(c.key.remoteAddr);
            if (r.state == NameService::State::kFound) {
                line.remoteHost = r.name;
                line.hostSource = NameSource::kReverse;
            }
        }
        if (wire != nullptr)
            line.application = wire->Application(c.key);
        if (fromFile)
            line.owner.state = OwnerState::kFromFile;
        else if (owners != nullptr)
            line.owner = owners->Result(c.key);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string ConversationsCsv(std::span<const CsvLine> lines) {
    std::string out(kBom);
    for (size_t i = 0; i < kColumns; ++i) {
        if (i)
            out += ',';
        out += LoadStringUtf8(kHeadings[i]);
    }
    for (const int heading : {IDS_PLACE_COL_COUNTRY, IDS_PLACE_COL_NETWORK}) {
        out += ',';
        out += LoadStringUtf8(heading);
    }
    out += "\r\n";
    for (const CsvLine& line : lines) {
        const Conversation& c = line.conversation;
        const OwnerInfo& o = line.owner;
        const bool ports = PortsApply(c.key.protocol);
        const bool pid =
            o.state == OwnerState::kFound || (o.state == OwnerState::kClosed && o.pid != 0);
        const bool user = o.state == OwnerState::kFound || o.state == OwnerState::kOtherUser ||
                          o.state == OwnerState::kHolderUnknown ||
                          (o.state == OwnerState::kClosed && !o.user.empty());
        const std::string fields[] = {
            ProtocolName(c.key.protocol),
            FormatIp(c.key.localAddr),
            ports ? std::to_string(c.key.localPort) : std::string(),
            FormatIp(c.key.remoteAddr),
            ports ? std::to_string(c.key.remotePort) : std::string(),
            CsvField(line.remoteHost, true),
            line.remoteHost.empty() ? std::string() : NameSourceText(line.hostSource),
            CsvField(OwnerProgramText(o), true),
            pid ? std::to_string(o.pid) : std::string(),
            user ? CsvField(o.user, true) : std::string(),
            std::to_string(c.counts.inDatagrams),
            std::to_string(c.counts.inBytes),
            std::to_string(c.counts.outDatagrams),
            std::to_string(c.counts.outBytes),
            FormatLocalTime(c.counts.firstNs),
            FormatLocalTime(c.counts.lastNs),
            ApplicationText(line.application),
        };
        static_assert(std::size(fields) == kColumns);
        for (size_t i = 0; i < std::size(fields); ++i) {
            if (i)
                out += ',';
            out += fields[i];
        }
        // Where the remote side is, after the columns of the window's own.
        for (const std::string* place : {&line.country, &line.network}) {
            out += ',';
            out += CsvField(*place, true);
        }
        out += "\r\n";
    }
    return out;
}
