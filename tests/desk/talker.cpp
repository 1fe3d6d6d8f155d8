// qvdesktalker: a program of the desktop test's own that talks to the peer
// over IPv4 and IPv6, as any user's program would. Per family: one TCP
// connection that sends a request and reads the reply, and a connected UDP
// socket whose datagrams the peer echoes. It says its local ports, holds
// its sockets until told "close" on its input, then closes each connection
// (its FIN, the peer's, both acknowledged) and says what the kernel counted
// for it: the segments each way, and the retransmitted ones.
//
//   qvdesktalker PEER4 PEER6 TCPPORT UDPPORT
//   -> "ports TCP4 UDP4 TCP6 UDP6", then after "close": "tcp4 SEGSOUT SEGSIN
//      RETRANSMITTED", the same for tcp6, and "done".
#include <arpa/inet.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/desk/desk_traffic.h"

namespace {

// The kernel's TCP_CLOSE (include/net/tcp_states.h), which no user header of
// the kernel's own names.
constexpr uint8_t kTcpClosed = 7;

struct Peer {
    sockaddr_storage address{};
    socklen_t size = 0;
    int family = AF_INET;
};

Peer PeerAt(const char* text, uint16_t port) {
    Peer p;
    if (std::strchr(text, ':')) {
        auto* sa = reinterpret_cast<sockaddr_in6*>(&p.address);
        sa->sin6_family = AF_INET6;
        sa->sin6_port = htons(port);
        inet_pton(AF_INET6, text, &sa->sin6_addr);
        p.size = sizeof *sa;
        p.family = AF_INET6;
    } else {
        auto* sa = reinterpret_cast<sockaddr_in*>(&p.address);
        sa->sin_family = AF_INET;
        sa->sin_port = htons(port);
        inet_pton(AF_INET, text, &sa->sin_addr);
        p.size = sizeof *sa;
    }
    return p;
}

uint16_t LocalPort(int fd) {
    sockaddr_storage sa{};
    socklen_t n = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &n);
    return ntohs(reinterpret_cast<sockaddr_in*>(&sa)->sin_port);
}

bool ReadExactly(int fd, char* into, size_t n) {
    for (size_t got = 0; got < n;) {
        const ssize_t r = read(fd, into + got, n - got);
        if (r <= 0)
            return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

// The TCP exchange: the request, the reply read whole.
int Connect(const Peer& peer) {
    const int fd = socket(peer.family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const std::string request(desk::kTcpRequest, 'q');
    char reply[desk::kTcpReply];
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&peer.address), peer.size) != 0 ||
        write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()) ||
        !ReadExactly(fd, reply, sizeof reply))
        return -1;
    return fd;
}

// The UDP exchange: each datagram waits for its echo.
int Exchange(const Peer& peer) {
    const int fd = socket(peer.family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&peer.address), peer.size) != 0)
        return -1;
    const std::string datagram(desk::kUdpPayload, 'u');
    char echo[desk::kUdpPayload + 1];
    for (int i = 0; i < desk::kUdpDatagrams; ++i) {
        if (send(fd, datagram.data(), datagram.size(), 0) !=
                static_cast<ssize_t>(datagram.size()) ||
            recv(fd, echo, sizeof echo, 0) != static_cast<ssize_t>(datagram.size()))
            return -1;
    }
    return fd;
}

// Ends the connection from this side and waits until both FINs are
// acknowledged (the socket is closed for the kernel), so that its counts
// hold every segment of it; then the counts.
bool Finish(int fd, tcp_info* info) {
    if (shutdown(fd, SHUT_WR) != 0)
        return false;
    char rest[256];
    while (read(fd, rest, sizeof rest) > 0) {
    }
    for (int waited = 0; waited < 10000; ++waited) {
        socklen_t n = sizeof *info;
        if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, info, &n) != 0)
            return false;
        if (info->tcpi_state == kTcpClosed)
            return true;
        const timespec ms{0, 1000000};
        nanosleep(&ms, nullptr);
    }
    return false;
}

std::string ReadLine() {
    std::string line;
    char c;
    while (read(STDIN_FILENO, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: qvdesktalker PEER4 PEER6 TCPPORT UDPPORT\n");
        return 2;
    }
    const auto tcpPort = static_cast<uint16_t>(std::atoi(argv[3]));
    const auto udpPort = static_cast<uint16_t>(std::atoi(argv[4]));
    int tcp[2], udp[2];
    for (int f = 0; f < 2; ++f) {
        tcp[f] = Connect(PeerAt(argv[1 + f], tcpPort));
        udp[f] = Exchange(PeerAt(argv[1 + f], udpPort));
        if (tcp[f] < 0 || udp[f] < 0) {
            std::perror("qvdesktalker");
            return 2;
        }
    }
    std::printf("ports %u %u %u %u\n", LocalPort(tcp[0]), LocalPort(udp[0]), LocalPort(tcp[1]),
                LocalPort(udp[1]));
    std::fflush(stdout);
    if (ReadLine() != "close")
        return 2;
    for (int f = 0; f < 2; ++f) {
        tcp_info info{};
        if (!Finish(tcp[f], &info)) {
            std::perror("qvdesktalker: closing");
            return 2;
        }
        std::printf("tcp%d %u %u %u\n", f == 0 ? 4 : 6, info.tcpi_segs_out, info.tcpi_segs_in,
                    info.tcpi_total_retrans);
        close(tcp[f]);
        close(udp[f]);
    }
    std::printf("done\n");
    std::fflush(stdout);
    return 0;
}
