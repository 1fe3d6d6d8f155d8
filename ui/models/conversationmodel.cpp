#include "ui/models/conversationmodel.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "framework/gbk.h"
#include "res/resource.h"
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
    return column != ConversationModel::kProtocol && column != ConversationModel::kRemoteHost &&
           column != ConversationModel::kProgram && column != ConversationModel::kUser;
}

bool RightAligned(int column) {
    return Numeric(column) && column != ConversationModel::kLocalAddr &&
           column != ConversationModel::kRemoteAddr && column != ConversationModel::kFirstSeen &&
           column != ConversationModel::kLastSeen;
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

}  // namespace

ConversationModel::ConversationModel(const ConversationTracker& tracker, QObject* parent)
    : QAbstractTableModel(parent), tracker_(tracker) {}

int ConversationModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int ConversationModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

std::string ConversationModel::Text(const Line& line, int column) const {
    const Conversation& c = line.conversation;
    const bool ports = PortsApply(c.key.protocol);
    switch (column) {
        case kProtocol:
            return ProtocolName(c.key.protocol);
        case kLocalAddr:
            return FormatIpv4(c.key.localAddr);
        case kLocalPort:
            return ports ? std::to_string(c.key.localPort) : std::string();
        case kRemoteAddr:
            return FormatIpv4(c.key.remoteAddr);
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
        default:
            return {};
    }
}

std::string ConversationModel::CellText(int row, int column) const {
    if (row < 0 || row >= rowCount())
        return {};
    return Text(shown_[static_cast<size_t>(row)], column);
}

QVariant ConversationModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumns)
        return {};
    const Line& line = shown_[static_cast<size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(Text(line, index.column()));
        case Qt::ToolTipRole:
            // What a narrow cell cannot say in full; names as plain text,
            // whatever markup they hold.
            if (index.column() == kProgram)
                return PlainTextTip(QString::fromStdString(OwnerPhrase(line.owner)));
            if (index.column() == kInBytes)
                return QString::number(line.conversation.counts.inBytes) + QStringLiteral(" B");
            if (index.column() == kOutBytes)
                return QString::number(line.conversation.counts.outBytes) + QStringLiteral(" B");
            return PlainTextTip(QString::fromStdString(Text(line, index.column())));
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(
                (RightAligned(index.column()) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant ConversationModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < kColumns)
        return FromGbk(LoadStringGbk(IDS_CONV_HEADING_FIRST + section));
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool ConversationModel::Matches(const Line& line) const {
    if (filter_.empty())
        return true;
    std::string text;
    for (int c = 0; c < kColumns; ++c) {
        text += Text(line, c);
        text += '\t';  // a match does not run from one cell into the next
    }
    return LowerAscii(std::move(text)).find(filter_) != std::string::npos;
}

std::vector<size_t> ConversationModel::Order() const {
    std::vector<size_t> order;
    order.reserve(lines_.size());
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (Matches(lines_[i]))
            order.push_back(i);
    }
    const int column = sortColumn_;
    const bool ascending = sortOrder_ == Qt::AscendingOrder;
    const auto id = [this](size_t i) { return lines_[i].conversation.id; };
    if (column < 0 || column >= kColumns) {
        // The order in which conversations came: the table's, by id.
        std::sort(order.begin(), order.end(),
                  [&](size_t a, size_t b) { return ascending ? id(a) < id(b) : id(a) > id(b); });
        return order;
    }
    // Keys made once per line, not at every comparison; equal keys keep the
    // order in which conversations came, whichever the direction.
    if (Numeric(column)) {
        std::vector<uint64_t> key(lines_.size());
        for (const size_t i : order) {
            const Line& l = lines_[i];
            const ConversationCounts& n = l.conversation.counts;
            switch (column) {
                case kLocalAddr:
                    key[i] = l.conversation.key.localAddr;
                    break;
                case kLocalPort:
                    key[i] = l.conversation.key.localPort;
                    break;
                case kRemoteAddr:
                    key[i] = l.conversation.key.remoteAddr;
                    break;
                case kRemotePort:
                    key[i] = l.conversation.key.remotePort;
                    break;
                case kPid:
                    key[i] = HasPid(l.owner) ? static_cast<uint64_t>(l.owner.pid) : 0;
                    break;
                case kInDatagrams:
                    key[i] = n.inDatagrams;
                    break;
                case kInBytes:
                    key[i] = n.inBytes;
                    break;
                case kOutDatagrams:
                    key[i] = n.outDatagrams;
                    break;
                case kOutBytes:
                    key[i] = n.outBytes;
                    break;
                case kFirstSeen:
                    key[i] = TimeKey(n.firstNs);
                    break;
                case kLastSeen:
                    key[i] = TimeKey(n.lastNs);
                    break;
                default:
                    break;
            }
        }
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            if (key[a] != key[b])
                return ascending ? key[a] < key[b] : key[a] > key[b];
            return id(a) < id(b);
        });
    } else {
        std::vector<std::string> key(lines_.size());
        for (const size_t i : order)
            key[i] = Text(lines_[i], column);
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            const int c = key[a].compare(key[b]);
            if (c != 0)
                return ascending ? c < 0 : c > 0;
            return id(a) < id(b);
        });
    }
    return order;
}

