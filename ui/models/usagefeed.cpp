#include "ui/models/usagefeed.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

#include "history/usage_history.h"
#include "talk/texts.h"
#include "wire/ip_address.h"

namespace {

constexpr int64_t kNsPerMinute = 60'000'000'000;
constexpr size_t kExecutablesKept = 1024;

}  // namespace

UsageFeed::UsageFeed(Sources sources, Sink sink)
    : UsageFeed(std::move(sources), std::move(sink), Options{}) {}

UsageFeed::UsageFeed(Sources sources, Sink sink, Options options)
    : sources_(std::move(sources)), sink_(std::move(sink)), options_(options) {
    if (!sources_.executable)
        sources_.executable = ProcessExecutable;
}

void UsageFeed::Add(const ConversationDeltas& deltas) {
    for (const ConversationDeltas::Entry& e : deltas.Entries()) {
        const ConversationCounts& c = e.counts;
        if (c.inDatagrams + c.outDatagrams == 0)
            continue;
        Key key{c.lastNs / kNsPerMinute, e.key, false};
        auto it = pending_.find(key);
        if (it == pending_.end() && pending_.size() >= options_.maxPending) {
            // Bounded whatever the traffic: the rest of the minute on one line.
            overflowed_ += c.inDatagrams + c.outDatagrams;
            key = Key{key.minute, ConversationKey{}, true};
            it = pending_.find(key);
        }
        if (it == pending_.end())
            it = pending_.emplace(key, Held{}).first;
        it->second.counts += UsageCounts{c.inBytes, c.outBytes, c.inDatagrams, c.outDatagrams};
    }
}

void UsageFeed::Tick(int64_t nowSeconds) {
    LearnExecutables();
    Flush((nowSeconds - options_.settleSeconds) / 60);
}

void UsageFeed::LearnExecutables() {
    if (!sources_.owner)
        return;
    for (auto& [key, held] : pending_) {
        if (held.asked || key.other)
            continue;
        const OwnerInfo owner = sources_.owner(key.conversation);
        if (owner.state == OwnerState::kPending)
            continue;
        held.asked = true;
        // Kept by pid and program, for the hand-over after the program is
        // gone; an owner found with its executable carries it already.
        if (owner.state == OwnerState::kFound && owner.pid > 0 && owner.executable.empty())
            Executable(owner.pid, owner.program);
    }
}

void UsageFeed::FlushAll() {
    Flush(INT64_MAX);
}

void UsageFeed::Flush(int64_t beforeMinute) {
    std::vector<std::pair<Key, UsageCounts>> due;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->first.minute < beforeMinute) {
            due.emplace_back(it->first, it->second.counts);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    // Oldest minute first, as the history expects them to come.
    std::sort(due.begin(), due.end(),
              [](const auto& a, const auto& b) { return a.first.minute < b.first.minute; });
    for (const auto& [key, counts] : due)
        HandOver(key, counts);
}

void UsageFeed::HandOver(const Key& key, const UsageCounts& counts) {
    UsageSample s;
    s.minute = key.minute;
    s.counts = counts;
    if (key.other) {
        s.remoteAddress = std::string(kOtherHosts);
        sink_(s);
        return;
    }
    const ConversationKey& k = key.conversation;
    s.protocol = k.protocol;
    s.localAddress = FormatIp(k.localAddr);
    s.remoteAddress = FormatIp(k.remoteAddr);
    if (sources_.name)
        s.remoteName = sources_.name(k.remoteAddr);
    if (sources_.owner) {
        const OwnerInfo owner = sources_.owner(k);
        // A socket closed since still names the program that held it.
        if (owner.state == OwnerState::kFound ||
            (owner.state == OwnerState::kClosed && !owner.program.empty())) {
            s.program = owner.program;
            // As read when the owner was found; a program gone before it could
            // be read is tried once more here.
            s.executable = owner.executable;
            if (s.executable.empty() && owner.pid > 0)
                s.executable = Executable(owner.pid, owner.program);
        }
    }
    sink_(s);
}

std::string UsageFeed::Executable(pid_t pid, const std::string& program) {
    const std::string id = std::to_string(pid) + '/' + program;
    if (const auto it = executables_.find(id); it != executables_.end()) {
        executableUse_.splice(executableUse_.end(), executableUse_, it->second.use);
        return it->second.path;
    }
    // Bounded by forgetting the program seen least lately: the busy ones
    // stay known, and /proc is read again only for one that comes back.
    if (executables_.size() >= kExecutablesKept) {
        executables_.erase(executableUse_.front());
        executableUse_.pop_front();
    }
    std::string path = sources_.executable(pid);
    executableUse_.push_back(id);
    executables_.emplace(id, KnownExecutable{path, std::prev(executableUse_.end())});
    return path;
}
