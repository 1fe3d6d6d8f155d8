#include "talk/owner_lookup.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "talk/texts.h"

namespace {

constexpr std::string_view kSocketLink = "socket:[";
// The kernel's TCP states, as sock_diag reports them.
constexpr uint8_t kTcpSynReceived = 3;
constexpr uint8_t kTcpListen = 10;
constexpr uint8_t kTcpNewSynReceived = 12;

bool ParseNumber(std::string_view text, uint64_t* value) {
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && end == text.data() + text.size();
}

// The inode of a descriptor link "socket:[12345]", or 0.
uint64_t SocketInode(std::string_view link) {
    if (link.size() < kSocketLink.size() + 2 || link.substr(0, kSocketLink.size()) != kSocketLink ||
        link.back() != ']')
        return 0;
    uint64_t inode = 0;
    return ParseNumber(link.substr(kSocketLink.size(), link.size() - kSocketLink.size() - 1),
                       &inode)
               ? inode
               : 0;
}

// Socket inodes kept from the scans before those of a round are looked for.
constexpr size_t kHoldersKept = 1 << 16;
constexpr size_t kAbsentKept = 1 << 14;

// The program name, start time and state of a process from /proc/PID/stat
// ("PID (comm) S ppid ..."; the name may hold spaces and parentheses, so the
// fields are counted from the last ')').
bool ReadStat(pid_t pid, std::string* comm, uint64_t* startTicks, char* state) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[1024];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0)
        return false;
    const std::string_view line(text, static_cast<size_t>(n));
    const size_t open = line.find('(');
    const size_t close = line.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return false;
    // Fields after the name, from the state (the 3rd) on; the start time is the 22nd.
    std::string_view rest = line.substr(close + 1);
    uint64_t start = 0;
    char s = 0;
    for (int field = 3; field <= 22; ++field) {
        const size_t from = rest.find_first_not_of(' ');
        if (from == std::string_view::npos)
            return false;
        rest.remove_prefix(from);
        const size_t to = std::min(rest.find(' '), rest.size());
        const std::string_view value = rest.substr(0, to);
        if (field == 3)
            s = value.empty() ? 0 : value[0];
        if (field == 22 && !ParseNumber(value, &start))
            return false;
        rest.remove_prefix(to);
    }
    if (comm != nullptr)
        comm->assign(line.substr(open + 1, close - open - 1));
    if (startTicks != nullptr)
        *startTicks = start;
    if (state != nullptr)
        *state = s;
    return true;
}

bool SocketHeld(const OwnerState s) {
    return s == OwnerState::kFound || s == OwnerState::kOtherUser ||
           s == OwnerState::kHolderUnknown || s == OwnerState::kClosed;
}

// The socket takes traffic of the conversation's family: an IPv6 socket
// takes IPv4 unless it is IPv6-only, through its any-address or an
// IPv4-mapped one (given as IPv4); an IPv4 socket takes no IPv6.
bool TakesFamily(const SocketEntry& e, bool ipv6) {
    if (ipv6)
        return e.ipv6Socket && e.localAddr.IsIpv6();
    return !e.localAddr.IsIpv6() || (e.localAddr.IsUnspecified() && !e.v6Only);
}

bool BoundTo(const SocketEntry& e, const ConversationKey& k) {
    return e.localPort == k.localPort && TakesFamily(e, k.localAddr.IsIpv6()) &&
           (e.localAddr.IsUnspecified() || e.localAddr == k.localAddr);
}

}  // namespace

std::string ProcessExecutable(pid_t pid) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
    char buffer[4096];
    const ssize_t n = readlink(link, buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer)
        return {};
    std::string_view path(buffer, static_cast<size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.ends_with(kDeleted))
        path.remove_suffix(kDeleted.size());
    // The path is the program's own choosing: kept as text that shows as it is.
    return DisplayableUtf8(path);
}

bool ProcessAlive(pid_t pid, uint64_t startTicks) {
    uint64_t start = 0;
    char state = 0;
    if (pid <= 0 || !ReadStat(pid, nullptr, &start, &state))
        return false;
    // A zombie has ended and waits for its parent; a dead one is going.
    return start == startTicks && state != 'Z' && state != 'X' && state != 'x';
}

OwnerLookup::OwnerLookup() = default;
OwnerLookup::~OwnerLookup() = default;

