#include "ui/models/conversationtracker.h"

#include <QSocketNotifier>
#include <algorithm>
#include <chrono>

#include "capture/packet.h"
#include "capture/row_batch.h"
#include "framework/cellblock.h"
#include "framework/gbk.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "res/strings.h"
#include "talk/texts.h"
#include "ui/text/plaintext.h"

namespace {

std::string Utf8Resource(int id) {
    return FromGbk(LoadStringGbk(id)).toStdString();
}

bool NeverNamed(const IpAddress& address) {
    return NameService::NeverAsked(address);
}

// An address cell as dotted text: the local marker in front of it is not part of it.
bool CellAddress(std::string_view cell, uint32_t* address) {
    if (cell.substr(0, kLocalMarker.size()) == kLocalMarker)
        cell.remove_prefix(kLocalMarker.size());
    return ParseIpv4(cell, address);
}

}  // namespace

ConversationTracker::ConversationTracker() : ConversationTracker(Options{}) {}

ConversationTracker::ConversationTracker(Options options)
    : options_(options),
      table_(options.capacity),
      owners_(options.owners),
      names_(options.names),
      places_(options.places) {
    tap_.SetFirstSeen([this](const ConversationDeltas::Entry& e, bool onThisHost) {
        if (onThisHost && hintOwners_.load(std::memory_order_relaxed) &&
            (e.key.protocol == kProtocolTcp || e.key.protocol == kProtocolUdp))
            owners_.Hint(e.key, e.counts.outDatagrams > 0);
    });
}

ConversationTracker::~ConversationTracker() = default;

void ConversationTracker::BeginCapture(bool fromFile, const std::string& selectedLocal) {
    fromFile_ = fromFile;
    if (!fromFile && !addressChanges_) {
        addressChanges_ = std::make_unique<AddressChanges>();
        if (addressChanges_->Fd() >= 0) {
            addressNotifier_ =
                std::make_unique<QSocketNotifier>(addressChanges_->Fd(), QSocketNotifier::Read);
            QObject::connect(addressNotifier_.get(), &QSocketNotifier::activated, [this] {
                if (addressChanges_->Drain() && !fromFile_ && local_ != 0)
                    tap_.LocalAddressesChanged(FormatIp(IpAddress(local_)));
            });
        }
        // A change between the capture's start and the watch's is not missed.
        if (!selectedLocal.empty())
            tap_.LocalAddressesChanged(selectedLocal);
    }
    hintOwners_.store(!fromFile, std::memory_order_relaxed);
    local_ = 0;
    ParseIpv4(selectedLocal, &local_);
    table_.Clear();
    rates_.Clear();
    wireNames_.ForgetConnections();
    ++captures_;
    spans_.push_back(Span{fromFile, local_, 0, 0, false});
    if (spans_.size() > kSpansKept)
        spans_.pop_front();
    // Every tooltip and line names the local side.
    if (!fromFile && local_ != 0)
        AskName(local_);
}

void ConversationTracker::Merge(const ConversationDeltas& deltas) {
    if (spans_.empty())
        spans_.push_back(Span{fromFile_, local_, 0, 0, false});
    Span& span = spans_.back();
    for (const ConversationDeltas::Entry& e : deltas.Entries()) {
        if (e.counts.inDatagrams + e.counts.outDatagrams == 0)
            continue;
        span.firstNs = span.any ? std::min(span.firstNs, e.counts.firstNs) : e.counts.firstNs;
        span.lastNs = span.any ? std::max(span.lastNs, e.counts.lastNs) : e.counts.lastNs;
        span.any = true;
    }
    wireNames_.Take(deltas);
    const MergeReport report = table_.Merge(deltas);
    rates_.Add(deltas);
    AskWaitingNames();
    for (const ConversationKey& key : report.added) {
        AskName(key.remoteAddr);
        // The selected address was asked once; another local side (a
        // capture file's, forwarded traffic) is a host of its own.
        const Conversation* c = table_.Find(key);
        if (c != nullptr && !OnThisHost(key, c->localSelected))
            AskName(key.localAddr);
    }
    if (fromFile_)
        return;
    if (liveObserver_)
        liveObserver_(deltas);
    // Active ones too: a result older than the service's refresh time is
    // looked up again, so a reused port shows its new program.
    for (const ConversationKey& key : report.active) {
        if (const Conversation* c = table_.Find(key))
            owners_.Request(key, OnThisHost(key, c->localSelected), c->counts.outDatagrams > 0);
    }
}

