#pragma once
// The application protocol a conversation speaks, where its first bytes say
// it: a look at a few bytes at the start of one datagram's TCP or UDP
// payload, cheap enough for every datagram of a conversation's beginning
// (no allocation, no loop over the payload).
#include <cstdint>

#include "wire/packet_bytes.h"

enum class AppProtocol : uint8_t { kUnknown, kDns, kTls, kQuic, kHttp, kSsh };

inline constexpr uint16_t kHttpsPort = 443;

// `protocol` is the IP protocol number (TCP or UDP), the ports are the
// datagram's own, `payload` what follows the TCP or UDP header.
// - DNS: a port 53, a header of a standard query or its response with one
//   question (over TCP after its 2-byte length);
// - TLS: a handshake record that begins with a ClientHello or ServerHello;
// - QUIC: UDP on port 443, a long header of version 1, 2 or a draft;
// - HTTP: an HTTP/1 request line's method and a space, or a response's
//   "HTTP/1.";
// - SSH: the banner's "SSH-2.0-" or "SSH-1.99-".
AppProtocol GuessAppProtocol(uint8_t protocol, uint16_t sourcePort, uint16_t destinationPort,
                             const PacketBytes& payload);
