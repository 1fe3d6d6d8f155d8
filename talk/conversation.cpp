#include "talk/conversation.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "wire/ipv4.h"
#include "wire/ipv6.h"

namespace {

int64_t SecondOf(int64_t ns) {
    const int64_t s = ns / 1000000000;
    return (ns % 1000000000 < 0) ? s - 1 : s;
}

}  // namespace

uint64_t HashConversationKey(const ConversationKey& key, uint64_t seed) {
    const uint64_t b =
        (uint64_t{key.localPort} << 24) | (uint64_t{key.remotePort} << 8) | key.protocol;
    if (!key.localAddr.IsIpv6() && !key.remoteAddr.IsIpv6()) {
        const uint64_t a = (uint64_t{key.localAddr.v4} << 32) | key.remoteAddr.v4;
        return MixHash(MixHash(a ^ seed) ^ (b + 0x9E3779B97F4A7C15ull));
    }
    const uint64_t a = HashIp(key.localAddr, seed) ^ MixHash(HashIp(key.remoteAddr, ~seed));
    return MixHash(a ^ (b + 0x9E3779B97F4A7C15ull));
}

namespace {

// An IPv4 datagram's sides stay two words until the key is written: the key's
// addresses are built in place, not copied whole through this struct, whose
// narrow stores a wide copy would wait for (a failed store forward) on every
// datagram.
struct Sides {
    uint8_t protocol = 0;
    bool ipv6 = false;
    uint32_t src4 = 0, dst4 = 0;
    Ipv6Address src6, dst6;  // IPv6 only
    bool srcLocal = false, dstLocal = false;
    uint16_t srcPort = 0, dstPort = 0;
    uint32_t bytes = 0;
    PayloadSpan payload;
};

// The payload up to the end the IP header gives, when that is shorter than
// what was received (an Ethernet frame's padding).
PayloadSpan WithinLength(PayloadSpan p, size_t ipEnd) {
    if (ipEnd < p.offset + p.size)
        p.size = ipEnd > p.offset ? ipEnd - p.offset : 0;
    return p;
}

bool ReadIpv4(const uint8_t* data, int length, uint32_t selectedLocal, Sides* s) {
    const Ipv4View ip(data, length);
    if (!ip.HasFixedHeader() || ip.Version() != 4 || !ip.HeaderComplete())
        return false;
    s->protocol = ip.Protocol();
    const uint32_t src = ip.Source();
    const uint32_t dst = ip.Destination();
    if ((s->protocol == kProtocolTcp || s->protocol == kProtocolUdp) && ip.FirstFragment()) {
        if (!ip.HasPorts())
            return false;
        s->srcPort = ip.SourcePort();
        s->dstPort = ip.DestinationPort();
        s->payload = ip.Payload();
    }
    s->src4 = src;
    s->dst4 = dst;
    s->srcLocal = selectedLocal != 0 && src == selectedLocal;
    s->dstLocal = selectedLocal != 0 && dst == selectedLocal;
    // The header's total length, so that a capture cut at a snap length still
    // counts what was sent; a nonsensical one falls back to what was received.
    const uint16_t total = ip.TotalLength();
    s->bytes = total >= ip.HeaderLength() ? total : static_cast<uint32_t>(ip.Size());
    if (total >= ip.HeaderLength())
        s->payload = WithinLength(s->payload, total);
    return true;
}

bool ReadIpv6(const uint8_t* data, int length, std::span<const Ipv6Address> local, Sides* s) {
    const Ipv6View ip(data, length);
    if (!ip.HasFixedHeader() || ip.Version() != 6 || !ip.Walked())
        return false;
    s->protocol = ip.Protocol();
    if ((s->protocol == kProtocolTcp || s->protocol == kProtocolUdp) && ip.FirstFragment()) {
        if (!ip.HasPorts())
            return false;
        s->srcPort = ip.SourcePort();
        s->dstPort = ip.DestinationPort();
        s->payload = ip.Payload();
    }
    s->ipv6 = true;
    s->src6 = ip.Source();
    s->dst6 = ip.Destination();
    s->srcLocal = std::find(local.begin(), local.end(), s->src6) != local.end();
    s->dstLocal = std::find(local.begin(), local.end(), s->dst6) != local.end();
    const uint32_t claimed = ip.ClaimedLength();
    s->bytes = claimed != 0 ? claimed : static_cast<uint32_t>(ip.Size());
    if (claimed != 0)
        s->payload = WithinLength(s->payload, claimed);
    return true;
}

// Field by field: an IpAddress made on the stack and copied whole is read
// back before its narrow stores have landed.
void SetIpv4(IpAddress& a, uint32_t v4) {
    a.family = IpAddress::kIpv4;
    a.v4 = v4;
    a.v6 = {};
}

}  // namespace

