#pragma once
// Conversations: every datagram between one local and one remote address and
// port pair of one protocol, in both directions. The capture thread counts
// them per batch (ConversationDeltas); the interface thread adds each batch
// to the table of conversations (ConversationTable).
//
// Addresses are IPv4 (in host order, the first dotted field in the top byte)
// or IPv6; one conversation's two sides are always of one family.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "wire/app_protocol.h"
#include "wire/ip_address.h"
#include "wire/ipv4.h"
#include "wire/ipv6.h"

struct ConversationKey {
    // The IPv4 protocol number, or IPv6's upper-layer header (TCP 6, UDP 17,
    // ICMPv6 58); ports are 0 unless TCP or UDP.
    uint8_t protocol = 0;
    IpAddress localAddr;
    uint16_t localPort = 0;
    IpAddress remoteAddr;
    uint16_t remotePort = 0;

    friend bool operator==(const ConversationKey&, const ConversationKey&) = default;
};

// Mixes a key with a seed (an IPv4 key by its two words alone). The seed is chosen per map, so that
// traffic cannot be made to collide on purpose without knowing it.
uint64_t HashConversationKey(const ConversationKey& key, uint64_t seed);

struct ConversationKeyHash {
    uint64_t seed = RandomIpHashSeed();
    size_t operator()(const ConversationKey& key) const {
        return static_cast<size_t>(HashConversationKey(key, seed));
    }
};

enum class Direction : uint8_t { kIn, kOut };

struct KeyedDatagram {
    ConversationKey key;
    Direction direction = Direction::kIn;
    // The local side is the selected local address. When it is not (neither
    // side is, as in a capture file or forwarded traffic), the sides were
    // assigned by the rule of KeyDatagram and the local side need not be
    // this host.
    bool localSelected = false;
    uint32_t bytes = 0;  // the datagram's IPv4 total length, or 40 + IPv6 payload length
    // The TCP or UDP payload within the received bytes (none in a later
    // fragment): from `payloadOffset` of the datagram, `payloadSize` bytes,
    // without a link layer's padding past the IP length.
    uint32_t payloadOffset = 0;
    uint32_t payloadSize = 0;
};

// This host's side of the traffic: the selected IPv4 address (0: none) and
// the IPv6 addresses of its interface.
struct LocalAddresses {
    uint32_t ipv4 = 0;
    std::span<const Ipv6Address> ipv6;
};

// The conversation of one received IPv4 or IPv6 datagram (header first).
// Reads only the first `length` bytes. False, with `out` untouched, for a
// datagram of neither version, whose header (IPv6: with its extension
// headers) does not fit, or (TCP, UDP) whose ports are not all there.
// Fragments after the first carry no ports; they count under ports 0 of their
// protocol.
//
// The side whose address is one of `local` (the selected IPv4 address, or
// for IPv6 one of the interface's) becomes the local side. When neither side
// has one (or both do), the side with the higher port is taken as local
// (clients use high, temporary ports and services low ones, so the local side
// is the client), and at equal ports the side with the lower address: both
// directions of an exchange always give one key.
bool KeyDatagram(const uint8_t* data, int length, const LocalAddresses& local, KeyedDatagram* out);
// The same with a selected IPv4 address alone (0: none).
inline bool KeyDatagram(const uint8_t* data, int length, uint32_t selectedLocal,
                        KeyedDatagram* out) {
    return KeyDatagram(data, length, LocalAddresses{selectedLocal, {}}, out);
}

// Counts of one conversation over some span of time.
struct ConversationCounts {
    uint64_t inDatagrams = 0;
    uint64_t inBytes = 0;
    uint64_t outDatagrams = 0;
    uint64_t outBytes = 0;
    int64_t firstNs = 0;  // datagram times, nanoseconds since the epoch
    int64_t lastNs = 0;

    void Add(Direction direction, uint64_t bytes, int64_t timeNs);
    void Add(const ConversationCounts& other);
};

// Datagrams and bytes of one second, in both directions.
struct SecondCounts {
    int64_t second = 0;  // since the epoch
    uint64_t inDatagrams = 0;
    uint64_t inBytes = 0;
    uint64_t outDatagrams = 0;
    uint64_t outBytes = 0;
};

// What the capture thread counted since the last hand-over. Filled on the
// capture thread for every datagram that passes the filter, handed with each
// batch of rows to the interface thread (which merges it, into the table and
// the rates, inside the task the capture thread waits for), then cleared by
// the capture thread once the hand-over returned. A cancelled hand-over
// leaves it as it is, to go with the next batch. It has no lock of its own:
// the hand-over orders the two threads' use of it.
//
// All storage is taken at construction: Add never allocates. Its map holds at
// most `maxConversations`; once HandOverDue says so the capture thread should
// hand the batch over at once. A datagram that finds the map full all the same
// is counted as lost (LostDatagrams), never silently dropped; the same holds
// for the per-second totals, of which a batch holds up to `maxSeconds`
// (a capture file played fast spans many seconds in one batch).
class ConversationDeltas {
  public:
    struct Entry {
        ConversationKey key;
        bool localSelected = false;
        ConversationCounts counts;
    };

    // A payload kept for the interface thread to read names and the
    // application from (ConversationTap chooses them): its conversation and
    // direction, what its first bytes showed, and its first bytes (none when
    // the application is all there is to know).
    struct Sample {
        ConversationKey key;
        Direction direction = Direction::kIn;
        AppProtocol app = AppProtocol::kUnknown;
        uint32_t offset = 0;  // in the store
        uint32_t size = 0;
    };
    static constexpr size_t kMaxSamples = 64;
    static constexpr size_t kSampleStore = 64 * 1024;
    static constexpr size_t kMaxSampleBytes = 4096;  // a longer payload keeps its first bytes

