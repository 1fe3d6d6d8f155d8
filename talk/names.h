#pragma once
// Host names of the remote side, IPv4 or IPv6: reverse lookups with the
// system resolver (getnameinfo, NI_NAMEREQD), asynchronous and cached.
//
// getnameinfo cannot be cancelled, and a resolver that never answers keeps
// it for as long as its own time-outs say. So lookups run on threads of
// their own that share the service's state through a shared pointer: the
// service never waits for them. Destroying it tells them to stop and returns
// at once; a thread still inside getnameinfo ends when that returns, and its
// answer is thrown away. A lookup that passes `deadline` is reported as timed
// out (the address stays as it is) and no longer counts against
// `maxConcurrent`; at most `maxThreads` threads exist at once, counting those
// still stuck. At most `maxPerSecond` lookups start a second.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "wire/ip_address.h"

class NameService {
  public:
    struct Options {
        int maxConcurrent = 4;
        // Lookups started a second at most, on average: every new address
        // of a flood from spoofed sources would otherwise be a query.
        double maxPerSecond = 50;
        int maxThreads = 16;
        std::chrono::milliseconds deadline{8000};
        std::chrono::seconds keepFound{3600};
        std::chrono::seconds keepFailed{300};
        // Answers kept, the least recently asked for dropped first; pending
        // addresses come on top: at most maxQueued waiting, maxThreads asked.
        size_t maxCached = 4096;
        size_t maxQueued = 1024;
        // The resolver; the system's (getnameinfo) when empty. Called on a
        // lookup thread; true with the name, false when there is none.
        std::function<bool(const IpAddress& address, std::string* name)> resolve;
    };
    enum class State : uint8_t {
        kNotAsked,
        kPending,   // queued or being looked up
        kFound,     // `name` holds the host name
        kNoName,    // the resolver said there is none, or failed
        kTimedOut,  // no answer before the deadline
    };
    struct Result {
        State state = State::kNotAsked;
        std::string name;  // UTF-8 (displayable), for kFound
    };

    NameService();
    explicit NameService(Options options);
    ~NameService();
    NameService(const NameService&) = delete;
    NameService& operator=(const NameService&) = delete;

    // Any thread; never blocks beyond a brief lock. Known and pending
    // addresses are not asked again; those NeverAsked names are never asked.
    void Request(const IpAddress& address);
    Result Lookup(const IpAddress& address) const;
    // The name, or the address's text when there is none (yet).
    std::string HostText(const IpAddress& address) const;
    // The unspecified address, IPv4 broadcast, IPv6 multicast.
    static bool NeverAsked(const IpAddress& address);
    // Moves whenever a result changed.
    uint64_t Changes() const;
    // Addresses held, answered or pending (tests and benchmarks).
    size_t Held() const;

    // Threads inside getnameinfo now, of every service, also destroyed ones.
    static int LookupsInFlight();

    struct Shared;

  private:
    std::shared_ptr<Shared> shared_;
};
