#pragma once
// The owners of conversations (which program holds the local end), looked
// up on a worker thread of their own and read by the interface thread.
#include <chrono>
#include <condition_variable>
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
class OwnerService {
  public:
    struct Options {
        std::chrono::milliseconds roundInterval{200};
        std::chrono::milliseconds refreshAfter{5000};
        size_t maxPerRound = 256;
        size_t maxResults = 20000;
        size_t maxQueued = 4096;
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
    // kPending until the first lookup ended.
    OwnerInfo Result(const ConversationKey& key) const;
    uint64_t Changes() const;
    // Conversations held and requests waiting (tests and benchmarks).
    size_t Held() const;
    size_t Queued() const;
    // Forgets every result and pending request (a new capture).
    void Clear();

  private:
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

    Options options_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::unordered_map<ConversationKey, Slot, ConversationKeyHash> slots_;
    std::list<ConversationKey> lru_;  // every slot's key, the least recently asked first
    std::deque<ConversationKey> queue_;
    uint64_t changes_ = 0;
    uint64_t epoch_ = 0;  // moves on Clear, so a round's results for forgotten keys are dropped
    std::thread worker_;
};