void ConversationModel::Show(const std::vector<size_t>& order) {
    std::unordered_set<uint64_t> wanted;
    wanted.reserve(order.size());
    for (const size_t i : order)
        wanted.insert(lines_[i].conversation.id);
    std::unordered_set<uint64_t> present;
    present.reserve(shown_.size());
    for (const Line& l : shown_)
        present.insert(l.conversation.id);

    // Runs of lines that go, and of lines that come.
    size_t steps = 0;
    for (size_t r = 0; r < shown_.size(); ++r) {
        if (!wanted.contains(shown_[r].conversation.id) &&
            (r == 0 || wanted.contains(shown_[r - 1].conversation.id)))
            ++steps;
    }
    for (size_t k = 0; k < order.size(); ++k) {
        if (!present.contains(lines_[order[k]].conversation.id) &&
            (k == 0 || present.contains(lines_[order[k - 1]].conversation.id)))
            ++steps;
    }
    if (steps > kMostSteps) {
        beginResetModel();
        shown_.clear();
        for (const size_t i : order)
            shown_.push_back(lines_[i]);
        endResetModel();
        return;
    }

    // Lines that went, from the bottom up.
    for (size_t end = shown_.size(); end > 0;) {
        if (wanted.contains(shown_[end - 1].conversation.id)) {
            --end;
            continue;
        }
        size_t first = end - 1;
        while (first > 0 && !wanted.contains(shown_[first - 1].conversation.id))
            --first;
        beginRemoveRows({}, static_cast<int>(first), static_cast<int>(end - 1));
        shown_.erase(shown_.begin() + static_cast<long>(first),
                     shown_.begin() + static_cast<long>(end));
        endRemoveRows();
        end = first;
    }

    // Those that stay, moved into their new order.
    std::vector<uint64_t> staying;
    for (const size_t i : order) {
        if (present.contains(lines_[i].conversation.id))
            staying.push_back(lines_[i].conversation.id);
    }
    bool moved = false;
    for (size_t r = 0; r < shown_.size() && !moved; ++r)
        moved = shown_[r].conversation.id != staying[r];
    if (moved) {
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::unordered_map<uint64_t, size_t> rowOf;
        rowOf.reserve(staying.size());
        for (size_t r = 0; r < staying.size(); ++r)
            rowOf.emplace(staying[r], r);
        const QModelIndexList persistent = persistentIndexList();
        for (const QModelIndex& from : persistent) {
            const size_t to = rowOf.at(shown_[static_cast<size_t>(from.row())].conversation.id);
            changePersistentIndex(from, index(static_cast<int>(to), from.column()));
        }
        std::vector<Line> reordered(shown_.size());
        for (Line& l : shown_)
            reordered[rowOf.at(l.conversation.id)] = std::move(l);
        shown_ = std::move(reordered);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    // Lines that came, each run where it belongs; the lines above it are in place by then.
    for (size_t k = 0; k < order.size();) {
        if (present.contains(lines_[order[k]].conversation.id)) {
            ++k;
            continue;
        }
        size_t end = k;
        while (end < order.size() && !present.contains(lines_[order[end]].conversation.id))
            ++end;
        beginInsertRows({}, static_cast<int>(k), static_cast<int>(end - 1));
        std::vector<Line> run;
        for (size_t j = k; j < end; ++j)
            run.push_back(lines_[order[j]]);
        shown_.insert(shown_.begin() + static_cast<long>(k), std::make_move_iterator(run.begin()),
                      std::make_move_iterator(run.end()));
        endInsertRows();
        k = end;
    }

    // The new values of every line.
    for (size_t r = 0; r < order.size(); ++r)
        shown_[r] = lines_[order[r]];
    if (!shown_.empty())
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
}

void ConversationModel::Refresh() {
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
    const uint64_t ownerChanges = tracker_.OwnerChanges();
    const uint64_t nameChanges = tracker_.NameChanges();
    const bool ownersMoved = ownerChanges != ownerChanges_;
    const bool namesMoved = nameChanges != nameChanges_;
    ownerChanges_ = ownerChanges;
    nameChanges_ = nameChanges;

    // Owners and names as known at the last refresh, unless they changed since.
    std::unordered_map<uint64_t, size_t> before;
    before.reserve(lines_.size());
    for (size_t i = 0; i < lines_.size(); ++i)
        before.emplace(lines_[i].conversation.id, i);
    std::vector<Line> lines;
    const auto& rows = tracker_.Table().Rows();
    lines.reserve(rows.size());
    for (const Conversation& c : rows) {
        Line l{c, {}, {}, false};
        const auto it = before.find(c.id);
        const Line* old = it != before.end() ? &lines_[it->second] : nullptr;
        l.owner = old && !ownersMoved ? old->owner : tracker_.Owner(c);
        if (old && !namesMoved && !old->hostPending) {
            l.host = old->host;
        } else {
            const NameService::Result r = tracker_.Name(c.key.remoteAddr);
            if (r.state == NameService::State::kFound)
                l.host = r.name;
            l.hostPending = r.state == NameService::State::kPending;
        }
        lines.push_back(std::move(l));
    }
    lines_ = std::move(lines);
    Show(Order());
}

void ConversationModel::SetFilterText(const QString& text) {
    std::string filter = LowerAscii(text.toStdString());
    if (filter == filter_)
        return;
    filter_ = std::move(filter);
    Show(Order());
}

void ConversationModel::sort(int column, Qt::SortOrder order) {
    sortColumn_ = column >= 0 && column < kColumns ? column : -1;
    sortOrder_ = order;
    Show(Order());
}

std::vector<CsvLine> ConversationModel::Lines() const {
    std::vector<CsvLine> lines;
    lines.reserve(shown_.size());
    for (const Line& l : shown_)
        lines.push_back(CsvLine{l.conversation, l.host, l.owner});
    return lines;
}

uint64_t ConversationModel::IdAt(int row) const {
    return row >= 0 && row < rowCount() ? shown_[static_cast<size_t>(row)].conversation.id : 0;
}

int ConversationModel::RowOfId(uint64_t id) const {
    for (size_t r = 0; r < shown_.size(); ++r) {
        if (shown_[r].conversation.id == id)
            return static_cast<int>(r);
    }
    return -1;
}
