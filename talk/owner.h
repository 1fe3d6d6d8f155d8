#pragma once
// Which program on this host holds the local end of a conversation.
//
// OwnerLookup asks the kernel's socket table (sock_diag) for the socket of a
// conversation's address and port pair, then finds the process that holds it
// in /proc. OwnerService runs lookups on a worker thread of its own, keeps
// the results per conversation, and is read by the interface thread.
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "talk/conversation.h"
#include "talk/sock_diag.h"

enum class OwnerState : uint8_t {
    kPending,        // not looked up yet
    kFound,          // program, pid and user are known
    kOtherUser,      // a socket of another user whose processes we may not see: user only
    kHolderUnknown,  // the socket exists, but no process we can see holds it
    kClosed,         // the socket was there and is closed now (TIME_WAIT, or gone since)
    kNoSocket,       // no socket of this host holds the pair (see OwnerLookup)
    kNotLocal,       // the local side is not the selected address: nothing to look up
    kNotApplicable,  // neither TCP nor UDP
    kFromFile,       // a capture file: no program can be known
    kUnavailable,    // the kernel's socket table could not be asked (error)
};

inline constexpr uint32_t kUnknownUid = static_cast<uint32_t>(-1);

struct OwnerInfo {
    OwnerState state = OwnerState::kPending;
    // For kFound; for kClosed the last holder seen, if any.
    std::string program;  // as DisplayableUtf8 shows it
    pid_t pid = 0;
    uint32_t uid = kUnknownUid;  // the process's, else the socket's
    std::string user;            // the name of uid (shown as DisplayableUtf8 does), or its number
    uint64_t inode = 0;
    // Moves when the holder changed: another socket took the pair (a port reused).
    uint64_t generation = 0;
    int error = 0;  // kUnavailable: the errno
};

struct OwnerQuery {
    ConversationKey key;
    // The local side sent datagrams: for UDP that proves a socket existed,
    // so its absence later reads as closed, not as never there.
    bool localSent = false;
    const OwnerInfo* previous = nullptr;  // the last result, to tell closed and reused
};

// Synchronous lookups; one object per thread.
//
// Where "closed" and "no socket" cannot be told apart: a connection that
// came and went between two lookups without leaving a TIME_WAIT entry here
// (this host closed second, or it was reset) reads as kNoSocket, as a
// datagram refused with a reset or forwarded through this host does. A pair
// no connection holds on a port something listens on belongs to that
// listener (a connection attempt to a server, or one still being accepted,
// reads as the server's), unless the connection itself was found before:
// then it is closed.
class OwnerLookup {
  public:
    OwnerLookup();
    ~OwnerLookup();
    OwnerLookup(const OwnerLookup&) = delete;
    OwnerLookup& operator=(const OwnerLookup&) = delete;

    // One round: the kernel once per conversation (one dump per protocol at
    // most for the UDP fall-back), /proc once for all.
    std::vector<OwnerInfo> Round(std::span<const OwnerQuery> queries);

    // How many full /proc scans were made (tests and benchmarks).
    uint64_t FullScans() const { return fullScans_; }

  private:
    struct Holder {
        pid_t pid = 0;
        int fd = -1;
    };
    int FindSocket(const OwnerQuery& q, SocketEntry* entry, bool* udpDumped,
                   std::vector<SocketEntry>* udpDump);
    bool StillHeld(uint64_t inode, const Holder& h) const;
    void ScanProc();
    std::string UserName(uint32_t uid);
    void Describe(OwnerInfo& info, pid_t pid);

    SockDiag diag_;
    // Every socket inode seen in the last full scan, with one process that held it.
    std::unordered_map<uint64_t, Holder> holders_;
    bool someUnreadable_ = false;  // the last scan met processes whose fds it may not read
    // Inodes the last scan looked for and did not find (another user's, say):
    // asked again, they need no new scan until it is old.
    std::unordered_set<uint64_t> absent_;
    std::chrono::steady_clock::time_point lastScan_;
    std::unordered_map<uint32_t, std::string> users_;
    uint64_t fullScans_ = 0;
};

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