void ConversationTracker::Tick() {
    AskWaitingNames();
    if (fromFile_)
        return;
    // The service looks a conversation up again once its result is older
    // than its refresh time; a little longer than that after the last
    // datagram, one request is sure to find the result old.
    const auto recent = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            options_.owners.refreshAfter + std::chrono::seconds(10))
                            .count();
    const int64_t since = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count() -
                          recent;
    for (const Conversation& c : table_.Rows()) {
        if (c.counts.lastNs >= since)
            owners_.Request(c.key, OnThisHost(c.key, c.localSelected), c.counts.outDatagrams > 0);
    }
}

bool ConversationTracker::OnThisHost(const ConversationKey& key, bool localSelected,
                                     uint32_t local) const {
    // Both sides on the selected address (loopback) leave the key's local
    // side to the port rule, and not "selected": it is this host's all the same.
    return localSelected || (local != 0 && key.localAddr == IpAddress(local));
}

bool ConversationTracker::OnThisHost(const ConversationKey& key, bool localSelected) const {
    return OnThisHost(key, localSelected, local_);
}

OwnerInfo ConversationTracker::Owner(const Conversation& conversation) const {
    if (fromFile_) {
        OwnerInfo o;
        o.state = OwnerState::kFromFile;
        return o;
    }
    return owners_.Result(conversation.key);
}

NameService::Result ConversationTracker::Name(const IpAddress& address) const {
    NameService::Result r = names_.Lookup(address);
    if (r.state == NameService::State::kNotAsked && !NeverNamed(address)) {
        AskName(address);
        r = names_.Lookup(address);
    }
    return r;
}

ConversationTracker::HostName ConversationTracker::BestName(const ConversationKey& key) const {
    SourcedName wire = wireNames_.Named(key);
    if (wire.source != NameSource::kNone)
        return HostName{std::move(wire.name), wire.source, false};
    NameService::Result r = Name(key.remoteAddr);
    if (r.state == NameService::State::kFound)
        return HostName{std::move(r.name), NameSource::kReverse, false};
    return HostName{{}, NameSource::kNone, r.state == NameService::State::kPending};
}

std::string ConversationTracker::BestAddressName(const IpAddress& address) const {
    std::string answered = wireNames_.Answered(IpAddress(local_), address);
    if (!answered.empty())
        return answered;
    const NameService::Result r = names_.Lookup(address);
    return r.state == NameService::State::kFound ? r.name : std::string();
}

uint64_t ConversationTracker::Version() const {
    // Each counter only grows, so their sum moves whenever one does.
    return table_.RowsVersion() + table_.ValuesVersion() + owners_.Changes() + names_.Changes() +
           wireNames_.Changes() + places_.Changes() + captures_;
}

void ConversationTracker::AskName(const IpAddress& address) const {
    if (NeverNamed(address))
        return;
    names_.Request(address);
    // Refused only while the service's queue is full: asked again later.
    if (names_.Lookup(address).state == NameService::State::kNotAsked &&
        waitingSet_.size() < options_.capacity && waitingSet_.insert(address).second)
        namesWaiting_.push_back(address);
}

void ConversationTracker::AskWaitingNames() {
    while (!namesWaiting_.empty()) {
        const IpAddress address = namesWaiting_.front();
        names_.Request(address);
        if (names_.Lookup(address).state == NameService::State::kNotAsked)
            return;  // still no room
        namesWaiting_.pop_front();
        waitingSet_.erase(address);
    }
}

const ConversationTracker::Span* ConversationTracker::SpanOf(int64_t timeNs) const {
    for (auto it = spans_.rbegin(); it != spans_.rend(); ++it) {
        if (it->any && timeNs >= it->firstNs && timeNs <= it->lastNs)
            return &*it;
    }
    return spans_.empty() ? nullptr : &spans_.back();
}