bool KeyDatagram(const uint8_t* data, int length, const LocalAddresses& local, KeyedDatagram* out) {
    Sides s;
    const bool ipv6 = length > 0 && (data[0] >> 4) == 6;
    if (!(ipv6 ? ReadIpv6(data, length, local.ipv6, &s) : ReadIpv4(data, length, local.ipv4, &s)))
        return false;

    bool srcIsLocal;
    bool selected = false;
    if (s.srcLocal != s.dstLocal) {
        srcIsLocal = s.srcLocal;
        selected = true;
    } else if (s.srcPort != s.dstPort) {
        srcIsLocal = s.srcPort > s.dstPort;
    } else {
        // The lower address, as CompareIp orders one family.
        srcIsLocal = s.ipv6 ? s.src6 <= s.dst6 : s.src4 <= s.dst4;
    }

    ConversationKey& key = out->key;
    key.protocol = s.protocol;
    if (s.ipv6) {
        key.localAddr = IpAddress::FromIpv6(srcIsLocal ? s.src6 : s.dst6);
        key.remoteAddr = IpAddress::FromIpv6(srcIsLocal ? s.dst6 : s.src6);
    } else {
        SetIpv4(key.localAddr, srcIsLocal ? s.src4 : s.dst4);
        SetIpv4(key.remoteAddr, srcIsLocal ? s.dst4 : s.src4);
    }
    key.localPort = srcIsLocal ? s.srcPort : s.dstPort;
    key.remotePort = srcIsLocal ? s.dstPort : s.srcPort;
    out->direction = srcIsLocal ? Direction::kOut : Direction::kIn;
    out->localSelected = selected;
    out->bytes = s.bytes;
    out->payloadOffset = static_cast<uint32_t>(s.payload.offset);
    out->payloadSize = static_cast<uint32_t>(s.payload.size);
    return true;
}

void ConversationCounts::Add(Direction direction, uint64_t bytes, int64_t timeNs) {
    if (direction == Direction::kIn) {
        ++inDatagrams;
        inBytes += bytes;
    } else {
        ++outDatagrams;
        outBytes += bytes;
    }
    if (inDatagrams + outDatagrams == 1 || timeNs < firstNs)
        firstNs = timeNs;
    if (inDatagrams + outDatagrams == 1 || timeNs > lastNs)
        lastNs = timeNs;
}

void ConversationCounts::Add(const ConversationCounts& other) {
    const uint64_t before = inDatagrams + outDatagrams;
    if (other.inDatagrams + other.outDatagrams == 0)
        return;
    inDatagrams += other.inDatagrams;
    inBytes += other.inBytes;
    outDatagrams += other.outDatagrams;
    outBytes += other.outBytes;
    firstNs = before == 0 ? other.firstNs : std::min(firstNs, other.firstNs);
    lastNs = before == 0 ? other.lastNs : std::max(lastNs, other.lastNs);
}

ConversationDeltas::ConversationDeltas(size_t maxConversations, size_t maxSeconds)
    : maxEntries_(std::max<size_t>(maxConversations, 1)),
      maxSeconds_(std::max<size_t>(maxSeconds, 1)),
      seed_(RandomIpHashSeed()) {
    // At most half the slots are ever taken, so probes stay short.
    const size_t slots = std::bit_ceil(maxEntries_ * 2);
    mask_ = slots - 1;
    slots_.assign(slots, 0);
    slotOf_.reserve(maxEntries_);
    entries_.reserve(maxEntries_);
    seconds_.reserve(maxSeconds_);
    samples_.reserve(kMaxSamples);
    sampleStore_.assign(kSampleStore, 0);
}

SecondCounts* ConversationDeltas::SecondFor(int64_t second) {
    // Times mostly rise, so the second is nearly always the last one.
    for (size_t i = seconds_.size(); i-- > 0;) {
        if (seconds_[i].second == second)
            return &seconds_[i];
    }
    if (seconds_.size() == maxSeconds_)
        return nullptr;
    seconds_.push_back(SecondCounts{second, 0, 0, 0, 0});
    return &seconds_.back();
}

void ConversationDeltas::Add(const KeyedDatagram& d, int64_t timeNs) {
    if (SecondCounts* s = SecondFor(SecondOf(timeNs))) {
        if (d.direction == Direction::kIn) {
            ++s->inDatagrams;
            s->inBytes += d.bytes;
        } else {
            ++s->outDatagrams;
            s->outBytes += d.bytes;
        }
    } else {
        ++lostRateDatagrams_;
    }

    size_t slot = HashConversationKey(d.key, seed_) & mask_;
    for (;;) {
        const uint32_t taken = slots_[slot];
        if (taken == 0)
            break;
        Entry& e = entries_[taken - 1];
        if (e.key == d.key) {
            e.counts.Add(d.direction, d.bytes, timeNs);
            return;
        }
        slot = (slot + 1) & mask_;
    }
    if (entries_.size() == maxEntries_) {
        ++lostDatagrams_;
        lostBytes_ += d.bytes;
        return;
    }
    entries_.push_back(Entry{d.key, d.localSelected, {}});
    entries_.back().counts.Add(d.direction, d.bytes, timeNs);
    slots_[slot] = static_cast<uint32_t>(entries_.size());
    slotOf_.push_back(static_cast<uint32_t>(slot));
}