int OwnerLookup::FindSocket(const OwnerQuery& q, SocketEntry* entry, bool* udpDumped,
                            std::vector<SocketEntry>* udpDump) {
    const ConversationKey& k = q.key;
    int rc =
        diag_.FindOwner(k.protocol, k.localAddr, k.localPort, k.remoteAddr, k.remotePort, entry);
    if (k.protocol == kProtocolTcp) {
        // A connection still being accepted has no socket of its own yet:
        // it is the listener's.
        if (rc == 0 && entry->inode == 0 &&
            (entry->state == kTcpSynReceived || entry->state == kTcpNewSynReceived))
            rc = diag_.FindOwner(k.protocol, k.localAddr, k.localPort, 0, 0, entry);
        return rc;
    }
    const bool fits = rc == 0 && BoundTo(*entry, k);
    if (fits || (rc != 0 && rc != ENOENT))
        return rc;
    // Whatever the kernel's own choice, an unconnected socket bound to the
    // port (on the address or on every address) takes the datagram. Both
    // families: a dual-stack IPv6 socket takes IPv4 datagrams too.
    if (!*udpDumped) {
        *udpDumped = true;
        udpDump->clear();
        const int d = diag_.Dump(kProtocolUdp, AF_INET, udpDump);
        // A kernel without IPv6 refuses the second: IPv4 is answered all the same.
        if (d == 0)
            diag_.Dump(kProtocolUdp, AF_INET6, udpDump);
        if (d != 0) {
            udpDump->clear();
            return d;
        }
    }
    int best = -1;
    for (const SocketEntry& e : *udpDump) {
        if (!BoundTo(e, k))
            continue;
        const bool connected = !e.remoteAddr.IsUnspecified() || e.remotePort != 0;
        if (connected && (e.remoteAddr != k.remoteAddr || e.remotePort != k.remotePort))
            continue;
        const int score = (connected ? 2 : 0) + (!e.localAddr.IsUnspecified() ? 1 : 0);
        if (score > best) {
            best = score;
            *entry = e;
        }
    }
    return best >= 0 ? 0 : ENOENT;
}

bool OwnerLookup::StillHeld(uint64_t inode, const Holder& h) const {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/fd/%d", static_cast<int>(h.pid), h.fd);
    char link[64];
    const ssize_t n = readlink(path, link, sizeof link);
    return n > 0 && SocketInode(std::string_view(link, static_cast<size_t>(n))) == inode;
}

bool OwnerLookup::ScanProc(const std::vector<std::pair<uint64_t, uint32_t>>& wanted) {
    ++scans_;
    if (holders_.size() > kHoldersKept)
        holders_.clear();
    const int procFd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procFd < 0)
        return false;
    DIR* proc = fdopendir(procFd);
    if (proc == nullptr) {
        close(procFd);
        return false;
    }
    struct Process {
        pid_t pid;
        uint32_t uid;
    };
    std::vector<Process> processes;
    while (const dirent* p = readdir(proc)) {
        uint64_t pid = 0;
        if (!ParseNumber(p->d_name, &pid) || pid > INT32_MAX)
            continue;
        struct stat st {};
        if (fstatat(procFd, p->d_name, &st, 0) == 0)
            processes.push_back({static_cast<pid_t>(pid), st.st_uid});
    }
    // A socket that was just opened is most likely a process's that just
    // started, and PIDs rise until they wrap: the newest first, those of the
    // sockets' users before the others. A short-lived program is found
    // before it ends, and the walk stops once every socket has its holder.
    std::sort(processes.begin(), processes.end(),
              [](const Process& a, const Process& b) { return a.pid > b.pid; });
    std::unordered_set<uint32_t> uids;
    std::unordered_set<uint64_t> missing;
    for (const auto& [inode, uid] : wanted) {
        uids.insert(uid);
        missing.insert(inode);
    }
    std::stable_partition(processes.begin(), processes.end(),
                          [&](const Process& p) { return uids.contains(p.uid); });
    bool unreadable = false;
    for (const Process& process : processes) {
        char path[32];
        std::snprintf(path, sizeof path, "%d/fd", static_cast<int>(process.pid));
        const int dirFd = openat(procFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0) {
            if (errno == EACCES || errno == EPERM)
                unreadable = true;
            continue;
        }
        DIR* fds = fdopendir(dirFd);
        if (fds == nullptr) {
            close(dirFd);
            continue;
        }
        bool described = false;
        while (const dirent* f = readdir(fds)) {
            uint64_t fd = 0;
            if (!ParseNumber(f->d_name, &fd))
                continue;
            char link[64];
            const ssize_t n = readlinkat(dirFd, f->d_name, link, sizeof link);
            if (n < 0) {
                if (errno == EACCES || errno == EPERM)
                    unreadable = true;
                continue;
            }
            const uint64_t inode = SocketInode(std::string_view(link, static_cast<size_t>(n)));
            if (inode == 0)
                continue;
            holders_.try_emplace(inode, Holder{process.pid, static_cast<int>(fd)});
            if (missing.erase(inode) != 0 && !described) {
                // Read now: the program may be gone by the end of the round.
                described = true;
                Facts facts;
                facts.uid = process.uid;
                if (ReadStat(process.pid, &facts.comm, &facts.startTicks, nullptr)) {
                    facts.executable = ProcessExecutable(process.pid);
                    facts_[process.pid] = std::move(facts);
                }
            }
        }
        closedir(fds);
        if (missing.empty()) {
            closedir(proc);
            return false;
        }
    }
    closedir(proc);
    ++fullScans_;
    someUnreadable_ = unreadable;
    return true;
}

