#include "talk/owner.h"

#include <algorithm>
#include <utility>

OwnerService::OwnerService() : OwnerService(Options{}) {}

OwnerService::OwnerService(Options options) : options_(std::move(options)) {
    worker_ = std::thread([this] { Run(); });
}

OwnerService::~OwnerService() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void OwnerService::Request(const Conversation& c) {
    Request(c.key, c.localSelected, c.counts.outDatagrams > 0);
}

void OwnerService::Request(const ConversationKey& key, bool localSelected, bool localSent) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    const auto [it, inserted] = slots_.try_emplace(key);
    Slot& s = it->second;
    if (inserted) {
        s.lru = lru_.insert(lru_.end(), key);
        // Every kind of slot counts against the limit, also those settled at
        // once: a flood of new sources must not grow the table.
        while (slots_.size() > options_.maxResults)
            DropLeastRecent();
    } else {
        lru_.splice(lru_.end(), lru_, s.lru);
    }
    s.localSent |= localSent;
    OwnerState fixed = OwnerState::kPending;
    if (!localSelected)
        fixed = OwnerState::kNotLocal;
    else if (key.protocol != kProtocolTcp && key.protocol != kProtocolUdp)
        fixed = OwnerState::kNotApplicable;
    if (fixed != OwnerState::kPending) {
        if (s.info.state != fixed) {
            s.info = OwnerInfo{};
            s.info.state = fixed;
            ++changes_;
        }
        // Looked up as soon as its local side is the selected address.
        s.looked = false;
        return;
    }
    if (s.queued || (s.looked && now - s.lookedAt < options_.refreshAfter))
        return;
    if (!s.looked && s.info.state != OwnerState::kPending) {
        s.info = OwnerInfo{};
        ++changes_;
    }
    // A full queue leaves the request for a later one (every batch and the
    // clock ask again for what is active).
    if (queue_.size() >= options_.maxQueued)
        return;
    s.queued = true;
    queue_.push_back(key);
    wake_.notify_one();
}

void OwnerService::DropLeastRecent() {
    // A queued key stays in the queue; the worker passes over keys without a
    // queued slot.
    slots_.erase(lru_.front());
    lru_.pop_front();
    ++changes_;
}

OwnerInfo OwnerService::Result(const ConversationKey& key) const {
    std::lock_guard lock(mutex_);
    const auto it = slots_.find(key);
    return it == slots_.end() ? OwnerInfo{} : it->second.info;
}

size_t OwnerService::Held() const {
    std::lock_guard lock(mutex_);
    return slots_.size();
}

size_t OwnerService::Queued() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

uint64_t OwnerService::Changes() const {
    std::lock_guard lock(mutex_);
    return changes_;
}

void OwnerService::Clear() {
    std::lock_guard lock(mutex_);
    slots_.clear();
    lru_.clear();
    queue_.clear();
    ++epoch_;
    ++changes_;
}

void OwnerService::Run() {
    // Made on this thread: its netlink socket belongs to the network
    // namespace of the thread that started the service.
    OwnerLookup lookup;
    std::unique_lock lock(mutex_);
    auto nextRound = std::chrono::steady_clock::now();
    while (!stopping_) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_)
            break;
        if (std::chrono::steady_clock::now() < nextRound) {
            wake_.wait_until(lock, nextRound, [this] { return stopping_; });
            continue;
        }
        std::vector<ConversationKey> keys;
        std::vector<OwnerInfo> previous;
        std::vector<OwnerQuery> queries;
        while (!queue_.empty() && keys.size() < options_.maxPerRound) {
            const ConversationKey key = queue_.front();
            queue_.pop_front();
            const auto it = slots_.find(key);
            if (it == slots_.end() || !it->second.queued)
                continue;  // dropped since, or asked twice after a drop
            keys.push_back(key);
            previous.push_back(it->second.looked ? it->second.info : OwnerInfo{});
            queries.push_back(OwnerQuery{key, it->second.localSent, nullptr});
        }
        for (size_t i = 0; i < queries.size(); ++i) {
            if (previous[i].state != OwnerState::kPending)
                queries[i].previous = &previous[i];
        }
        const uint64_t epoch = epoch_;
        lock.unlock();
        const std::vector<OwnerInfo> results = lookup.Round(queries);
        lock.lock();
        const auto now = std::chrono::steady_clock::now();
        nextRound = now + options_.roundInterval;
        if (epoch != epoch_ || keys.empty())
            continue;
        for (size_t i = 0; i < keys.size(); ++i) {
            const auto it = slots_.find(keys[i]);
            if (it == slots_.end())
                continue;
            Slot& s = it->second;
            s.info = results[i];
            s.looked = true;
            s.queued = false;
            s.lookedAt = now;
        }
        ++changes_;
        if (options_.changed) {
            lock.unlock();
            options_.changed();
            lock.lock();
        }
    }
}
