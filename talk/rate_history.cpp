#include "talk/rate_history.h"

size_t RateHistory::SlotOf(int64_t second) {
    const int64_t m = second % kSeconds;
    return static_cast<size_t>(m < 0 ? m + kSeconds : m);
}

void RateHistory::Add(const ConversationDeltas& deltas) {
    for (const SecondCounts& s : deltas.Seconds())
        Add(s);
    lost_ += deltas.LostRateDatagrams();
}

void RateHistory::Add(const SecondCounts& counts) {
    if (newest_ != kNone && counts.second <= newest_ - kSeconds) {
        tooOld_ += counts.inDatagrams + counts.outDatagrams;
        return;
    }
    if (newest_ == kNone || counts.second > newest_)
        newest_ = counts.second;
    // A slot still holding a second that left the window starts afresh.
    const size_t slot = SlotOf(counts.second);
    SecondCounts& s = ring_[slot];
    if (!used_[slot] || s.second != counts.second) {
        s = SecondCounts{counts.second, 0, 0, 0, 0};
        used_[slot] = true;
    }
    s.inDatagrams += counts.inDatagrams;
    s.inBytes += counts.inBytes;
    s.outDatagrams += counts.outDatagrams;
    s.outBytes += counts.outBytes;
}

void RateHistory::Clear() {
    ring_ = {};
    used_ = {};
    newest_ = kNone;
    tooOld_ = 0;
    lost_ = 0;
}

std::vector<SecondCounts> RateHistory::Series(int64_t endSecond) const {
    std::vector<SecondCounts> series(kSeconds);
    if (endSecond == kNone)
        return series;
    for (int i = 0; i < kSeconds; ++i) {
        const int64_t second = endSecond - (kSeconds - 1) + i;
        const size_t slot = SlotOf(second);
        if (used_[slot] && ring_[slot].second == second)
            series[static_cast<size_t>(i)] = ring_[slot];
        else
            series[static_cast<size_t>(i)].second = second;
    }
    return series;
}