std::string OwnerLookup::UserName(uint32_t uid) {
    if (const auto it = users_.find(uid); it != users_.end())
        return it->second;
    std::string name = std::to_string(uid);
    std::vector<char> buffer(4096);
    for (;;) {
        passwd pw{};
        passwd* result = nullptr;
        const int rc = getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &result);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc == 0 && result != nullptr && pw.pw_name != nullptr && pw.pw_name[0] != '\0')
            name = DisplayableUtf8(pw.pw_name);
        break;
    }
    // Lookups run in rounds over a bounded set; the names of a host's users are few.
    if (users_.size() > 4096)
        users_.clear();
    users_.emplace(uid, name);
    return name;
}

void OwnerLookup::Describe(OwnerInfo& info, pid_t pid) {
    Facts facts;
    if (const auto it = facts_.find(pid); it != facts_.end()) {
        facts = it->second;
    } else {
        if (ReadStat(pid, &facts.comm, &facts.startTicks, nullptr))
            facts.executable = ProcessExecutable(pid);
        char path[32];
        std::snprintf(path, sizeof path, "/proc/%d", static_cast<int>(pid));
        struct stat st {};
        if (stat(path, &st) == 0)
            facts.uid = st.st_uid;
    }
    info.program = DisplayableUtf8(facts.comm);
    info.executable = facts.executable;
    info.pid = pid;
    info.startTicks = facts.startTicks;
    // Gone before it could be read: it has ended.
    info.exited = facts.startTicks == 0;
    info.uid = facts.uid;
    info.user = UserName(info.uid);
}

std::vector<OwnerInfo> OwnerLookup::Round(std::span<const OwnerQuery> queries) {
    std::vector<OwnerInfo> results(queries.size());
    std::vector<SocketEntry> entries(queries.size());
    std::vector<size_t> needHolder;
    bool udpDumped = false;
    std::vector<SocketEntry> udpDump;

    for (size_t i = 0; i < queries.size(); ++i) {
        const OwnerQuery& q = queries[i];
        OwnerInfo& r = results[i];
        if (q.previous != nullptr)
            r.generation = q.previous->generation;
        if (q.key.protocol != kProtocolTcp && q.key.protocol != kProtocolUdp) {
            r.state = OwnerState::kNotApplicable;
            continue;
        }
        const int rc = FindSocket(q, &entries[i], &udpDumped, &udpDump);
        if (rc == ENOENT) {
            const bool heldBefore = q.previous != nullptr && SocketHeld(q.previous->state);
            if (heldBefore) {
                r = *q.previous;
                r.state = OwnerState::kClosed;
            } else {
                r.state = q.key.protocol == kProtocolUdp && q.localSent ? OwnerState::kClosed
                                                                        : OwnerState::kNoSocket;
            }
        } else if (rc != 0) {
            r.state = OwnerState::kUnavailable;
            r.error = rc;
        } else if (entries[i].inode == 0 ||
                   (entries[i].state == kTcpListen && q.previous != nullptr &&
                    SocketHeld(q.previous->state) && q.previous->inode != 0 &&
                    q.previous->inode != entries[i].inode)) {
            // TIME_WAIT, or a socket its program closed that still ends its
            // exchange; or the connection seen before is gone and only the
            // listener of its port is left.
            if (q.previous != nullptr && SocketHeld(q.previous->state))
                r = *q.previous;
            r.state = OwnerState::kClosed;
            r.inode = 0;
        } else {
            needHolder.push_back(i);
        }
    }
    if (needHolder.empty())
        return results;

    // /proc is walked when a socket is new to us or has changed hands; one
    // that the last full walk could not find is not worth another for a while.
    const auto now = std::chrono::steady_clock::now();
    const bool scanIsOld = fullScans_ == 0 || now - lastScan_ > std::chrono::seconds(30);
    if (scanIsOld || absent_.size() > kAbsentKept)
        absent_.clear();
    facts_.clear();
    std::vector<std::pair<uint64_t, uint32_t>> wanted;
    for (const size_t i : needHolder) {
        const uint64_t inode = entries[i].inode;
        const auto it = holders_.find(inode);
        if (it != holders_.end() && StillHeld(inode, it->second))
            continue;
        if (it != holders_.end())
            holders_.erase(it);
        if (!absent_.contains(inode))
            wanted.emplace_back(inode, entries[i].uid);
    }
    if (!wanted.empty() && ScanProc(wanted)) {
        lastScan_ = now;
        for (const auto& [inode, uid] : wanted) {
            if (!holders_.contains(inode))
                absent_.insert(inode);
        }
    }

    const uint32_t self = static_cast<uint32_t>(geteuid());
    for (const size_t i : needHolder) {
        const SocketEntry& e = entries[i];
        OwnerInfo& r = results[i];
        r.inode = e.inode;
        const auto it = holders_.find(e.inode);
        if (it != holders_.end()) {
            r.state = OwnerState::kFound;
            Describe(r, it->second.pid);
        } else {
            r.state = e.uid != self && someUnreadable_ ? OwnerState::kOtherUser
                                                       : OwnerState::kHolderUnknown;
            r.uid = e.uid;
            r.user = UserName(e.uid);
        }
        const OwnerInfo* before = queries[i].previous;
        if (before != nullptr && before->inode != 0 && before->inode != r.inode)
            ++r.generation;
    }
    return results;
}
