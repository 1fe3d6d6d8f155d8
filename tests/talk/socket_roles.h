// The parts a live "who is talking" test plays in its own child processes:
// the test binary runs itself again in a role (a server in the peer
// namespace, a holder of a port, a sender) and talks to it over pipes, one
// line at a time.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "talk/conversation.h"

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

inline std::string ReadLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

inline void Say(const std::string& line) {
    const std::string text = line + "\n";
    if (write(STDOUT_FILENO, text.data(), text.size()) < 0)
        _exit(3);
}

inline bool BecomeUid(uint32_t uid) {
    return setgroups(0, nullptr) == 0 && setresgid(uid, uid, uid) == 0 &&
           setresuid(uid, uid, uid) == 0;
}

inline std::string SelfPath(const char* argv0) {
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    return n > 0 ? std::string(self, static_cast<size_t>(n)) : argv0;
}

// Peer namespace: echoes UDP, takes TCP connections and reads them to their end.
inline int Serve(const char* address, uint16_t tcpPort, uint16_t udpPort) {
    AnyAddr sa = SockAddrOf(address, tcpPort);
    const int listener = socket(sa.family, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(listener, sa.get(), sa.size) != 0 || listen(listener, 8) != 0)
        return 2;
    const int udp = socket(sa.family, SOCK_DGRAM, 0);
    sa = SockAddrOf(address, udpPort);
    if (bind(udp, sa.get(), sa.size) != 0)
        return 2;
    Say("ready");
    std::vector<pollfd> fds = {{listener, POLLIN, 0}, {udp, POLLIN, 0}};
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0)
            continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[2048];
            if (fds[i].fd == listener) {
                const int c = accept(listener, nullptr, nullptr);
                if (c >= 0)
                    fds.push_back({c, POLLIN, 0});
            } else if (fds[i].fd == udp) {
                sockaddr_storage from{};
                socklen_t n = sizeof from;
                const ssize_t got =
                    recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &n);
                if (got >= 0)
                    sendto(udp, buffer, static_cast<size_t>(got), 0,
                           reinterpret_cast<sockaddr*>(&from), n);
            } else if (read(fds[i].fd, buffer, sizeof buffer) <= 0) {
                close(fds[i].fd);
                fds.erase(fds.begin() + static_cast<long>(i));
                break;
            }
        }
    }
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

// A role running in a child process, its standard input and output ours.
struct Child {
    pid_t pid = -1;
    int in = -1;   // its standard input
    int out = -1;  // its standard output

    Child() = default;
    Child(pid_t p, int i, int o) : pid(p), in(i), out(o) {}
    Child(Child&& c) noexcept : pid(std::exchange(c.pid, -1)), in(c.in), out(c.out) {}
    Child& operator=(Child&&) = delete;
    // A test that failed half-way leaves no process behind.
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            End();
        }
    }

    std::string Line() const { return ReadLine(out); }
    bool Tell(const std::string& line) const {
        const std::string text = line + "\n";
        return write(in, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    // Closes its input (which ends every role) and reaps it.
    int End() {
        if (pid < 0)
            return -1;
        close(in);
        close(out);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int Kill() {
        if (pid > 0)
            kill(pid, SIGTERM);
        return End();
    }
};

// Starts `self` with `args`, in this namespace or (a `peerNs` given) in that one.
inline Child Spawn(const std::string& self, std::vector<std::string> args,
                   const std::string& peerNs = {}) {
    std::vector<std::string> all;
    if (!peerNs.empty())
        all = {"ip", "netns", "exec", peerNs};
    all.push_back(self);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    return Child{pid, in[1], out[0]};
}

}  // namespace roles
