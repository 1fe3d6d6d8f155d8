#include "talk/names.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <list>
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
        bool inLru = false;
        std::list<IpAddress>::iterator lru;
    };

    Options options;
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::unordered_map<IpAddress, Entry, IpAddressHash> cache;
    // Answered entries, the least recently used first. Pending ones are not
    // in it: they are bounded by the queue and the threads, and never dropped.
    std::list<IpAddress> lru;
    std::deque<IpAddress> queue;
    // Lookups started and not answered, with their deadlines: at most one a
    // thread, so counting the live ones never walks the cache.
    std::vector<std::pair<IpAddress, Clock::time_point>> started;
    int threads = 0;
    int idle = 0;
    uint64_t changes = 0;

    // A token bucket of maxPerSecond, as deep as one second's worth: the
    // zero time point when a lookup may start now (the token is taken),
    // otherwise when the next token comes.
    double tokens = -1;  // full at the first lookup
    Clock::time_point refilled;
    Clock::time_point TakeToken(Clock::time_point now) {
        const double rate = std::max(1.0, options.maxPerSecond);
        if (tokens < 0) {
            tokens = rate;
        } else {
            tokens = std::min(
                rate, tokens + std::chrono::duration<double>(now - refilled).count() * rate);
        }
        refilled = now;
        if (tokens >= 1) {
            tokens -= 1;
            return {};
        }
        return now + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>((1 - tokens) / rate));
    }

    int LiveLookups(Clock::time_point now) const {
        int live = 0;
        for (const auto& [address, deadline] : started)
            live += deadline > now;
        return live;
    }

    void Unstart(const IpAddress& address) {
        const auto it = std::find_if(started.begin(), started.end(),
                                     [address](const auto& s) { return s.first == address; });
        if (it != started.end())
            started.erase(it);
    }

    void Touch(Entry& e) {
        if (e.inLru)
            lru.splice(lru.end(), lru, e.lru);
    }

    // The entry has an answer (or gave up): it may be dropped from now on.
    void Settle(const IpAddress& address, Entry& e) {
        if (!e.inLru) {
            e.lru = lru.insert(lru.end(), address);
            e.inLru = true;
        }
    }

    void Unsettle(Entry& e) {
        if (e.inLru) {
            lru.erase(e.lru);
            e.inLru = false;
        }
    }

    void Expire(const IpAddress& address, Entry& e, Clock::time_point now) {
        if (e.state == State::kPending && e.started && now >= e.deadline) {
            e.state = State::kTimedOut;
            e.expires = now + options.keepFailed;
            Settle(address, e);
            ++changes;
        }
    }

    // The least recently used answers go first, one for each that came.
    void Trim() {
        while (cache.size() > options.maxCached && !lru.empty()) {
            const IpAddress address = lru.front();
            lru.pop_front();
            cache.erase(address);
        }
    }
};

namespace {

bool ReverseLookup(const IpAddress& address, std::string* name) {
    sockaddr_storage storage{};
    socklen_t size = 0;
    if (address.IsIpv6()) {
        sockaddr_in6 sa{};
        sa.sin6_family = AF_INET6;
        std::memcpy(&sa.sin6_addr, address.v6.data(), address.v6.size());
        std::memcpy(&storage, &sa, sizeof sa);
        size = sizeof sa;
    } else {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(address.v4);
        std::memcpy(&storage, &sa, sizeof sa);
        size = sizeof sa;
    }
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&storage), size, host, sizeof host, nullptr,
                    0, NI_NAMEREQD) != 0)
        return false;
    *name = host;
    return true;
}

void LookupThread(std::shared_ptr<NameService::Shared> s) {
    std::unique_lock lock(s->mutex);
    for (;;) {
        ++s->idle;
        const bool work =
            s->wake.wait_for(lock, kIdleExit, [&] { return s->stopping || !s->queue.empty(); });
        --s->idle;
        if (s->stopping || !work)
            break;
        // Paced: a flood of new addresses must not become a flood of
        // queries, nor keep the threads and this lock busy.
        const Clock::time_point next = s->TakeToken(Clock::now());
        if (next != Clock::time_point{}) {
            s->wake.wait_until(lock, next, [&] { return s->stopping; });
            continue;
        }
        const IpAddress address = s->queue.front();
        s->queue.pop_front();
        auto it = s->cache.find(address);
        if (it == s->cache.end() || it->second.state != NameService::State::kPending ||
            it->second.started)
            continue;
        it->second.started = true;
        it->second.deadline = Clock::now() + s->options.deadline;
        s->started.emplace_back(address, it->second.deadline);
        lock.unlock();

        std::string host;
        g_inFlight.fetch_add(1);
        const bool found =
            s->options.resolve ? s->options.resolve(address, &host) : ReverseLookup(address, &host);
        g_inFlight.fetch_sub(1);

        lock.lock();
        if (s->stopping)
            break;
        s->Unstart(address);
        it = s->cache.find(address);
        if (it == s->cache.end())
            continue;
        // A late answer is still the answer, also after the deadline passed.
        auto& e = it->second;
        const auto now = Clock::now();
        if (found && !host.empty()) {
            e.state = NameService::State::kFound;
            e.name = DisplayableUtf8(host);
            e.expires = now + s->options.keepFound;
        } else {
            e.state = NameService::State::kNoName;
            e.expires = now + s->options.keepFailed;
        }
        s->Settle(address, e);
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
    if (s.idle > 0) {
        s.wake.notify_one();
        return;
    }
    // Threads whose lookup passed its deadline are stuck in the resolver and
    // do not count against maxConcurrent; the others do, busy or not.
    const int live = s.LiveLookups(now);
    const int stuck = static_cast<int>(s.started.size()) - live;
    if (s.threads >= s.options.maxThreads || s.threads - stuck >= s.options.maxConcurrent)
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

void NameService::Request(const IpAddress& address) {
    if (NeverAsked(address))
        return;
    Shared& s = *shared_;
    const auto now = Clock::now();
    std::lock_guard lock(s.mutex);
    auto [it, inserted] = s.cache.try_emplace(address);
    auto& e = it->second;
    if (!inserted) {
        s.Touch(e);
        s.Expire(address, e, now);
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
        s.Unsettle(e);
        e = Shared::Entry{};
        ++s.changes;
    }
    s.queue.push_back(address);
    if (inserted)
        s.Trim();
    StartLookups(shared_, now);
}

NameService::Result NameService::Lookup(const IpAddress& address) const {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    const auto it = s.cache.find(address);
    const auto now = Clock::now();
    StartLookups(shared_, now);
    if (it == s.cache.end())
        return {};
    s.Expire(address, it->second, now);
    return Result{it->second.state, it->second.name};
}

std::string NameService::HostText(const IpAddress& address) const {
    const Result r = Lookup(address);
    return r.state == State::kFound ? r.name : FormatIp(address);
}

bool NameService::NeverAsked(const IpAddress& address) {
    // No host answers for these: the unspecified address, IPv4 broadcast and
    // IPv6 multicast.
    return address.IsUnspecified() || (!address.IsIpv6() && address.v4 == 0xFFFFFFFFu) ||
           (address.IsIpv6() && address.v6[0] == 0xFF);
}

size_t NameService::Held() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->cache.size();
}

uint64_t NameService::Changes() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->changes;
}

int NameService::LookupsInFlight() {
    return g_inFlight.load();
}
