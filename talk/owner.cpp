#include "talk/owner.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

OwnerService::OwnerService() : OwnerService(Options{}) {}

OwnerService::OwnerService(Options options) : options_(std::move(options)) {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    worker_ = std::thread([this] { Run(); });
}

OwnerService::~OwnerService() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    Wake();
    worker_.join();
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

void OwnerService::Wake() {
    const uint64_t one = 1;
    // Non-blocking: a full counter already wakes the worker.
    if (wakeFd_ >= 0) {
        [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
    }
}

void OwnerService::Hint(const ConversationKey& key, bool localSent) {
    const size_t head = hintHead_.load(std::memory_order_relaxed);
    if (head - hintTail_.load(std::memory_order_acquire) >= kHints) {
        hintsDropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    hints_[head & (kHints - 1)] = Fresh{key, localSent};
    // Sequentially consistent with the worker's `sleeping_` and its look at
    // the head: either it sees this hint or this sees it asleep.
    hintHead_.store(head + 1, std::memory_order_seq_cst);
    if (sleeping_.load(std::memory_order_seq_cst))
        Wake();
}

OwnerService::Slot& OwnerService::Touch(const ConversationKey& key) {
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
    return s;
}

void OwnerService::Request(const Conversation& c) {
    Request(c.key, c.localSelected, c.counts.outDatagrams > 0);
}

void OwnerService::Request(const ConversationKey& key, bool localSelected, bool localSent) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    Slot& s = Touch(key);
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
    if (sleeping_.load(std::memory_order_relaxed))
        Wake();
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
    watched_.clear();
    ++epoch_;
    ++changes_;
}

void OwnerService::TakeHints(std::vector<ConversationKey>* keys,
                             std::chrono::steady_clock::time_point now) {
    size_t tail = hintTail_.load(std::memory_order_relaxed);
    const size_t head = hintHead_.load(std::memory_order_acquire);
    if (now - freshSecond_ >= std::chrono::seconds(1)) {
        freshSecond_ = now;
        freshThisSecond_ = 0;
    }
    for (; tail != head && keys->size() < options_.maxPerRound; ++tail) {
        // Over the budget the hints wait, and those that find no room are
        // dropped by the capture thread at the cost of a look at two counters
        // (the interface thread asks for them too).
        if (freshThisSecond_ >= options_.maxFreshPerSecond)
            break;
        const Fresh f = hints_[tail & (kHints - 1)];
        Slot& s = Touch(f.key);
        s.localSent |= f.localSent;
        const bool recent = s.looked && now - s.lookedAt < options_.refreshAfter;
        const bool settled = !s.looked && s.info.state != OwnerState::kPending;  // not this host's
        if (recent || settled || std::find(keys->begin(), keys->end(), f.key) != keys->end())
            continue;
        ++freshThisSecond_;
        s.queued = true;
        keys->push_back(f.key);
    }
    hintTail_.store(tail, std::memory_order_release);
}

void OwnerService::Remember(const OwnerInfo& info) {
    if (info.pid > 0 && info.startTicks != 0 && !info.exited &&
        (watched_.size() < options_.maxWatched || watched_.contains(info.pid)))
        watched_[info.pid] = info.startTicks;
}

void OwnerService::CheckLiveness(std::unique_lock<std::mutex>& lock) {
    const std::vector<std::pair<pid_t, uint64_t>> programs(watched_.begin(), watched_.end());
    const uint64_t epoch = epoch_;
    lock.unlock();
    std::vector<std::pair<pid_t, uint64_t>> ended;
    for (const auto& [pid, start] : programs) {
        if (!ProcessAlive(pid, start))
            ended.emplace_back(pid, start);
    }
    lock.lock();
    if (ended.empty() || epoch != epoch_)
        return;
    for (const auto& [pid, start] : ended) {
        if (const auto it = watched_.find(pid); it != watched_.end() && it->second == start)
            watched_.erase(it);
    }
    std::sort(ended.begin(), ended.end());
    bool marked = false;
    for (auto& [key, slot] : slots_) {
        OwnerInfo& o = slot.info;
        if (o.pid > 0 && !o.exited &&
            std::binary_search(ended.begin(), ended.end(), std::pair(o.pid, o.startTicks))) {
            o.exited = true;
            marked = true;
        }
    }
    if (!marked)
        return;
    ++changes_;
    if (options_.changed) {
        lock.unlock();
        options_.changed();
        lock.lock();
    }
}

void OwnerService::Run() {
    // Made on this thread: its netlink socket belongs to the network
    // namespace of the thread that started the service.
    OwnerLookup lookup;
    std::unique_lock lock(mutex_);
    auto nextRound = std::chrono::steady_clock::now();
    auto nextLiveness = nextRound + options_.livenessInterval;
    while (!stopping_) {
        auto now = std::chrono::steady_clock::now();
        // Hinted conversations at once; asked ones at most every round interval.
        std::vector<ConversationKey> keys;
        TakeHints(&keys, now);
        const size_t fresh = keys.size();
        if (now >= nextRound) {
            while (!queue_.empty() && keys.size() < options_.maxPerRound) {
                const ConversationKey key = queue_.front();
                queue_.pop_front();
                const auto it = slots_.find(key);
                if (it == slots_.end() || !it->second.queued ||
                    std::find(keys.begin(), keys.begin() + static_cast<ptrdiff_t>(fresh), key) !=
                        keys.begin() + static_cast<ptrdiff_t>(fresh))
                    continue;  // dropped since, asked twice after a drop, or hinted too
                keys.push_back(key);
            }
        }
        if (!keys.empty()) {
            std::vector<OwnerInfo> previous;
            std::vector<OwnerQuery> queries;
            previous.reserve(keys.size());
            for (const ConversationKey& key : keys) {
                // A slot a later hint pushed out is looked up all the same; its result is dropped.
                const auto it = slots_.find(key);
                const bool held = it != slots_.end();
                previous.push_back(held && it->second.looked ? it->second.info : OwnerInfo{});
                queries.push_back(OwnerQuery{key, held && it->second.localSent, nullptr});
            }
            for (size_t i = 0; i < queries.size(); ++i) {
                if (previous[i].state != OwnerState::kPending)
                    queries[i].previous = &previous[i];
            }
            const uint64_t epoch = epoch_;
            lock.unlock();
            const std::vector<OwnerInfo> results = lookup.Round(queries);
            lock.lock();
            now = std::chrono::steady_clock::now();
            if (keys.size() > fresh)
                nextRound = now + options_.roundInterval;
            if (epoch != epoch_)
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
                Remember(s.info);
            }
            ++changes_;
            if (options_.changed) {
                lock.unlock();
                options_.changed();
                lock.lock();
            }
            continue;
        }
        if (now >= nextLiveness) {
            nextLiveness = now + options_.livenessInterval;
            if (!watched_.empty())
                CheckLiveness(lock);
            continue;
        }
        // Asleep until a hint or a request comes, the next round may start,
        // or the programs named are due to be checked.
        auto until = watched_.empty() ? now + std::chrono::hours(1) : nextLiveness;
        if (!queue_.empty())
            until = std::min(until, nextRound);
        if (hintHead_.load(std::memory_order_relaxed) !=
            hintTail_.load(std::memory_order_relaxed)) {
            // The second's budget is spent: the hints wait for the next one,
            // and do not wake this thread meanwhile.
            until = std::min(until, freshSecond_ + std::chrono::seconds(1));
        } else {
            sleeping_.store(true, std::memory_order_seq_cst);
            if (hintHead_.load(std::memory_order_seq_cst) !=
                hintTail_.load(std::memory_order_relaxed)) {
                sleeping_.store(false, std::memory_order_relaxed);
                continue;
            }
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        lock.unlock();
        pollfd fd{wakeFd_, POLLIN, 0};
        // Without an eventfd (none left to the process) it looks often instead.
        const int64_t most = wakeFd_ >= 0 ? 3600 * 1000 : 10;
        ::poll(&fd, 1, static_cast<int>(std::clamp<int64_t>(wait, 0, most)));
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(wakeFd_, &count, sizeof count);
        lock.lock();
        sleeping_.store(false, std::memory_order_relaxed);
    }
}
