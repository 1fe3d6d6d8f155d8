#pragma once
// Who is talking, for the main window: the conversations of the capture
// running now (or of the last one), their rates, the programs that own them
// and the host names of their addresses.
//
// Fed on the interface thread with the conversation counts of each batch the
// list takes (the capture thread counted them; see CaptureSession). The
// lookups run on threads of their own (OwnerService, NameService): the
// interface thread only asks for them, once per new or active conversation
// and batch, and reads their results; it never waits for one.
#include <QString>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>

#include "places/place_service.h"
#include "talk/conversation.h"
#include "talk/conversation_tap.h"
#include "talk/names.h"
#include "talk/owner.h"
#include "talk/rate_history.h"
#include "talk/wire_names.h"
#include "wire/interfaces.h"

class CellBlock;
class QSocketNotifier;

class ConversationTracker {
  public:
    struct Options {
        OwnerService::Options owners;
        NameService::Options names;
        PlaceService::Options places;
        size_t capacity = 10000;  // conversations held; the least active go first
    };
    ConversationTracker();  // with the default options
    explicit ConversationTracker(Options options);
    ~ConversationTracker();
    ConversationTracker(const ConversationTracker&) = delete;
    ConversationTracker& operator=(const ConversationTracker&) = delete;

    // Interface thread, before the capture's first batch: the conversations
    // and rates of the last capture are forgotten (owners and names stay
    // cached). `selectedLocal` is the dotted local address, or empty.
    // A live capture also watches the host's addresses from then on: an IPv6
    // address the interface gains or loses while it runs is this host's, or
    // no longer, from the next datagram on.
    void BeginCapture(bool fromFile, const std::string& selectedLocal);
    // Interface thread: one batch's counts, and lookups asked for what it touched.
    void Merge(const ConversationDeltas& deltas);
    // Interface thread, about once a second, also when no traffic comes:
    // conversations active lately are asked for again, so that each is
    // looked up once more after its last datagram (a program that closed
    // its socket then shows as closed), and names that found no room are asked.
    void Tick();

    const ConversationTable& Table() const { return table_; }
    const RateHistory& Rates() const { return rates_; }
    bool FromFile() const { return fromFile_; }
    bool Started() const { return !spans_.empty(); }

    // The owner as the window shows it: a capture file's read kFromFile.
    OwnerInfo Owner(const Conversation& conversation) const;
    // A name looked up; an address never asked is asked now.
    NameService::Result Name(const IpAddress& address) const;
    // The best name of a conversation's remote side and where it came from:
    // the connection's own (TLS, HTTP), a DNS answer's, else the reverse
    // name (asked for now, as Name does); `pending` while that is looked up.
    struct HostName {
        std::string name;
        NameSource source = NameSource::kNone;
        bool pending = false;
    };
    HostName BestName(const ConversationKey& key) const;
    // The same for an address alone (a DNS answer's, else the reverse
    // name): empty when none is known.
    std::string BestAddressName(const IpAddress& address) const;
    AppProtocol Application(const ConversationKey& key) const {
        return wireNames_.Application(key);
    }
    const WireNames& NamesOnTheWire() const { return wireNames_; }
    // Moves whenever a count, an owner or a name may have changed.
    uint64_t Version() const;
    uint64_t OwnerChanges() const { return owners_.Changes(); }
    uint64_t NameChanges() const { return names_.Changes() + wireNames_.Changes(); }
    // Where an address is, if looked up already (a named range always is);
    // otherwise asked for, off this thread, and nothing yet.
    std::optional<Place> PlaceOfAddress(const IpAddress& address) const {
        return places_.Lookup(address);
    }

    // The lines a tooltip of an event row adds: the program behind it and the
    // host name of each address. `datagram` is the row's own (its
    // attachment), captured at `timeNs`. UTF-8; empty when the datagram is
    // not IPv4.
    std::string DatagramToolTip(std::span<const uint8_t> datagram, int64_t timeNs) const;
    // The same from the address cells alone (a row without its datagram):
    // host names only. Cells are GBK, the local marker is skipped.
    std::string AddressToolTip(std::string_view sourceCell, std::string_view destinationCell) const;

    // Interface thread: each merged batch of a live capture (never a capture
    // file's) is also given to `observer` (the usage history's feed).
    void SetLiveObserver(std::function<void(const ConversationDeltas&)> observer) {
        liveObserver_ = std::move(observer);
    }

    // The capture session's tap: each batch's counts reach Merge with its rows.
    BatchTap& Tap() { return tap_; }
    OwnerService& Owners() { return owners_; }
    const NameService& Names() const { return names_; }

  private:
    // One capture: where its datagrams' times lie, so that a row still in the
    // list from an earlier capture is taken as that capture's.
    struct Span {
        bool fromFile = false;
        uint32_t local = 0;
        int64_t firstNs = 0;
        int64_t lastNs = 0;
        bool any = false;
    };
    static constexpr size_t kSpansKept = 16;
    const Span* SpanOf(int64_t timeNs) const;
    // The local side of the key is an address of this host: the selected one.
    bool OnThisHost(const ConversationKey& key, bool localSelected, uint32_t local) const;
    bool OnThisHost(const ConversationKey& key, bool localSelected) const;
    void AskName(const IpAddress& address) const;
    void AskWaitingNames();
    std::string NameLine(const IpAddress& address) const;
    std::string RemoteNameLine(const ConversationKey& key) const;

    Options options_;
    ConversationTable table_;
    RateHistory rates_;
    // Asking fills a cache: readers (a tooltip, the window) may ask.
    mutable OwnerService owners_;
    mutable NameService names_;
    WireNames wireNames_;
    mutable PlaceService places_;
    bool fromFile_ = false;
    uint32_t local_ = 0;
    std::deque<Span> spans_;  // the newest last
    // Addresses the name service had no room for yet, asked again with the next batches.
    mutable std::deque<IpAddress> namesWaiting_;
    mutable std::unordered_set<IpAddress, IpAddressHash> waitingSet_;
    uint64_t captures_ = 0;
    // Read by the capture thread: a live capture's new conversations are
    // looked up from there, as their first datagram is seen.
    std::atomic<bool> hintOwners_{false};
    std::function<void(const ConversationDeltas&)> liveObserver_;
    // Made at the first live capture; heeded while a live capture's address is selected.
    std::unique_ptr<AddressChanges> addressChanges_;
    std::unique_ptr<QSocketNotifier> addressNotifier_;
    ConversationTap tap_{[this](const ConversationDeltas& deltas) { Merge(deltas); }};
};

// The tooltip of an event row's cell: its text, then the lines of the
// tracker about the row (program and host names); plain text, however much
// the payload looks like markup (see PlainTextTip).
QString EventRowToolTip(const ConversationTracker& tracker, const CellBlock& row,
                        const QString& cellText);
