// The parts a live test plays in its own child processes, over sockets: a
// server in the peer namespace, probes that talk to it and say their ports,
// a holder of a port, a sender. The test binary runs itself again in a role
// (see processes.h) and reads what it says one line at a time.
#pragma once

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/processes.h"
#include "wire/ipv4.h"

namespace roles {

inline uint32_t Addr(const std::string& text) {
    uint32_t a = 0;
    ParseIpv4(text, &a);
    return a;
}

inline sockaddr_in SockAddr(uint32_t addr, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(addr);
    sa.sin_port = htons(port);
    return sa;
}

// An address of either family with a port, for the roles that speak both.
struct AnyAddr {
    sockaddr_storage storage{};
    socklen_t size = 0;
    int family = AF_INET;
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

inline AnyAddr SockAddrOf(const std::string& text, uint16_t port) {
    AnyAddr a;
    if (text.find(':') == std::string::npos) {
        const sockaddr_in sa = SockAddr(Addr(text), port);
        std::memcpy(&a.storage, &sa, sizeof sa);
        a.size = sizeof sa;
        return a;
    }
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(port);
    inet_pton(AF_INET6, text.c_str(), &sa.sin6_addr);
    std::memcpy(&a.storage, &sa, sizeof sa);
    a.size = sizeof sa;
    a.family = AF_INET6;
    return a;
}

// The any-address of a family.
inline AnyAddr AnyOf(int family, uint16_t port) {
    return SockAddrOf(family == AF_INET6 ? "::" : "0.0.0.0", port);
}

inline uint16_t LocalPort(int fd) {
    sockaddr_storage sa{};
    socklen_t n = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &n);
    // The port lies at one place in both families' addresses.
    sockaddr_in in{};
    std::memcpy(&in, &sa, sizeof in);
    return ntohs(in.sin_port);
}

inline bool BecomeUid(uint32_t uid) {
    return setgroups(0, nullptr) == 0 && setresgid(uid, uid, uid) == 0 &&
           setresuid(uid, uid, uid) == 0;
}

// A UDP socket bound to an address of either family and a port, or -1: a
// port taken so that datagrams to it raise no port-unreachable answers, or
// a resolver that never answers.
inline int BindUdp(const std::string& address, uint16_t port) {
    AnyAddr sa = SockAddrOf(address, port);
    const int fd = socket(sa.family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && bind(fd, sa.get(), sa.size) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// What the server answers on a TCP connection: once `requestBytes` have come,
// `replyBytes` of its own. Nothing by default: it reads the connection to its end.
struct Reply {
    size_t requestBytes = 0;
    size_t replyBytes = 0;
};

// Peer namespace, on each of `addresses`: echoes UDP, takes TCP connections
// (answering as `reply` says) and closes each once the other side closed
// its own. Says "ready" once it listens; ends with its input.
inline int Serve(const std::vector<std::string>& addresses, uint16_t tcpPort, uint16_t udpPort,
                 Reply reply = {}) {
    std::vector<pollfd> fds = {{STDIN_FILENO, POLLIN, 0}};
    std::vector<int> listeners, udps;
    for (const std::string& address : addresses) {
        AnyAddr sa = SockAddrOf(address, tcpPort);
        const int listener = socket(sa.family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (bind(listener, sa.get(), sa.size) != 0 || listen(listener, 8) != 0)
            return 2;
        const int udp = BindUdp(address, udpPort);
        if (udp < 0)
            return 2;
        listeners.push_back(listener);
        udps.push_back(udp);
        fds.push_back({listener, POLLIN, 0});
        fds.push_back({udp, POLLIN, 0});
    }
    std::vector<size_t> received(fds.size(), 0);  // request bytes per connection
    const auto isIn = [](const std::vector<int>& v, int fd) {
        return std::find(v.begin(), v.end(), fd) != v.end();
    };
    const std::string answer(reply.replyBytes, 'r');
    Say("ready");
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0)
            continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[2048];
            const int fd = fds[i].fd;
            if (fd == STDIN_FILENO) {
                if (read(fd, buffer, sizeof buffer) <= 0)
                    return 0;
            } else if (isIn(listeners, fd)) {
                const int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    fds.push_back({c, POLLIN, 0});
                    received.push_back(0);
                }
            } else if (isIn(udps, fd)) {
                sockaddr_storage from{};
                socklen_t n = sizeof from;
                const ssize_t got =
                    recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &n);
                if (got >= 0)
                    sendto(fd, buffer, static_cast<size_t>(got), 0,
                           reinterpret_cast<sockaddr*>(&from), n);
            } else {
                const ssize_t got = read(fd, buffer, sizeof buffer);
                if (got <= 0) {
                    close(fd);
                    fds.erase(fds.begin() + static_cast<long>(i));
                    received.erase(received.begin() + static_cast<long>(i));
                    break;
                }
                const size_t before = received[i];
                received[i] += static_cast<size_t>(got);
                if (!answer.empty() && before < reply.requestBytes &&
                    received[i] >= reply.requestBytes &&
                    write(fd, answer.data(), answer.size()) != static_cast<ssize_t>(answer.size()))
                    return 2;
            }
        }
    }
}

