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

void OwnerLookup::ScanProc() {
    ++fullScans_;
    holders_.clear();
    someUnreadable_ = false;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return;
    // /proc lists processes by rising pid, so a socket shared after a fork
    // is ascribed to the oldest holder, usually the parent.
    while (const dirent* p = readdir(proc)) {
        uint64_t pid = 0;
        if (!ParseNumber(p->d_name, &pid))
            continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%llu/fd", static_cast<unsigned long long>(pid));
        const int dirFd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0) {
            if (errno == EACCES || errno == EPERM)
                someUnreadable_ = true;
            continue;
        }
        DIR* fds = fdopendir(dirFd);
        if (fds == nullptr) {
            close(dirFd);
            continue;
        }
        while (const dirent* f = readdir(fds)) {
            uint64_t fd = 0;
            if (!ParseNumber(f->d_name, &fd))
                continue;
            char link[64];
            const ssize_t n = readlinkat(dirFd, f->d_name, link, sizeof link);
            if (n < 0) {
                if (errno == EACCES || errno == EPERM)
                    someUnreadable_ = true;
                continue;
            }
            const uint64_t inode = SocketInode(std::string_view(link, static_cast<size_t>(n)));
            if (inode != 0)
                holders_.try_emplace(inode, Holder{static_cast<pid_t>(pid), static_cast<int>(fd)});
        }
        closedir(fds);
    }
    closedir(proc);
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
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    std::string comm;
    if (const int fd = open(path, O_RDONLY | O_CLOEXEC); fd >= 0) {
        char text[64];
        const ssize_t n = read(fd, text, sizeof text);
        close(fd);
        if (n > 0)
            comm.assign(text, static_cast<size_t>(n));
    }
    if (!comm.empty() && comm.back() == '\n')
        comm.pop_back();
    info.program = DisplayableUtf8(comm);
    info.pid = pid;
    std::snprintf(path, sizeof path, "/proc/%d", static_cast<int>(pid));
    struct stat st {};
    if (stat(path, &st) == 0)
        info.uid = st.st_uid;
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

    // One full scan of /proc when a socket is new to us or has changed hands;
    // one that the last scan could not find is not worth another for a while.
    const auto now = std::chrono::steady_clock::now();
    const bool scanIsOld = fullScans_ == 0 || now - lastScan_ > std::chrono::seconds(30);
    bool scan = false;
    for (const size_t i : needHolder) {
        const uint64_t inode = entries[i].inode;
        const auto it = holders_.find(inode);
        if (it != holders_.end())
            scan |= !StillHeld(inode, it->second);
        else
            scan |= scanIsOld || !absent_.contains(inode);
    }
    if (scan) {
        ScanProc();
        lastScan_ = now;
        absent_.clear();
        for (const size_t i : needHolder) {
            if (!holders_.contains(entries[i].inode))
                absent_.insert(entries[i].inode);
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
