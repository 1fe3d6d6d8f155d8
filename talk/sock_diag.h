#pragma once
// The kernel's socket table, asked through NETLINK_SOCK_DIAG: which socket of
// this network namespace holds an IPv4 TCP or UDP address and port pair, its
// inode and the uid that made it.
#include <cstddef>
#include <cstdint>
#include <vector>

struct SocketEntry {
    uint8_t state =
        0;  // TCP_ESTABLISHED, TCP_LISTEN, TCP_TIME_WAIT, ... (UDP: 7 unconnected, 1 connected)
    uint32_t localAddr = 0;  // host order, as all addresses here
    uint32_t remoteAddr = 0;
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
    int FindOwner(uint8_t protocol, uint32_t localAddr, uint16_t localPort, uint32_t remoteAddr,
                  uint16_t remotePort, SocketEntry* out);
    // Every socket of the protocol (all states): 0 or an errno.
    int Dump(uint8_t protocol, std::vector<SocketEntry>* out);

  private:
    int Open();
    int Exchange(const void* request, size_t size, bool dump, std::vector<SocketEntry>* out);

    int fd_ = -1;
    uint32_t sequence_ = 0;
};