bool ConversationDeltas::AddDatagram(const uint8_t* data, int length, const LocalAddresses& local,
                                     int64_t timeNs, KeyedDatagram* keyed) {
    KeyedDatagram d;
    if (!KeyDatagram(data, length, local, &d)) {
        ++unkeyed_;
        return false;
    }
    Add(d, timeNs);
    if (keyed != nullptr)
        *keyed = d;
    return true;
}

bool ConversationDeltas::AddSample(const ConversationKey& key, Direction direction, AppProtocol app,
                                   std::span<const uint8_t> bytes) {
    const size_t size = std::min(bytes.size(), kMaxSampleBytes);
    if (samples_.size() == kMaxSamples || size > sampleStore_.size() - sampleUsed_) {
        ++lostSamples_;
        return false;
    }
    if (size != 0)
        std::memcpy(sampleStore_.data() + sampleUsed_, bytes.data(), size);
    samples_.push_back(Sample{key, direction, app, static_cast<uint32_t>(sampleUsed_),
                              static_cast<uint32_t>(size)});
    sampleUsed_ += size;
    return true;
}

void ConversationDeltas::Clear() {
    for (const uint32_t slot : slotOf_)
        slots_[slot] = 0;
    slotOf_.clear();
    entries_.clear();
    seconds_.clear();
    samples_.clear();
    sampleUsed_ = 0;
    lostSamples_ = 0;
    lostDatagrams_ = 0;
    lostBytes_ = 0;
    lostRateDatagrams_ = 0;
    unkeyed_ = 0;
}

ConversationTable::ConversationTable(size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) {
    rows_.reserve(capacity_);
    index_.reserve(capacity_);
}

const Conversation* ConversationTable::Find(const ConversationKey& key) const {
    const auto it = index_.find(key);
    return it == index_.end() ? nullptr : &rows_[it->second];
}

long ConversationTable::IndexOfId(uint64_t id) const {
    // Rows stay in the order of their ids.
    const auto it = std::lower_bound(rows_.begin(), rows_.end(), id,
                                     [](const Conversation& c, uint64_t v) { return c.id < v; });
    return it != rows_.end() && it->id == id ? static_cast<long>(it - rows_.begin()) : -1;
}

void ConversationTable::Clear() {
    rows_.clear();
    index_.clear();
    dropped_ = 0;
    lostDatagrams_ = 0;
    unkeyed_ = 0;
    ++rowsVersion_;
    ++valuesVersion_;
}

void ConversationTable::Reindex() {
    index_.clear();
    for (size_t i = 0; i < rows_.size(); ++i)
        index_.emplace(rows_[i].key, i);
}

size_t ConversationTable::DropLeastActive() {
    const size_t excess = rows_.size() - capacity_;
    std::vector<size_t> order(rows_.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const auto lessActive = [this](size_t a, size_t b) {
        const Conversation& x = rows_[a];
        const Conversation& y = rows_[b];
        return x.counts.lastNs != y.counts.lastNs ? x.counts.lastNs < y.counts.lastNs : x.id < y.id;
    };
    std::nth_element(order.begin(), order.begin() + static_cast<long>(excess) - 1, order.end(),
                     lessActive);
    std::vector<bool> drop(rows_.size(), false);
    for (size_t i = 0; i < excess; ++i)
        drop[order[i]] = true;
    size_t kept = 0;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (!drop[i])
            rows_[kept++] = rows_[i];
    }
    rows_.resize(kept);
    Reindex();
    return excess;
}

MergeReport ConversationTable::Merge(const ConversationDeltas& deltas) {
    MergeReport report;
    lostDatagrams_ += deltas.LostDatagrams();
    unkeyed_ += deltas.Unkeyed();
    const auto entries = deltas.Entries();
    if (entries.empty())
        return report;
    report.active.reserve(entries.size());
    for (const ConversationDeltas::Entry& e : entries) {
        const auto [it, inserted] = index_.try_emplace(e.key, rows_.size());
        if (inserted) {
            rows_.push_back(Conversation{nextId_++, e.key, e.localSelected, e.counts});
            report.added.push_back(e.key);
        } else {
            Conversation& c = rows_[it->second];
            c.counts.Add(e.counts);
            // Follows the selected address, which may have changed between captures.
            c.localSelected = e.localSelected;
        }
        report.active.push_back(e.key);
    }
    ++valuesVersion_;
    if (!report.added.empty())
        ++rowsVersion_;
    if (rows_.size() > capacity_) {
        report.dropped = DropLeastActive();
        dropped_ += report.dropped;
        const auto gone = [this](const ConversationKey& k) { return !index_.contains(k); };
        std::erase_if(report.added, gone);
        std::erase_if(report.active, gone);
    }
    return report;
}
