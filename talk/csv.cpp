#include "talk/csv.h"

#include "res/resource.h"
#include "res/string_table.h"
#include "talk/names.h"
#include "talk/texts.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// The headings are the window's column headings.
constexpr int kColumns = 15;

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
                                     const NameService* names, bool fromFile) {
    std::vector<CsvLine> lines;
    lines.reserve(table.Size());
    for (const Conversation& c : table.Rows()) {
        CsvLine line{c, {}, {}, {}, {}};
        if (names != nullptr) {
            const NameService::Result r = names->Lookup(c.key.remoteAddr);
            if (r.state == NameService::State::kFound)
                line.remoteHost = r.name;
        }
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
    for (int i = 0; i < kColumns; ++i) {
        if (i)
            out += ',';
        out += LoadStringUtf8(IDS_CONV_HEADING_FIRST + i);
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
            CsvField(OwnerProgramText(o), true),
            pid ? std::to_string(o.pid) : std::string(),
            user ? CsvField(o.user, true) : std::string(),
            std::to_string(c.counts.inDatagrams),
            std::to_string(c.counts.inBytes),
            std::to_string(c.counts.outDatagrams),
            std::to_string(c.counts.outBytes),
            FormatLocalTime(c.counts.firstNs),
            FormatLocalTime(c.counts.lastNs),
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
