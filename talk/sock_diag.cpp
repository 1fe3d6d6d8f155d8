#include "talk/sock_diag.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr size_t kReceiveSize = 64 * 1024;

struct DiagRequest {
    nlmsghdr header;
    inet_diag_req_v2 body;
};

IpAddress AddressOf(uint8_t family, const __be32 words[4]) {
    if (family != AF_INET6)
        return IpAddress(ntohl(words[0]));
    Ipv6Address a;
    std::memcpy(a.data(), words, a.size());
    return IpAddress::Unmapped(a);
}

// The IPv6-only flag among the attributes behind the message.
bool V6Only(const nlmsghdr* h) {
    const size_t start = NLMSG_ALIGN(sizeof(inet_diag_msg));
    if (h->nlmsg_len < NLMSG_LENGTH(start))
        return false;
    int left = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(start));
    const auto* a =
        reinterpret_cast<const rtattr*>(static_cast<const char*>(NLMSG_DATA(h)) + start);
    for (; RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        if (a->rta_type == INET_DIAG_SKV6ONLY && RTA_PAYLOAD(a) >= 1)
            return *static_cast<const uint8_t*>(RTA_DATA(a)) != 0;
    }
    return false;
}

SocketEntry EntryOf(const inet_diag_msg& m) {
    SocketEntry e;
    e.state = m.idiag_state;
    e.localAddr = AddressOf(m.idiag_family, m.id.idiag_src);
    e.remoteAddr = AddressOf(m.idiag_family, m.id.idiag_dst);
    e.ipv6Socket = m.idiag_family == AF_INET6;
    e.localPort = ntohs(m.id.idiag_sport);
    e.remotePort = ntohs(m.id.idiag_dport);
    e.uid = m.idiag_uid;
    e.inode = m.idiag_inode;
    return e;
}

void PutAddress(const IpAddress& a, __be32 words[4]) {
    if (a.IsIpv6()) {
        std::memcpy(words, a.v6.data(), a.v6.size());
    } else {
        words[0] = htonl(a.v4);
    }
}

}  // namespace

SockDiag::~SockDiag() {
    if (fd_ >= 0)
        close(fd_);
}

int SockDiag::Open() {
    if (fd_ >= 0)
        return 0;
    fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd_ < 0)
        return errno;
    // The kernel answers at once; a bound on the wait keeps a lookup round
    // from ever hanging on it.
    timeval limit{};
    limit.tv_sec = 2;
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return 0;
}

int SockDiag::Exchange(const void* request, size_t size, bool dump, std::vector<SocketEntry>* out) {
    if (const int rc = Open(); rc != 0)
        return rc;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = sendto(fd_, request, size, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        const int error = errno;
        close(fd_);
        fd_ = -1;
        return error;
    }
    const uint32_t seq = static_cast<const nlmsghdr*>(request)->nlmsg_seq;
    alignas(nlmsghdr) static thread_local char buffer[kReceiveSize];
    for (;;) {
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // A late answer would be taken for the next request's: start afresh.
            const int error = errno;
            close(fd_);
            fd_ = -1;
            return error;
        }
        if (n == 0)
            return EIO;
        int len = static_cast<int>(n);
        for (const nlmsghdr* h = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(h, len);
             h = NLMSG_NEXT(h, len)) {
            if (h->nlmsg_seq != seq)
                continue;  // left over from an exchange that gave up
            if (h->nlmsg_type == NLMSG_DONE)
                return 0;
            if (h->nlmsg_type == NLMSG_ERROR) {
                if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr)))
                    return EIO;
                const auto* err = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
                return err->error == 0 ? 0 : -err->error;
            }
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                continue;
            inet_diag_msg m;
            std::memcpy(&m, NLMSG_DATA(h), sizeof m);
            out->push_back(EntryOf(m));
            out->back().v6Only = out->back().ipv6Socket && V6Only(h);
            if (!dump)
                return 0;
        }
    }
}

int SockDiag::FindOwner(uint8_t protocol, const IpAddress& localAddr, uint16_t localPort,
                        const IpAddress& remoteAddr, uint16_t remotePort, SocketEntry* out) {
    DiagRequest req{};
    req.header.nlmsg_len = sizeof req;
    req.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    req.header.nlmsg_flags = NLM_F_REQUEST;
    req.header.nlmsg_seq = ++sequence_;
    req.body.sdiag_family = localAddr.IsIpv6() ? AF_INET6 : AF_INET;
    req.body.sdiag_protocol = protocol;
    req.body.idiag_states = ~0u;
    req.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    req.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    // TCP looks the pair up as given; UDP looks up the receiver of a datagram
    // from the first pair to the second, so the kernel takes its sides the
    // other way round.
    const bool swapped = protocol == IPPROTO_UDP;
    PutAddress(swapped ? remoteAddr : localAddr, req.body.id.idiag_src);
    req.body.id.idiag_sport = htons(swapped ? remotePort : localPort);
    PutAddress(swapped ? localAddr : remoteAddr, req.body.id.idiag_dst);
    req.body.id.idiag_dport = htons(swapped ? localPort : remotePort);
    std::vector<SocketEntry> found;
    const int rc = Exchange(&req, sizeof req, false, &found);
    if (rc != 0)
        return rc;
    if (found.empty())
        return ENOENT;
    *out = found.front();
    return 0;
}

int SockDiag::Dump(uint8_t protocol, int family, std::vector<SocketEntry>* out) {
    DiagRequest req{};
    req.header.nlmsg_len = sizeof req;
    req.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    req.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.header.nlmsg_seq = ++sequence_;
    req.body.sdiag_family = static_cast<uint8_t>(family);
    req.body.sdiag_protocol = protocol;
    req.body.idiag_states = ~0u;
    return Exchange(&req, sizeof req, true, out);
}
