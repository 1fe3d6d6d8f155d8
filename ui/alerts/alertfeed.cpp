#include "ui/alerts/alertfeed.h"

#include "wire/ip_address.h"

void AlertFeed::Poll(const ConversationTracker& tracker, AlertEngine& engine, int64_t nowNs) {
    if (tracker.FromFile()) {
        fed_.clear();
        return;
    }
    std::unordered_map<uint64_t, Fed> next;
    next.reserve(tracker.Table().Size());
    for (const Conversation& c : tracker.Table().Rows()) {
        const uint64_t total = c.counts.inBytes + c.counts.outBytes;
        const auto old = fed_.find(c.id);
        const bool fresh = old == fed_.end();
        Fed f = fresh ? Fed{} : old->second;
        const OwnerInfo owner = tracker.Owner(c);
        const bool settled = owner.state != OwnerState::kPending;
        // Nothing new: no bytes and no owner found since the last poll.
        if (!fresh && total == f.seen && settled == f.settled) {
            next.emplace(c.id, f);
            continue;
        }
        const std::string remote = FormatIp(c.key.remoteAddr);
        TrafficSample sample;
        sample.remote = remote;
        if (owner.state == OwnerState::kFound) {
            // Bytes that came while the owner was being looked up count for it too.
            sample.program = owner.program;
            sample.executable = owner.executable;
            sample.bytes = total - f.counted;
            f.counted = total;
        } else if (settled) {
            f.counted = total;  // no program to count them for
        }
        f.seen = total;
        f.settled = settled;
        engine.Observe(sample, nowNs);
        next.emplace(c.id, f);
    }
    fed_ = std::move(next);
}