inline int Serve(const char* address, uint16_t tcpPort, uint16_t udpPort) {
    return Serve(std::vector<std::string>{address}, tcpPort, udpPort);
}

// The two local ports a probe says (TCP, then UDP); zero where it said none.
struct ProbePorts {
    uint16_t tcp = 0;
    uint16_t udp = 0;
};
inline ProbePorts ReadPorts(const Child& probe) {
    std::istringstream words(probe.Line());
    ProbePorts p;
    words >> p.tcp >> p.udp;
    return p;
}

// Local namespace, under `name`: a TCP connection and `exchanges` UDP
// exchanges from an unconnected socket; says its two local ports, then on
// "close" closes the connection and says "closed"; ends with its input.
inline int Probe(const char* name, const char* server, uint16_t tcpPort, uint16_t udpPort,
                 int exchanges) {
    prctl(PR_SET_NAME, name);
    AnyAddr sa = SockAddrOf(server, tcpPort);
    const int tcp = socket(sa.family, SOCK_STREAM, 0);
    if (connect(tcp, sa.get(), sa.size) != 0 || write(tcp, "hi", 2) != 2)
        return 2;
    const int udp = socket(sa.family, SOCK_DGRAM, 0);
    AnyAddr any = AnyOf(sa.family, 0);
    bind(udp, any.get(), any.size);
    sa = SockAddrOf(server, udpPort);
    for (int i = 0; i < exchanges; ++i) {
        char b[64];
        if (sendto(udp, "ping", 4, 0, sa.get(), sa.size) != 4 || recv(udp, b, sizeof b, 0) != 4)
            return 2;
    }
    Say(std::to_string(LocalPort(tcp)) + " " + std::to_string(LocalPort(udp)));
    while (ReadLine(STDIN_FILENO) == "close") {
        close(tcp);
        Say("closed");
    }
    return 0;
}

// Local namespace, under `name`: one UDP datagram and one TCP connection;
// says their two local ports, then on a word (or its input's end) ends at
// once, its sockets closing with it.
inline int Brief(const char* name, const char* server, uint16_t tcpPort, uint16_t udpPort) {
    prctl(PR_SET_NAME, name);
    AnyAddr sa = SockAddrOf(server, udpPort);
    const int udp = socket(sa.family, SOCK_DGRAM, 0);
    if (sendto(udp, "q", 1, 0, sa.get(), sa.size) != 1)
        return 2;
    sa = SockAddrOf(server, tcpPort);
    const int tcp = socket(sa.family, SOCK_STREAM, 0);
    if (connect(tcp, sa.get(), sa.size) != 0)
        return 2;
    Say(std::to_string(LocalPort(tcp)) + " " + std::to_string(LocalPort(udp)));
    ReadLine(STDIN_FILENO);
    _exit(0);
}

// Holds a UDP port (on every address) until its input ends, as `uid` if given.
// With `dualStack`, an IPv6 socket on [::] that takes IPv4 datagrams too.
inline int Hold(const char* name, uint16_t port, uint32_t uid, bool dualStack = false) {
    prctl(PR_SET_NAME, name);
    if (uid != 0 && !BecomeUid(uid))
        return 2;
    AnyAddr sa = AnyOf(dualStack ? AF_INET6 : AF_INET, port);
    const int udp = socket(sa.family, SOCK_DGRAM, 0);
    const int no = 0;
    if (dualStack)
        setsockopt(udp, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    if (bind(udp, sa.get(), sa.size) != 0)
        return 2;
    Say("ready");
    ReadLine(STDIN_FILENO);
    return 0;
}

// From the peer namespace, to a local port: one UDP datagram ("udp"), a
// connection refused with a reset ("tcp"), or one that says something and
// closes first ("tcp-open").
inline int SendTo(const char* protocol, const char* address, uint16_t port) {
    AnyAddr sa = SockAddrOf(address, port);
    if (std::strcmp(protocol, "udp") == 0) {
        const int udp = socket(sa.family, SOCK_DGRAM, 0);
        return sendto(udp, "x", 1, 0, sa.get(), sa.size) == 1 ? 0 : 2;
    }
    const int tcp = socket(sa.family, SOCK_STREAM, 0);
    if (std::strcmp(protocol, "tcp-open") == 0) {
        const bool ok = connect(tcp, sa.get(), sa.size) == 0 && write(tcp, "hi", 2) == 2;
        close(tcp);
        return ok ? 0 : 2;
    }
    return connect(tcp, sa.get(), sa.size) != 0 && errno == ECONNREFUSED ? 0 : 2;
}

}  // namespace roles
