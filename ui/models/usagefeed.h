#pragma once
// What a live capture adds to the usage history: each batch's conversation
// counts summed per conversation and minute, and handed over once the minute
// is over (and a few seconds more, for the owner lookups to finish), with the
// program and the host name known by then. A conversation whose owner is not
// known counts under an empty program. No Qt: fed on the interface thread.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <unordered_map>

#include "history/usage_history.h"
#include "talk/conversation.h"
#include "talk/owner_lookup.h"
#include "wire/ip_address.h"

class UsageFeed {
  public:
    struct Sources {
        std::function<OwnerInfo(const ConversationKey&)> owner;
        // The best name of an address; empty when none is known.
        std::function<std::string(const IpAddress& address)> name;
        // The executable of a running process; empty when it cannot be read.
        // Default: the link /proc/<pid>/exe.
        std::function<std::string(pid_t)> executable;
    };
    struct Options {
        // Conversation-minutes held; past it a minute's traffic of further
        // conversations is summed into one line for other hosts.
        size_t maxPending = 16384;
        int64_t settleSeconds = 5;
    };
    using Sink = std::function<void(const UsageSample&)>;

    UsageFeed(Sources sources, Sink sink);
    UsageFeed(Sources sources, Sink sink, Options options);

    void Add(const ConversationDeltas& deltas);
    // Hands over every minute that ended more than settleSeconds before
    // `nowSeconds`; reads the executables of programs found since the last
    // tick, while they still run (a program may be gone by its minute's end).
    void Tick(int64_t nowSeconds);
    // Hands over everything held (a capture's end, the program's exit).
    void FlushAll();

    size_t Pending() const { return pending_.size(); }
    // Datagrams summed into the other hosts' line because too much was held.
    uint64_t Overflowed() const { return overflowed_; }

  private:
    struct Key {
        int64_t minute = 0;
        ConversationKey conversation;
        bool other = false;  // the line of other hosts of this minute
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        ConversationKeyHash conversation;
        size_t operator()(const Key& k) const {
            return conversation(k.conversation) ^
                   static_cast<size_t>(k.minute * 0x9E3779B97F4A7C15ull) ^ (k.other ? 1u : 0u);
        }
    };
    struct Held {
        UsageCounts counts;
        bool asked = false;  // the owner settled, and a program found had its executable read
    };
    void LearnExecutables();
    void HandOver(const Key& key, const UsageCounts& counts);
    void Flush(int64_t beforeMinute);
    std::string Executable(pid_t pid, const std::string& program);

    Sources sources_;
    Sink sink_;
    Options options_;
    std::unordered_map<Key, Held, KeyHash> pending_;
    // Executables by pid and program: a pid reused by another program is a new entry.
    struct KnownExecutable {
        std::string path;
        std::list<std::string>::iterator use;  // its place in executableUse_
    };
    std::unordered_map<std::string, KnownExecutable> executables_;
    std::list<std::string> executableUse_;  // the ids, the least lately used first
    uint64_t overflowed_ = 0;
};
