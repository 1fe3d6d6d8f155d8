#pragma once
// The owners of conversations (which program holds the local end), looked
// up on a worker thread of their own and read by the interface thread.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "talk/conversation.h"
#include "talk/owner_lookup.h"

// The owners of conversations, looked up on a worker thread.
//
// The interface thread calls Request for new and active conversations
// (after each Merge: MergeReport::active) and reads Result whenever it
// likes; both take one mutex for a moment, never while a lookup runs. It
// learns that results changed by polling Changes() (say twice a second), or
// through the callback, which runs on the worker thread after each round that
// changed something and must only post to the interface thread.
//
// A conversation is looked up once, and again on a later Request once its
// result is older than `refreshAfter`: a port that was reused then shows its
// new holder (and generation). Requests are deduplicated; a round takes at
// most `maxPerRound` of them and rounds start at most every `roundInterval`,
// so the cost is bounded however many conversations come. At most
// `maxQueued` requests wait; more are left for a later Request. Results are
// kept for at most `maxResults` conversations of any kind, the least recently
// asked for forgotten first, one for each that comes (no pass over the table).
//
// The capture thread hints at conversations as their first datagram is seen
// (Hint): those are looked up at once, without waiting for the interface
// thread's batch or the round interval, so that a program that lives a few
// milliseconds is found while it still holds its socket. At most
// `maxFreshPerSecond` are taken so; the rest come the ordinary way.
//
// What was found stays once the socket and the program are gone (kClosed
// keeps the program); about once a second the worker checks whether the
// programs it named still run, by PID and start time, and marks those that
// ended (OwnerInfo::exited).
class OwnerService {
  public:
    struct Options {
        std::chrono::milliseconds roundInterval{200};
        std::chrono::milliseconds refreshAfter{5000};
        size_t maxPerRound = 256;
        size_t maxResults = 20000;
        size_t maxQueued = 4096;
        size_t maxFreshPerSecond = 2000;
        std::chrono::milliseconds livenessInterval{1000};
        size_t maxWatched = 4096;  // programs whose end is watched for
        std::function<void()> changed;
    };

    OwnerService();
    explicit OwnerService(Options options);
    // Stops the worker and waits for it: a round is local work (netlink, /proc)
    // and ends soon.
    ~OwnerService();
    OwnerService(const OwnerService&) = delete;
    OwnerService& operator=(const OwnerService&) = delete;

    // A conversation whose local side is not the selected address is given
    // kNotLocal and one that is neither TCP nor UDP kNotApplicable, at once.
    void Request(const Conversation& conversation);
    void Request(const ConversationKey& key, bool localSelected, bool localSent);
    // Capture thread (one at a time): a conversation of this host's, TCP or
    // UDP, seen for the first time in a while. Never allocates or waits; a
    // hint that finds no room is dropped (the interface thread asks anyway).
    void Hint(const ConversationKey& key, bool localSent);
    // kPending until the first lookup ended.
    OwnerInfo Result(const ConversationKey& key) const;
    uint64_t Changes() const;
    // Conversations held and requests waiting (tests and benchmarks).
    size_t Held() const;
    size_t Queued() const;
    uint64_t HintsDropped() const { return hintsDropped_.load(std::memory_order_relaxed); }
    // Forgets every result and pending request (a new capture).
    void Clear();

  private:
    struct Fresh {
        ConversationKey key;
        bool localSent = false;
    };
    static constexpr size_t kHints = 1024;  // a power of two
    struct Slot {
        OwnerInfo info;
        bool looked = false;  // a lookup finished at least once
        bool queued = false;
        bool localSent = false;
        std::chrono::steady_clock::time_point lookedAt;
        std::list<ConversationKey>::iterator lru;
    };
    void Run();
    void DropLeastRecent();
    Slot& Touch(const ConversationKey& key);
    void Wake();
    // Worker, under the mutex: the hints waiting, as keys to look up now.
    void TakeHints(std::vector<ConversationKey>* keys, std::chrono::steady_clock::time_point now);
    void Remember(const OwnerInfo& info);
    void CheckLiveness(std::unique_lock<std::mutex>& lock);

    Options options_;
    mutable std::mutex mutex_;
    int wakeFd_ = -1;  // an eventfd the worker sleeps on
    std::atomic<bool> sleeping_{false};
    bool stopping_ = false;
    // The capture thread's hints: one writer, the worker the only reader.
    std::array<Fresh, kHints> hints_{};
    std::atomic<size_t> hintHead_{0};  // written by the capture thread
    std::atomic<size_t> hintTail_{0};  // written by the worker
    std::atomic<uint64_t> hintsDropped_{0};
    size_t freshThisSecond_ = 0;
    std::chrono::steady_clock::time_point freshSecond_;
    // The programs named and not known to have ended: PID and start time.
    std::unordered_map<pid_t, uint64_t> watched_;
    std::unordered_map<ConversationKey, Slot, ConversationKeyHash> slots_;
    std::list<ConversationKey> lru_;  // every slot's key, the least recently asked first
    std::deque<ConversationKey> queue_;
    uint64_t changes_ = 0;
    uint64_t epoch_ = 0;  // moves on Clear, so a round's results for forgotten keys are dropped
    std::thread worker_;
};
