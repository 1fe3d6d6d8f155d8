#pragma once
// The conversation counts of each batch of rows: the capture thread counts
// into the batch's ConversationDeltas, and the handler gets them on the
// interface thread as the batch's rows reach the list.
//
// The capture thread also keeps, as the batch's samples, the payloads that
// name hosts or show the application, for the interface thread to read
// (WireNames): every DNS answer (from port 53), and of any other TCP or UDP
// conversation only its first payloads, until one shows what it speaks
// (then the ClientHello's or the request's bytes are kept; for the other
// applications no bytes). It looks at a few bytes of each of those first
// payloads and no more; which conversations it has looked at lives in a
// fixed table of its own, where a newer conversation may take an older one's
// place (which is then looked at again from its next payload on).
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
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
    explicit ConversationTap(Handler handler, Ipv6Beside ipv6 = Ipv6AddressesBeside);

    // Capture thread: each conversation that is news (see News) as its first
    // datagram of a batch is counted, for the owner lookups that cannot wait
    // for the batch; a steady one was told of when it began and is looked up
    // again by the interface thread's requests. Set before a capture starts;
    // must never allocate or wait.
    using FirstSeen = std::function<void(const ConversationDeltas::Entry&, bool onThisHost)>;
    void SetFirstSeen(FirstSeen firstSeen) { firstSeen_ = std::move(firstSeen); }

    void Begin(std::string_view selectedLocal) override;
    // Interface thread, while a capture runs: the host's addresses changed.
    // The IPv6 ones beside `selectedLocal` are read again; the capture thread
    // takes them at its next datagram.
    void LocalAddressesChanged(std::string_view selectedLocal);
    // IPv6 addresses of the interface taken as this host's; past them the
    // port rule decides. Bounded so that taking a new set never allocates.
    static constexpr size_t kMaxLocalIpv6 = 64;
    bool Add(int batch, std::span<const uint8_t> datagram, int64_t timeNs) override;
    void Inserted(int batch) override;
    void Clear(int batch) override { deltas_[batch].Clear(); }
    // Conversations first seen in a batch that had not been seen for about
    // two seconds (or ever): a steady stream is news once.
    uint64_t News() const override { return news_; }

    // Payloads of one conversation looked at before it is given up on.
    static constexpr unsigned kPayloadsLooked = 4;

  private:
    // Whether the conversation is news.
    bool NoteFirstInBatch(const ConversationKey& key, int64_t timeNs);
    // The interface's IPv6 addresses beside the selected IPv4 one, at most
    // kMaxLocalIpv6; none without a selected address.
    std::vector<Ipv6Address> LocalIpv6Beside(std::string_view selectedLocal) const;
    void TakeNewIpv6();
    void LookInto(ConversationDeltas& deltas, const KeyedDatagram& d,
                  std::span<const uint8_t> datagram);

    Handler handler_;
    Ipv6Beside ipv6Beside_;
    FirstSeen firstSeen_;
    uint32_t selectedLocal_ = 0;  // host order; 0: none
    // Capture thread (and Begin before it starts). Read when the capture
    // begins and again at every change of the host's addresses.
    std::vector<Ipv6Address> localIpv6_;
    // The interface thread's newer set, taken by the capture thread when it
    // can have the lock at once (it never waits; the next datagram tries again).
    std::mutex newIpv6Lock_;
    std::vector<Ipv6Address> newIpv6_;
    std::atomic<bool> ipv6Changed_{false};
    ConversationDeltas deltas_[2];
    // Capture thread: per slot, a conversation's hash above the low byte and
    // the payloads looked at in it.
    std::vector<uint64_t> looked_;
    // Capture thread: per slot, a conversation's hash above the low bits and,
    // in them, when it was last first in a batch (wall clock, 2^28 ns units).
    std::vector<uint64_t> recent_;
    uint64_t news_ = 0;
    uint64_t seed_;
};
