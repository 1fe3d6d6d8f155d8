#pragma once
// The conversation counts of each batch of rows: the capture thread counts
// into the batch's ConversationDeltas, and the handler gets them on the
// interface thread as the batch's rows reach the list.
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "capture/batch_tap.h"
#include "talk/conversation.h"
#include "wire/interfaces.h"

class ConversationTap final : public BatchTap {
  public:
    using Handler = std::function<void(const ConversationDeltas&)>;
    // The IPv6 addresses that are this host's beside a dotted IPv4 address:
    // by default those of the interface that holds it.
    using Ipv6Beside = std::function<std::vector<Ipv6Address>(std::string_view ipv4)>;
    explicit ConversationTap(Handler handler, Ipv6Beside ipv6 = Ipv6AddressesBeside)
        : handler_(std::move(handler)), ipv6Beside_(std::move(ipv6)) {}

    // Capture thread: each conversation as its first datagram of a batch is
    // counted (for the owner lookups that cannot wait for the batch). Set
    // before a capture starts; must never allocate or wait.
    using FirstSeen = std::function<void(const ConversationDeltas::Entry&, bool onThisHost)>;
    void SetFirstSeen(FirstSeen firstSeen) { firstSeen_ = std::move(firstSeen); }

    void Begin(std::string_view selectedLocal) override;
    bool Add(int batch, std::span<const uint8_t> datagram, int64_t timeNs) override;
    void Inserted(int batch) override;
    void Clear(int batch) override { deltas_[batch].Clear(); }

  private:
    Handler handler_;
    Ipv6Beside ipv6Beside_;
    FirstSeen firstSeen_;
    uint32_t selectedLocal_ = 0;  // host order; 0: none
    // Taken when the capture begins: an address the interface gains later
    // is keyed by the port rule until the next capture.
    std::vector<Ipv6Address> localIpv6_;
    ConversationDeltas deltas_[2];
};
