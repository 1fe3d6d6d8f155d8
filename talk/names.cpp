#include "talk/names.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "talk/conversation.h"
#include "talk/texts.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> g_inFlight{0};

// How long an idle lookup thread waits for more work before it ends.
constexpr auto kIdleExit = std::chrono::seconds(5);

}  // namespace

struct NameService::Shared {
    struct Entry {
        State state = State::kPending;
        std::string name;
        Clock::time_point deadline;  // while being looked up
        Clock::time_point expires;   // once answered
        bool started = false;
        uint64_t lastUsed = 0;
    };

    Options options;
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::unordered_map<uint32_t, Entry> cache;
    std::deque<uint32_t> queue;
    int threads = 0;
    int idle = 0;
    uint64_t uses = 0;
    uint64_t changes = 0;

    // Lookups started and not answered yet, whose deadline is still ahead.
    int LiveLookups(Clock::time_point now) const {
        int live = 0;
        for (const auto& [address, e] : cache)
            live += e.state == State::kPending && e.started && e.deadline > now;
        return live;
    }

    void Expire(Entry& e, Clock::time_point now) {
        if (e.state == State::kPending && e.started && now >= e.deadline) {
            e.state = State::kTimedOut;
            e.expires = now + options.keepFailed;
            ++changes;
        }
    }

    void Trim() {
        if (cache.size() <= options.maxCached)
            return;
        // The least recently used of those not being looked up go first.
        std::vector<std::pair<uint64_t, uint32_t>> order;
        for (const auto& [address, e] : cache) {
            if (e.state != State::kPending)
                order.emplace_back(e.lastUsed, address);
        }
        const size_t drop = std::min(order.size(), cache.size() - options.maxCached * 9 / 10);
        std::partial_sort(order.begin(), order.begin() + static_cast<long>(drop), order.end());
        for (size_t i = 0; i < drop; ++i)
            cache.erase(order[i].second);
    }
};

namespace {

void LookupThread(std::shared_ptr<NameService::Shared> s) {
    std::unique_lock lock(s->mutex);
    for (;;) {
        ++s->idle;
        const bool work =
            s->wake.wait_for(lock, kIdleExit, [&] { return s->stopping || !s->queue.empty(); });
        --s->idle;
        if (s->stopping || !work)
            break;
        const uint32_t address = s->queue.front();
        s->queue.pop_front();
        auto it = s->cache.find(address);
        if (it == s->cache.end() || it->second.state != NameService::State::kPending ||
            it->second.started)
            continue;
        it->second.started = true;
        it->second.deadline = Clock::now() + s->options.deadline;
        lock.unlock();

        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(address);
        char host[NI_MAXHOST] = {};
        g_inFlight.fetch_add(1);
        const int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host,
                                   sizeof host, nullptr, 0, NI_NAMEREQD);
        g_inFlight.fetch_sub(1);

        lock.lock();
        if (s->stopping)
            break;
        it = s->cache.find(address);
        if (it == s->cache.end())
            continue;
        // A late answer is still the answer, also after the deadline passed.
        auto& e = it->second;
        const auto now = Clock::now();
        if (rc == 0 && host[0] != '\0') {
            e.state = NameService::State::kFound;
            e.name = DisplayableUtf8(host);
            e.expires = now + s->options.keepFound;
        } else {
            e.state = NameService::State::kNoName;
            e.expires = now + s->options.keepFailed;
        }
        ++s->changes;
    }
    --s->threads;
}

// Hands queued addresses to idle threads, or starts threads while fewer than
// maxConcurrent lookups are within their deadline. Called with the lock held,
// on every request and every read, so that the queue moves on once stuck
// lookups pass their deadline.
void StartLookups(const std::shared_ptr<NameService::Shared>& shared, Clock::time_point now) {
    NameService::Shared& s = *shared;
    if (s.queue.empty() || s.stopping)
        return;
    if (s.idle > 0)
        s.wake.notify_all();
    if (s.queue.size() <= static_cast<size_t>(s.idle))
        return;
    if (s.threads >= s.options.maxThreads || s.LiveLookups(now) >= s.options.maxConcurrent)
        return;  // a thread that finishes takes it
    try {
        std::thread(LookupThread, shared).detach();
        ++s.threads;
    } catch (const std::system_error&) {
        // No thread now: the next request or read tries again.
    }
}

}  // namespace

NameService::NameService() : NameService(Options{}) {}

NameService::NameService(Options options) : shared_(std::make_shared<Shared>()) {
    shared_->options = options;
}

NameService::~NameService() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->queue.clear();
    }
    shared_->wake.notify_all();
}

void NameService::Request(uint32_t address) {
    if (address == 0 || address == 0xFFFFFFFFu)
        return;
    Shared& s = *shared_;
    const auto now = Clock::now();
    std::lock_guard lock(s.mutex);
    auto [it, inserted] = s.cache.try_emplace(address);
    auto& e = it->second;
    e.lastUsed = ++s.uses;
    if (!inserted) {
        s.Expire(e, now);
        if (e.state == State::kPending || now < e.expires)
            return;
    }
    if (s.queue.size() >= s.options.maxQueued) {
        // Asked again later, once the queue has room.
        if (inserted)
            s.cache.erase(it);
        return;
    }
    if (!inserted) {
        e = Shared::Entry{};
        e.lastUsed = s.uses;
        ++s.changes;
    }
    s.queue.push_back(address);
    if (inserted)
        s.Trim();
    StartLookups(shared_, now);
}

NameService::Result NameService::Lookup(uint32_t address) const {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    const auto it = s.cache.find(address);
    const auto now = Clock::now();
    StartLookups(shared_, now);
    if (it == s.cache.end())
        return {};
    s.Expire(it->second, now);
    return Result{it->second.state, it->second.name};
}

std::string NameService::HostText(uint32_t address) const {
    const Result r = Lookup(address);
    return r.state == State::kFound ? r.name : FormatIpv4(address);
}

uint64_t NameService::Changes() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->changes;
}

int NameService::LookupsInFlight() {
    return g_inFlight.load();
}
