#include "ui/models/conversationlines.h"

#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "framework/gbk.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "res/strings.h"
#include "talk/texts.h"
#include "ui/text/plaintext.h"

namespace {

// Past this many removals and insertions in one refresh, the view is told
// once (a reset) instead of step by step: each step costs the view a pass
// over its rows.
constexpr size_t kMostSteps = 64;

bool PortsApply(uint8_t protocol) {
    return protocol == kProtocolTcp || protocol == kProtocolUdp;
}

bool HasPid(const OwnerInfo& o) {
    return o.state == OwnerState::kFound || (o.state == OwnerState::kClosed && o.pid != 0);
}

bool HasUser(const OwnerInfo& o) {
    return o.state == OwnerState::kFound || o.state == OwnerState::kOtherUser ||
           o.state == OwnerState::kHolderUnknown ||
           (o.state == OwnerState::kClosed && !o.user.empty());
}

bool Numeric(int column) {
    return column != ConversationLines::kProtocol && column != ConversationLines::kRemoteHost &&
           column != ConversationLines::kProgram && column != ConversationLines::kUser &&
           column != ConversationLines::kApplication && column != ConversationLines::kCountry &&
           column != ConversationLines::kNetwork;
}

// The lines a tooltip of the remote side adds: its country and network.
QString PlaceTip(const std::optional<Place>& place) {
    QString tip;
    if (place && !place->country.empty())
        tip += QLatin1Char('\n') +
               FormatString(IDS_PLACE_TIP_COUNTRY, QString::fromStdString(place->country));
    if (place && place->asn != 0)
        tip += QLatin1Char('\n') +
               FormatString(IDS_PLACE_TIP_NETWORK, QString::fromStdString(place->NetworkText()));
    return tip;
}

bool RightAligned(int column) {
    return Numeric(column) && column != ConversationLines::kLocalAddr &&
           column != ConversationLines::kRemoteAddr && column != ConversationLines::kFirstSeen &&
           column != ConversationLines::kLastSeen;
}

// Signed times in the order of unsigned numbers.
uint64_t TimeKey(int64_t ns) {
    return static_cast<uint64_t>(ns) ^ (uint64_t{1} << 63);
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool SameValues(const Conversation& a, const Conversation& b) {
    const ConversationCounts& x = a.counts;
    const ConversationCounts& y = b.counts;
    return std::tie(x.inDatagrams, x.inBytes, x.outDatagrams, x.outBytes, x.firstNs, x.lastNs) ==
           std::tie(y.inDatagrams, y.inBytes, y.outDatagrams, y.outBytes, y.firstNs, y.lastNs);
}

bool SameOwner(const OwnerInfo& a, const OwnerInfo& b) {
    return std::tie(a.state, a.program, a.pid, a.uid, a.user, a.inode, a.generation, a.error,
                    a.exited) == std::tie(b.state, b.program, b.pid, b.uid, b.user, b.inode,
                                          b.generation, b.error, b.exited);
}

template <typename T>
int Order(const T& a, const T& b) {
    return a < b ? -1 : b < a ? 1 : 0;
}

}  // namespace

ConversationLines::ConversationLines(const ConversationTracker& tracker, QObject* parent)
    : QAbstractTableModel(parent), tracker_(tracker) {}

int ConversationLines::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

int ConversationLines::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

std::string ConversationLines::Text(const Line& line, int column) const {
    const Conversation& c = line.conversation;
    const bool ports = PortsApply(c.key.protocol);
    switch (column) {
        case kProtocol:
            return ProtocolName(c.key.protocol);
        case kLocalAddr:
            return FormatIp(c.key.localAddr);
        case kLocalPort:
            return ports ? std::to_string(c.key.localPort) : std::string();
        case kRemoteAddr:
            return FormatIp(c.key.remoteAddr);
        case kRemotePort:
            return ports ? std::to_string(c.key.remotePort) : std::string();
        case kRemoteHost:
            return line.hostPending ? FromGbk(LoadStringGbk(IDS_CONV_PENDING)).toStdString()
                                    : line.host;
        case kProgram:
            return OwnerProgramText(line.owner);
        case kPid:
            return HasPid(line.owner) ? std::to_string(line.owner.pid) : std::string();
        case kUser:
            return HasUser(line.owner) ? line.owner.user : std::string();
        case kInDatagrams:
            return std::to_string(c.counts.inDatagrams);
        case kInBytes:
            return FormatBytes(c.counts.inBytes);
        case kOutDatagrams:
            return std::to_string(c.counts.outDatagrams);
        case kOutBytes:
            return FormatBytes(c.counts.outBytes);
        case kFirstSeen:
            return FormatLocalTime(c.counts.firstNs);
        case kLastSeen:
            return FormatLocalTime(c.counts.lastNs);
        case kApplication:
            return ApplicationText(line.app);
        case kCountry:
            return line.place ? line.place->country : std::string();
        case kNetwork:
            return line.place ? line.place->NetworkText() : std::string();
        default:
            return {};
    }
}

std::string ConversationLines::CellText(int row, int column) const {
    if (row < 0 || row >= rowCount())
        return {};
    return Text(lines_[static_cast<size_t>(row)], column);
}

QVariant ConversationLines::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumns)
        return {};
    const Line& line = lines_[static_cast<size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(Text(line, index.column()));
        case Qt::ToolTipRole:
            // What a narrow cell cannot say in full; names as plain text,
            // whatever markup they hold.
            if (index.column() == kProgram)
                return PlainTextTip(QString::fromStdString(OwnerPhrase(line.owner)));
            if (index.column() == kRemoteHost && line.hostSource != NameSource::kNone)
                return PlainTextTip(
                    QString::fromStdString(FormatUtf8(
                        IDS_TIP_NAME_SOURCE, {line.host, NameSourceText(line.hostSource)})) +
                    PlaceTip(line.place));
            if (index.column() == kInBytes)
                return QString::number(line.conversation.counts.inBytes) + QStringLiteral(" B");
            if (index.column() == kOutBytes)
                return QString::number(line.conversation.counts.outBytes) + QStringLiteral(" B");
            if (index.column() == kRemoteHost || index.column() == kRemoteAddr) {
                std::string shown = Text(line, index.column());
                if (shown.empty())
                    shown = FormatIp(line.conversation.key.remoteAddr);
                return PlainTextTip(QString::fromStdString(shown) + PlaceTip(line.place));
            }
            return PlainTextTip(QString::fromStdString(Text(line, index.column())));
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(
                (RightAligned(index.column()) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant ConversationLines::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < kColumns)
        return FromGbk(LoadStringGbk(section == kApplication ? IDS_CONV_HEADING_APPLICATION
                                     : section == kCountry   ? IDS_PLACE_COL_COUNTRY
                                     : section == kNetwork   ? IDS_PLACE_COL_NETWORK
                                                             : IDS_CONV_HEADING_FIRST + section));
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool ConversationLines::Contains(int row, const std::string& text) const {
    if (text.empty())
        return true;
    const Line& line = lines_[static_cast<size_t>(row)];
    std::string cells;
    for (int c = 0; c < kColumns; ++c) {
        cells += Text(line, c);
        cells += '\t';  // a match does not run from one cell into the next
    }
    return LowerAscii(std::move(cells)).find(LowerAscii(text)) != std::string::npos;
}

int ConversationLines::Compare(int rowA, int rowB, int column) const {
    const Line& a = lines_[static_cast<size_t>(rowA)];
    const Line& b = lines_[static_cast<size_t>(rowB)];
    // Addresses by number, every IPv4 address before every IPv6 one (as
    // CompareIp orders them): one family's lines stay together.
    if (column == kLocalAddr || column == kRemoteAddr) {
        const ConversationKey& x = a.conversation.key;
        const ConversationKey& y = b.conversation.key;
        const auto c = column == kLocalAddr ? CompareIp(x.localAddr, y.localAddr)
                                            : CompareIp(x.remoteAddr, y.remoteAddr);
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    if (Numeric(column))
        return Order(NumberKey(a, column), NumberKey(b, column));
    // Networks by number; those without one last.
    if (column == kNetwork) {
        const auto asn = [](const Line& l) {
            return l.place && l.place->asn != 0 ? l.place->asn : uint64_t{1} << 32;
        };
        if (const int o = Order(asn(a), asn(b)); o != 0)
            return o;
    }
    return Text(a, column).compare(Text(b, column));
}

uint64_t ConversationLines::NumberKey(const Line& line, int column) {
    const ConversationKey& k = line.conversation.key;
    const ConversationCounts& n = line.conversation.counts;
    const uint64_t pid = HasPid(line.owner) ? static_cast<uint64_t>(line.owner.pid) : 0;
    // By column; text columns have none, nor the addresses (Compare orders them).
    const uint64_t keys[kColumns] = {0,
                                     0,
                                     k.localPort,
                                     0,
                                     k.remotePort,
                                     0,
                                     0,
                                     pid,
                                     0,
                                     n.inDatagrams,
                                     n.inBytes,
                                     n.outDatagrams,
                                     n.outBytes,
                                     TimeKey(n.firstNs),
                                     TimeKey(n.lastNs),
                                     0};
    return column >= 0 && column < kColumns ? keys[column] : 0;
}

uint64_t ConversationLines::IdAt(int row) const {
    return row >= 0 && row < rowCount() ? lines_[static_cast<size_t>(row)].conversation.id : 0;
}

CsvLine ConversationLines::Export(int row) const {
    const Line& l = lines_[static_cast<size_t>(row)];
    CsvLine line{l.conversation, l.host, l.owner, l.hostSource, l.app, {}, {}};
    if (l.place) {
        line.country = l.place->country;
        line.network = l.place->NetworkText();
    }
    return line;
}

void ConversationLines::Refresh() {
    // A lookup past its deadline is noticed when it is read: the names still
    // pending are read first, which moves the version if one timed out.
    for (const Line& l : lines_) {
        if (l.hostPending)
            tracker_.Name(l.conversation.key.remoteAddr);
    }
    const uint64_t version = tracker_.Version();
    if (version == version_)
        return;
    version_ = version;
    Show(Collect());
}

std::vector<ConversationLines::Line> ConversationLines::Collect() {
    const uint64_t ownerChanges = tracker_.OwnerChanges();
    const uint64_t nameChanges = tracker_.NameChanges();
    const bool ownersMoved = ownerChanges != ownerChanges_;
    const bool namesMoved = nameChanges != nameChanges_;
    ownerChanges_ = ownerChanges;
    nameChanges_ = nameChanges;

    std::unordered_map<uint64_t, size_t> before;
    before.reserve(lines_.size());
    for (size_t i = 0; i < lines_.size(); ++i)
        before.emplace(lines_[i].conversation.id, i);
    std::vector<Line> lines;
    const auto& rows = tracker_.Table().Rows();
    lines.reserve(rows.size());
    for (const Conversation& c : rows) {
        Line l{c, {}, {}, NameSource::kNone, false, AppProtocol::kUnknown, std::nullopt};
        const auto it = before.find(c.id);
        const Line* old = it != before.end() ? &lines_[it->second] : nullptr;
        l.owner = old && !ownersMoved ? old->owner : tracker_.Owner(c);
        if (old && !namesMoved && !old->hostPending) {
            l.host = old->host;
            l.hostSource = old->hostSource;
            l.app = old->app;
        } else {
            ConversationTracker::HostName h = tracker_.BestName(c.key);
            l.host = std::move(h.name);
            l.hostSource = h.source;
            l.hostPending = h.pending;
            l.app = tracker_.Application(c.key);
        }
        // A place once known stays: it is not asked again.
        l.place = old && old->place ? old->place : tracker_.PlaceOfAddress(c.key.remoteAddr);
        lines.push_back(std::move(l));
    }
    return lines;
}

void ConversationLines::Show(std::vector<Line> lines) {
    std::unordered_set<uint64_t> wanted;
    wanted.reserve(lines.size());
    for (const Line& l : lines)
        wanted.insert(l.conversation.id);
    std::unordered_set<uint64_t> present;
    present.reserve(lines_.size());
    for (const Line& l : lines_)
        present.insert(l.conversation.id);
    const auto goes = [&](size_t r) { return !wanted.contains(lines_[r].conversation.id); };
    const auto comes = [&](size_t k) { return !present.contains(lines[k].conversation.id); };

    // Each run that goes or comes costs a view (and the proxy) a pass over its rows.
    size_t steps = 0;
    for (size_t r = 0; r < lines_.size(); ++r)
        steps += goes(r) && (r == 0 || !goes(r - 1)) ? 1 : 0;
    for (size_t k = 0; k < lines.size(); ++k)
        steps += comes(k) && (k == 0 || !comes(k - 1)) ? 1 : 0;
    if (steps > kMostSteps) {
        beginResetModel();
        lines_ = std::move(lines);
        endResetModel();
        return;
    }

    // Lines that went, from the bottom up.
    for (size_t end = lines_.size(); end > 0;) {
        if (!goes(end - 1)) {
            --end;
            continue;
        }
        size_t first = end - 1;
        while (first > 0 && goes(first - 1))
            --first;
        beginRemoveRows({}, static_cast<int>(first), static_cast<int>(end - 1));
        lines_.erase(lines_.begin() + static_cast<long>(first),
                     lines_.begin() + static_cast<long>(end));
        endRemoveRows();
        end = first;
    }
    // Lines that came, each run where it belongs: both lists keep the order
    // of the ids, so the lines above a run are in place by then.
    for (size_t k = 0; k < lines.size();) {
        if (!comes(k)) {
            ++k;
            continue;
        }
        size_t end = k;
        while (end < lines.size() && comes(end))
            ++end;
        beginInsertRows({}, static_cast<int>(k), static_cast<int>(end - 1));
        lines_.insert(lines_.begin() + static_cast<long>(k), lines.begin() + static_cast<long>(k),
                      lines.begin() + static_cast<long>(end));
        endInsertRows();
        k = end;
    }
    // The new values; one notice from the first changed line to the last, so
    // that a sorting proxy places them again in one pass.
    int first = -1;
    int last = -1;
    for (size_t r = 0; r < lines.size(); ++r) {
        Line& now = lines_[r];
        Line& next = lines[r];
        if (SameValues(now.conversation, next.conversation) && SameOwner(now.owner, next.owner) &&
            now.host == next.host && now.hostSource == next.hostSource &&
            now.hostPending == next.hostPending && now.app == next.app && now.place == next.place)
            continue;
        now = std::move(next);
        first = first < 0 ? static_cast<int>(r) : first;
        last = static_cast<int>(r);
    }
    if (first >= 0)
        Q_EMIT dataChanged(index(first, 0), index(last, kColumns - 1));
}
