#include "talk/conversation_tap.h"

#include <algorithm>

#include "wire/dns_message.h"

namespace {

constexpr size_t kLookedSlots = 8192;  // a power of two
constexpr uint64_t kCountBits = 0xFF;
constexpr size_t kRecentSlots = 4096;  // a power of two
constexpr uint64_t kRecentTimeBits = 0xFFFFFF;
constexpr int kRecentUnitShift = 28;  // about a quarter of a second
// Seen within this many units: not news. Batches come every period, so a
// conversation that goes on is first in each of them well within it.
constexpr uint64_t kRecentUnits = 8;

}  // namespace

ConversationTap::ConversationTap(Handler handler, Ipv6Beside ipv6)
    : handler_(std::move(handler)),
      ipv6Beside_(std::move(ipv6)),
      looked_(kLookedSlots, 0),
      recent_(kRecentSlots, 0),
      seed_(RandomIpHashSeed()) {
    localIpv6_.reserve(kMaxLocalIpv6);
    newIpv6_.reserve(kMaxLocalIpv6);
}

void ConversationTap::Begin(std::string_view selectedLocal) {
    selectedLocal_ = 0;
    ParseIpv4(selectedLocal, &selectedLocal_);
    {
        // A change told of before this capture is read below anyway.
        std::lock_guard lock(newIpv6Lock_);
        ipv6Changed_.store(false, std::memory_order_relaxed);
    }
    const std::vector<Ipv6Address> found = LocalIpv6Beside(selectedLocal);
    localIpv6_.assign(found.begin(), found.end());
    deltas_[0].Clear();
    deltas_[1].Clear();
    std::fill(looked_.begin(), looked_.end(), 0);
    std::fill(recent_.begin(), recent_.end(), 0);
}

std::vector<Ipv6Address> ConversationTap::LocalIpv6Beside(std::string_view selectedLocal) const {
    uint32_t selected = 0;
    std::vector<Ipv6Address> found;
    if (ParseIpv4(selectedLocal, &selected) && selected != 0 && ipv6Beside_)
        found = ipv6Beside_(selectedLocal);
    found.resize(std::min(found.size(), kMaxLocalIpv6));
    return found;
}

void ConversationTap::LocalAddressesChanged(std::string_view selectedLocal) {
    const std::vector<Ipv6Address> found = LocalIpv6Beside(selectedLocal);
    std::lock_guard lock(newIpv6Lock_);
    newIpv6_.assign(found.begin(), found.end());
    ipv6Changed_.store(true, std::memory_order_release);
}

void ConversationTap::TakeNewIpv6() {
    std::unique_lock lock(newIpv6Lock_, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    localIpv6_.assign(newIpv6_.begin(), newIpv6_.end());  // within the reserved size
    ipv6Changed_.store(false, std::memory_order_relaxed);
}

bool ConversationTap::Add(int batch, std::span<const uint8_t> datagram, int64_t timeNs) {
    if (ipv6Changed_.load(std::memory_order_acquire))
        TakeNewIpv6();
    ConversationDeltas& deltas = deltas_[batch];
    const size_t before = deltas.Entries().size();
    KeyedDatagram d;
    const bool keyed = deltas.AddDatagram(datagram.data(), static_cast<int>(datagram.size()),
                                          LocalAddresses{selectedLocal_, localIpv6_}, timeNs, &d);
    if (deltas.Entries().size() > before) {
        const ConversationDeltas::Entry& e = deltas.Entries().back();
        // Both ends on the selected address (loopback) leave the key's local
        // side to the port rule: this host's all the same.
        if (NoteFirstInBatch(e.key, timeNs) && firstSeen_)
            firstSeen_(e, e.localSelected || (selectedLocal_ != 0 &&
                                              e.key.localAddr == IpAddress(selectedLocal_)));
    }
    if (keyed && d.payloadSize != 0)
        LookInto(deltas, d, datagram);
    return deltas.HandOverDue();
}

bool ConversationTap::NoteFirstInBatch(const ConversationKey& key, int64_t timeNs) {
    const uint64_t hash = HashConversationKey(key, seed_);
    uint64_t& slot = recent_[hash & (kRecentSlots - 1)];
    const uint64_t tag = hash & ~kRecentTimeBits;
    // Unsigned: a clock that stepped back makes news once, never none forever.
    const uint64_t unit = static_cast<uint64_t>(timeNs >> kRecentUnitShift) & kRecentTimeBits;
    const uint64_t age = (unit - (slot & kRecentTimeBits)) & kRecentTimeBits;
    const bool news = (slot & ~kRecentTimeBits) != tag || age > kRecentUnits;
    news_ += news ? 1 : 0;
    slot = tag | unit;
    return news;
}

void ConversationTap::LookInto(ConversationDeltas& deltas, const KeyedDatagram& d,
                               std::span<const uint8_t> datagram) {
    const ConversationKey& k = d.key;
    if (k.protocol != kProtocolTcp && k.protocol != kProtocolUdp)
        return;
    const bool out = d.direction == Direction::kOut;
    const uint16_t source = out ? k.localPort : k.remotePort;
    const uint16_t destination = out ? k.remotePort : k.localPort;
    const std::span<const uint8_t> bytes = datagram.subspan(d.payloadOffset, d.payloadSize);
    const PacketBytes payload(bytes.data(), static_cast<int>(bytes.size()));
    // Every answer: one socket may ask many questions.
    if (source == kDnsPort) {
        if (GuessAppProtocol(k.protocol, source, destination, payload) == AppProtocol::kDns)
            deltas.AddSample(k, d.direction, AppProtocol::kDns, bytes);
        return;
    }
    const uint64_t hash = HashConversationKey(k, seed_);
    uint64_t& slot = looked_[hash & (kLookedSlots - 1)];
    const uint64_t tag = hash & ~kCountBits;
    if ((slot & ~kCountBits) != tag)
        slot = tag;  // a conversation not looked at yet takes the slot
    if ((slot & kCountBits) >= kPayloadsLooked)
        return;
    ++slot;
    const AppProtocol app = GuessAppProtocol(k.protocol, source, destination, payload);
    if (app == AppProtocol::kUnknown)
        return;
    slot = tag | kPayloadsLooked;  // it said what it speaks: done with it
    // Only the ClientHello and the request carry a name.
    const bool named = app == AppProtocol::kTls || app == AppProtocol::kHttp;
    deltas.AddSample(k, d.direction, app, named ? bytes : std::span<const uint8_t>());
}

void ConversationTap::Inserted(int batch) {
    if (handler_ && !deltas_[batch].Empty())
        handler_(deltas_[batch]);
}
