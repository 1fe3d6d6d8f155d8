#pragma once
// What the desktop test's talker sends and the peer answers, and what the
// monitor must count for it: every datagram whole as the history counts it
// (the IPv4 total length, or 40 plus the IPv6 payload length), so the IP,
// UDP and TCP headers too, the TCP handshake and teardown included.
#include <cstdint>

namespace desk {

// All below one segment's payload (the veth's MTU is 1500): each write is one
// segment, never one that the capture sees before the kernel splits it.
inline constexpr int kTcpRequest = 300;  // the talker's request
inline constexpr int kTcpReply = 1200;   // the peer's reply
inline constexpr int kUdpPayload = 100;  // each way, echoed
inline constexpr int kUdpDatagrams = 20;

inline constexpr uint16_t kTcpPort = 7401;
inline constexpr uint16_t kUdpPort = 7402;

struct Counted {
    uint64_t bytesIn = 0, bytesOut = 0, datagramsIn = 0, datagramsOut = 0;
    Counted& operator+=(const Counted& o) {
        bytesIn += o.bytesIn;
        bytesOut += o.bytesOut;
        datagramsIn += o.datagramsIn;
        datagramsOut += o.datagramsOut;
        return *this;
    }
    bool operator==(const Counted&) const = default;
};

inline uint64_t IpHeader(bool ipv6) {
    return ipv6 ? 40 : 20;
}

// The UDP exchange of one family, as the local side sees it.
inline Counted UdpExchange(bool ipv6) {
    const uint64_t each = IpHeader(ipv6) + 8 + kUdpPayload;
    return {each * kUdpDatagrams, each * kUdpDatagrams, kUdpDatagrams, kUdpDatagrams};
}

// One connection of one family, from the segments the talker's kernel sent
// and received on it. The test's namespaces turn TCP timestamps, SACK and
// window scaling off: every segment's header is 20 bytes, but the SYN's and
// the SYN-ACK's, which carry the MSS option (4 bytes) alone.
inline Counted TcpConnection(bool ipv6, uint64_t segmentsOut, uint64_t segmentsIn) {
    const uint64_t header = IpHeader(ipv6) + 20;
    return {segmentsIn * header + 4 + kTcpReply, segmentsOut * header + 4 + kTcpRequest, segmentsIn,
            segmentsOut};
}

}  // namespace desk
