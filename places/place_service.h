#pragma once
// Places for the interface thread: a lookup that the database has not
// answered yet is queued for a thread of the service's own, and the caller
// goes on at once; Changes() moves when answers come, so a window asks again.
// A lookup costs microseconds warm, but up to milliseconds while the
// database's pages are first read from disk.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>

#include "places/place.h"

class PlaceService {
  public:
    struct Options {
        // The database asked; the installed one (opened by the service's
        // thread on first use) when null.
        const PlaceDatabase* database = nullptr;
        // Addresses waiting at most; one asked while the queue is full is
        // asked again when it is next looked up.
        size_t maxQueued = 4096;
    };
    PlaceService();
    explicit PlaceService(Options options);
    // Returns once a lookup under way has ended (milliseconds at most).
    ~PlaceService();
    PlaceService(const PlaceService&) = delete;
    PlaceService& operator=(const PlaceService&) = delete;

    // Any thread; never waits for the database. The place if known (a named
    // range always is), else nothing, and the address is queued.
    std::optional<Place> Lookup(const IpAddress& address);
    // Moves whenever an answer came.
    uint64_t Changes() const;
    // Tests: waits until nothing is queued or being looked up, or `limit` passed.
    bool WaitIdle(std::chrono::milliseconds limit);

  private:
    void Run();
    const PlaceDatabase* Database() const;

    Options options_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<IpAddress> queue_;
    std::unordered_set<IpAddress, IpAddressHash> queued_;
    bool busy_ = false;
    bool stopping_ = false;
    uint64_t changes_ = 0;
    const PlaceDatabase* database_ = nullptr;  // set once the thread opened it
    std::thread thread_;                       // started on the first queued address
};
