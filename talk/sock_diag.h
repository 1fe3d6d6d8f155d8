#pragma once
// The kernel's socket table, asked through NETLINK_SOCK_DIAG: which socket of
// this network namespace holds an IPv4 or IPv6 TCP or UDP address and port
// pair, its inode and the uid that made it.
//
// An IPv6 socket that is not IPv6-only (a dual-stack one) takes IPv4 traffic
// too and holds its IPv4 addresses as ::ffff:a.b.c.d: entries give those as
// the IPv4 addresses they are, so they compare with an IPv4 conversation's.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "wire/ip_address.h"

struct SocketEntry {
    uint8_t state =
        0;  // TCP_ESTABLISHED, TCP_LISTEN, TCP_TIME_WAIT, ... (UDP: 7 unconnected, 1 connected)
    IpAddress localAddr;  // IPv4-mapped addresses as IPv4; unspecified for any address
    IpAddress remoteAddr;
    bool ipv6Socket = false;  // an AF_INET6 socket
    bool v6Only = false;      // IPv6 only: takes no IPv4 traffic
    uint16_t localPort = 0;
    uint16_t remotePort = 0;
    uint32_t uid = 0;
    uint64_t inode = 0;  // 0 for sockets no process holds any more (TIME_WAIT, orphans)
};

class SockDiag {
  public:
    SockDiag() = default;
    ~SockDiag();
    SockDiag(const SockDiag&) = delete;
    SockDiag& operator=(const SockDiag&) = delete;

    // The socket that owns the local end of the pair: for TCP the connection
    // (or TIME_WAIT entry) itself, else the listener of the local port; for
    // UDP the socket a datagram from remote to local would be delivered to,
    // connected or not. 0 when found, ENOENT when there is none, another
    // errno when the kernel could not be asked.
    // The addresses are of one family, which the kernel is asked about.
    int FindOwner(uint8_t protocol, const IpAddress& localAddr, uint16_t localPort,
                  const IpAddress& remoteAddr, uint16_t remotePort, SocketEntry* out);
    // Every socket of the protocol and family (AF_INET or AF_INET6; all
    // states), added to `out`: 0 or an errno.
    int Dump(uint8_t protocol, int family, std::vector<SocketEntry>* out);

  private:
    int Open();
    int Exchange(const void* request, size_t size, bool dump, std::vector<SocketEntry>* out);

    int fd_ = -1;
    uint32_t sequence_ = 0;
};
