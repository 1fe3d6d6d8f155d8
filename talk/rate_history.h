#pragma once
// Datagrams and bytes per second, in and out, over the last five minutes, by
// the datagrams' own times: a ring of one slot per second, fed from the same
// batches as the conversation table (interface thread).
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "talk/conversation.h"

class RateHistory {
  public:
    static constexpr int kSeconds = 300;
    static constexpr int64_t kNone = std::numeric_limits<int64_t>::min();

    void Add(const ConversationDeltas& deltas);
    void Add(const SecondCounts& counts);
    void Clear();

    // The newest second any datagram was counted in (kNone before the first).
    int64_t NewestSecond() const { return newest_; }
    // The kSeconds seconds that end with `endSecond`, oldest first; seconds
    // without traffic (or older than the ring holds) read as zero. A chart
    // of live traffic passes the wall clock's second, so that it moves on
    // while nothing arrives; one of a capture file passes NewestSecond().
    std::vector<SecondCounts> Series(int64_t endSecond) const;
    // Datagrams that came too late for the ring (older than its window).
    uint64_t TooOld() const { return tooOld_; }
    // Datagrams the capture thread could not give a second (see ConversationDeltas).
    uint64_t Lost() const { return lost_; }

  private:
    static size_t SlotOf(int64_t second);

    std::array<SecondCounts, kSeconds> ring_{};
    std::array<bool, kSeconds> used_{};
    int64_t newest_ = kNone;
    uint64_t tooOld_ = 0;
    uint64_t lost_ = 0;
};