    explicit ConversationDeltas(size_t maxConversations = 4096, size_t maxSeconds = 64);

    // Capture thread.
    void Add(const KeyedDatagram& datagram, int64_t timeNs);
    // Keys and adds one datagram; false (counted as unkeyed) when it gives no
    // key. `keyed`, when given, receives the key.
    bool AddDatagram(const uint8_t* data, int length, const LocalAddresses& local, int64_t timeNs,
                     KeyedDatagram* keyed = nullptr);
    // Keeps a sample; false (counted in LostSamples) when the store is full.
    bool AddSample(const ConversationKey& key, Direction direction, AppProtocol app,
                   std::span<const uint8_t> bytes);
    bool AddDatagram(const uint8_t* data, int length, uint32_t selectedLocal, int64_t timeNs) {
        return AddDatagram(data, length, LocalAddresses{selectedLocal, {}}, timeNs);
    }
    // Three quarters of the map or of the seconds are taken.
    bool HandOverDue() const {
        return entries_.size() * 4 >= maxEntries_ * 3 || seconds_.size() * 4 >= maxSeconds_ * 3;
    }
    void Clear();

    // Read by whoever merges, in the order conversations first appeared.
    std::span<const Entry> Entries() const { return entries_; }
    std::span<const SecondCounts> Seconds() const { return seconds_; }
    std::span<const Sample> Samples() const { return samples_; }
    std::span<const uint8_t> SampleBytes(const Sample& s) const {
        return std::span<const uint8_t>(sampleStore_).subspan(s.offset, s.size);
    }
    uint64_t LostSamples() const { return lostSamples_; }
    bool Empty() const { return entries_.empty() && lostDatagrams_ == 0 && unkeyed_ == 0; }
    // Datagrams (and bytes) not in Entries because the map was full.
    uint64_t LostDatagrams() const { return lostDatagrams_; }
    uint64_t LostBytes() const { return lostBytes_; }
    // Datagrams not in Seconds because the seconds were full.
    uint64_t LostRateDatagrams() const { return lostRateDatagrams_; }
    // Datagrams that gave no key (too short, neither IPv4 nor IPv6, a broken
    // IPv6 header chain).
    uint64_t Unkeyed() const { return unkeyed_; }

  private:
    SecondCounts* SecondFor(int64_t second);

    size_t maxEntries_;
    size_t maxSeconds_;
    size_t mask_;
    uint64_t seed_;
    std::vector<uint32_t> slots_;        // index into entries_ plus one; 0 is empty
    std::vector<uint32_t> slotOf_;       // each entry's slot, for a clear that visits only those
    std::vector<Entry> entries_;         // capacity reserved up front
    std::vector<SecondCounts> seconds_;  // capacity reserved up front
    std::vector<Sample> samples_;        // capacity reserved up front
    std::vector<uint8_t> sampleStore_;   // kSampleStore bytes, of which sampleUsed_ are taken
    size_t sampleUsed_ = 0;
    uint64_t lostSamples_ = 0;
    uint64_t lostDatagrams_ = 0;
    uint64_t lostBytes_ = 0;
    uint64_t lostRateDatagrams_ = 0;
    uint64_t unkeyed_ = 0;
};

// One line of the table.
struct Conversation {
    uint64_t id = 0;  // never reused within one table
    ConversationKey key;
    bool localSelected = false;
    ConversationCounts counts;
};

struct MergeReport {
    std::vector<ConversationKey> added;   // new since the last merge and still held
    std::vector<ConversationKey> active;  // every held conversation this batch touched
    size_t dropped = 0;                   // conversations dropped by this merge
};

// The conversations of the interface thread, at most `capacity` of them. When
// more come, the least recently active (by their last datagram's time, then
// the oldest) are dropped first and counted.
//
// Rows keep the order in which conversations first came. A view model tells
// what changed by two counters: RowsVersion moves when rows were added or
// removed (indices shift then; ids stay), ValuesVersion when any count moved.
class ConversationTable {
  public:
    explicit ConversationTable(size_t capacity = 10000);

    MergeReport Merge(const ConversationDeltas& deltas);
    void Clear();

    const std::vector<Conversation>& Rows() const { return rows_; }
    size_t Size() const { return rows_.size(); }
    size_t Capacity() const { return capacity_; }
    const Conversation* Find(const ConversationKey& key) const;
    // The row index of a conversation id, or -1 once it was dropped.
    long IndexOfId(uint64_t id) const;

    uint64_t RowsVersion() const { return rowsVersion_; }
    uint64_t ValuesVersion() const { return valuesVersion_; }
    // Conversations dropped to stay within the capacity, since the last Clear.
    uint64_t Dropped() const { return dropped_; }
    // Datagrams the capture thread could not account to a conversation.
    uint64_t LostDatagrams() const { return lostDatagrams_; }
    uint64_t Unkeyed() const { return unkeyed_; }

  private:
    size_t DropLeastActive();
    void Reindex();

    size_t capacity_;
    std::vector<Conversation> rows_;
    std::unordered_map<ConversationKey, size_t, ConversationKeyHash> index_;
    uint64_t nextId_ = 1;
    uint64_t rowsVersion_ = 0;
    uint64_t valuesVersion_ = 0;
    uint64_t dropped_ = 0;
    uint64_t lostDatagrams_ = 0;
    uint64_t unkeyed_ = 0;
};
