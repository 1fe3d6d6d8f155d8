#include "talk/conversation_tap.h"

void ConversationTap::Begin(std::string_view selectedLocal) {
    selectedLocal_ = 0;
    ParseIpv4(selectedLocal, &selectedLocal_);
    localIpv6_.clear();
    if (selectedLocal_ != 0 && ipv6Beside_)
        localIpv6_ = ipv6Beside_(selectedLocal);
    deltas_[0].Clear();
    deltas_[1].Clear();
}

bool ConversationTap::Add(int batch, std::span<const uint8_t> datagram, int64_t timeNs) {
    ConversationDeltas& deltas = deltas_[batch];
    const size_t before = deltas.Entries().size();
    deltas.AddDatagram(datagram.data(), static_cast<int>(datagram.size()),
                       LocalAddresses{selectedLocal_, localIpv6_}, timeNs);
    if (firstSeen_ && deltas.Entries().size() > before) {
        // Both ends on the selected address (loopback) leave the key's local
        // side to the port rule: this host's all the same.
        const ConversationDeltas::Entry& e = deltas.Entries().back();
        firstSeen_(e, e.localSelected ||
                          (selectedLocal_ != 0 && e.key.localAddr == IpAddress(selectedLocal_)));
    }
    return deltas.HandOverDue();
}

void ConversationTap::Inserted(int batch) {
    if (handler_ && !deltas_[batch].Empty())
        handler_(deltas_[batch]);
}
