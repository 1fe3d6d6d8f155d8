#pragma once
// Which program on this host holds the local end of a conversation, asked
// synchronously: the kernel's socket table (sock_diag) for the socket of a
// conversation's address and port pair, then /proc for the process that
// holds it. OwnerService (talk/owner.h) runs these on a worker thread.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
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
    // Its executable's path (ProcessExecutable), read as it was found; empty
    // where it could not be read (another user's process).
    std::string executable;
    pid_t pid = 0;
    uint32_t uid = kUnknownUid;  // the process's, else the socket's
    std::string user;            // the name of uid (shown as DisplayableUtf8 does), or its number
    uint64_t inode = 0;
    // Moves when the holder changed: another socket took the pair (a port reused).
    uint64_t generation = 0;
    int error = 0;  // kUnavailable: the errno
    // When the process started (clock ticks after boot, /proc/PID/stat): a
    // PID reused by a later process is not taken for this one. 0: unknown.
    uint64_t startTicks = 0;
    // The program named here has ended (or its PID now belongs to another).
    bool exited = false;
};

// The path of the running process's executable (/proc/PID/exe), as
// DisplayableUtf8 shows it, without the " (deleted)" the kernel adds once the
// file was replaced (an upgrade under a running program); empty where it
// cannot be read.
std::string ProcessExecutable(pid_t pid);

// The process `pid` that started at `startTicks` is still running (a zombie
// has ended; a PID that another process took since is not it).
bool ProcessAlive(pid_t pid, uint64_t startTicks);

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

    // How many /proc scans were made, and how many of them had to visit
    // every process (tests and benchmarks).
    uint64_t Scans() const { return scans_; }
    uint64_t FullScans() const { return fullScans_; }

  private:
    struct Holder {
        pid_t pid = 0;
        int fd = -1;
    };
    int FindSocket(const OwnerQuery& q, SocketEntry* entry, bool* udpDumped,
                   std::vector<SocketEntry>* udpDump);
    bool StillHeld(uint64_t inode, const Holder& h) const;
    // Walks the processes' descriptors until every one of `wanted` (inodes
    // with their sockets' uids) has a holder; true when it visited them all.
    bool ScanProc(const std::vector<std::pair<uint64_t, uint32_t>>& wanted);
    std::string UserName(uint32_t uid);
    void Describe(OwnerInfo& info, pid_t pid);

    // What a scan read of a process as soon as it found a wanted socket in
    // it: the program may end right after, taking /proc/PID with it.
    struct Facts {
        std::string comm;
        std::string executable;
        uint64_t startTicks = 0;
        uint32_t uid = kUnknownUid;
    };
    std::unordered_map<pid_t, Facts> facts_;  // this round's

    SockDiag diag_;
    // Socket inodes seen by the scans, with one process that held each
    // (checked again before use; forgotten when the map grows large).
    std::unordered_map<uint64_t, Holder> holders_;
    bool someUnreadable_ = false;  // the last full scan met processes whose fds it may not read
    // Inodes the last scan looked for and did not find (another user's, say):
    // asked again, they need no new scan until it is old.
    std::unordered_set<uint64_t> absent_;
    std::chrono::steady_clock::time_point lastScan_;
    std::unordered_map<uint32_t, std::string> users_;
    uint64_t scans_ = 0;
    uint64_t fullScans_ = 0;
};