std::string ConversationTracker::NameLine(const IpAddress& address) const {
    const NameService::Result r = Name(address);
    std::string line = FormatIp(address) + ": ";
    switch (r.state) {
        case NameService::State::kFound:
            return line +
                   FormatUtf8(IDS_TIP_NAME_SOURCE, {r.name, NameSourceText(NameSource::kReverse)});
        case NameService::State::kPending:
            return line + Utf8Resource(IDS_TIP_PENDING);
        case NameService::State::kTimedOut:
            return line + Utf8Resource(IDS_TIP_TIMED_OUT);
        case NameService::State::kNotAsked:
            // Never asked (the broadcast address), or waiting for room.
            return line + Utf8Resource(NeverNamed(address) ? IDS_TIP_NO_NAME : IDS_TIP_PENDING);
        case NameService::State::kNoName:
            break;
    }
    return line + Utf8Resource(IDS_TIP_NO_NAME);
}

std::string ConversationTracker::RemoteNameLine(const ConversationKey& key) const {
    // A name the traffic gave (the address asked for, the server named) is
    // the one the 连接 window shows; the reverse name otherwise.
    const SourcedName wire = wireNames_.Named(key);
    if (wire.source == NameSource::kNone)
        return NameLine(key.remoteAddr);
    return FormatIp(key.remoteAddr) + ": " +
           FormatUtf8(IDS_TIP_NAME_SOURCE, {wire.name, NameSourceText(wire.source)});
}

std::string ConversationTracker::DatagramToolTip(std::span<const uint8_t> datagram,
                                                 int64_t timeNs) const {
    const Span* span = SpanOf(timeNs);
    const bool fromFile = span != nullptr ? span->fromFile : fromFile_;
    const uint32_t local = span != nullptr ? span->local : local_;
    KeyedDatagram d;
    if (!KeyDatagram(datagram.data(), static_cast<int>(datagram.size()), local, &d))
        return {};
    OwnerInfo owner;
    if (fromFile) {
        owner.state = OwnerState::kFromFile;
    } else {
        owner = owners_.Result(d.key);
        // A row of an earlier capture, or of a conversation the table let go:
        // asked now, shown at the next hover.
        if (owner.state == OwnerState::kPending)
            owners_.Request(d.key, OnThisHost(d.key, d.localSelected, local),
                            d.direction == Direction::kOut);
        if (owner.state == OwnerState::kPending)
            owner = owners_.Result(d.key);
    }
    const bool out = d.direction == Direction::kOut;
    const IpAddress source = out ? d.key.localAddr : d.key.remoteAddr;
    const IpAddress destination = out ? d.key.remoteAddr : d.key.localAddr;
    std::string tip = FromGbk(LoadStringGbk(IDS_TIP_PROGRAM))
                          .arg(QString::fromStdString(OwnerPhrase(owner)))
                          .toStdString();
    tip += '\n' + (out ? NameLine(source) : RemoteNameLine(d.key));
    tip += '\n' + (out ? RemoteNameLine(d.key) : NameLine(destination));
    return tip;
}

std::string ConversationTracker::AddressToolTip(std::string_view sourceCell,
                                                std::string_view destinationCell) const {
    uint32_t source = 0;
    uint32_t destination = 0;
    if (!CellAddress(sourceCell, &source) || !CellAddress(destinationCell, &destination))
        return {};
    return NameLine(source) + '\n' + NameLine(destination);
}

QString EventRowToolTip(const ConversationTracker& tracker, const CellBlock& row,
                        const QString& cellText) {
    const RowAttachment a = ReadRowAttachment(row.Attachment());
    const std::string lines =
        !a.datagram.empty() ? tracker.DatagramToolTip(a.datagram, a.captureTimeNs)
                            : tracker.AddressToolTip(row.Cell(kColSrcAddr), row.Cell(kColDstAddr));
    // The cell's text came from outside: a line break in it is shown as an
    // escape, so that the breaks before our lines are the only real ones and
    // no payload can pass for a program or host line.
    const QString cell = DisplayableText(cellText);
    if (lines.empty())
        return PlainTextTip(cell);
    const QString talk = QString::fromStdString(lines);
    return PlainTextTip(cell.isEmpty() ? talk : cell + QStringLiteral("\n\n") + talk);
}
