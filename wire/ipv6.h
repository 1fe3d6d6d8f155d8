#pragma once
// One received IPv6 datagram, read through PacketBytes like the IPv4 view:
// a field whose bytes were not received reads 0. The view walks the
// extension headers once, when it is made, so that the transport header
// (TCP or UDP ports) is found behind hop-by-hop, routing, destination
// options, fragment and authentication headers. The walk is bounded: a
// chain that runs past the received bytes, or is longer than any sender
// needs, stops it, and Walked() is then false.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "wire/ipv4.h"
#include "wire/packet_bytes.h"

using Ipv6Address = std::array<uint8_t, 16>;

inline constexpr int kIpv6Header = 40;

// Next-header values of the extension headers the walk steps over, and the
// one that says nothing follows.
inline constexpr uint8_t kIpv6HopByHop = 0;
inline constexpr uint8_t kIpv6Routing = 43;
inline constexpr uint8_t kIpv6Fragment = 44;
inline constexpr uint8_t kIpv6Auth = 51;
inline constexpr uint8_t kIpv6DestinationOptions = 60;
inline constexpr uint8_t kIpv6NoNextHeader = 59;

class Ipv6View {
  public:
    // More headers than this in one chain is no datagram a host sends.
    static constexpr int kMaxExtensionHeaders = 12;

    explicit Ipv6View(const PacketBytes& bytes) : p_(bytes) { Walk(); }
    Ipv6View(const uint8_t* data, int length) : Ipv6View(PacketBytes(data, length)) {}
    explicit Ipv6View(std::span<const uint8_t> datagram)
        : Ipv6View(PacketBytes(datagram.data(), static_cast<int>(datagram.size()))) {}

    size_t Size() const { return p_.size(); }
    bool HasFixedHeader() const { return p_.Has(0, kIpv6Header); }
    uint8_t Version() const { return p_.U8(0) >> 4; }
    uint16_t PayloadLength() const { return p_.BeU16(4); }
    // The first header's next-header field, before any walk.
    uint8_t NextHeader() const { return p_.U8(6); }
    // All zero when not received.
    Ipv6Address Source() const { return Address(8); }
    Ipv6Address Destination() const { return Address(24); }

    // The extension chain was walked to its end inside the received bytes:
    // Protocol and TransportOffset are then those of the upper layer.
    bool Walked() const { return walked_; }
    // The upper-layer protocol (TCP, UDP, ICMPv6, 59 for none) where the walk
    // ended, else the header it stopped at.
    uint8_t Protocol() const { return protocol_; }
    // Where the upper-layer header starts, from the first byte of the datagram.
    size_t TransportOffset() const { return transport_; }
    // A fragment header was met; only the first fragment (offset 0) carries
    // the transport header.
    bool Fragmented() const { return fragmented_; }
    bool FirstFragment() const { return !fragmented_ || fragmentOffset_ == 0; }

    // The length the datagram claims, header included: 40 plus the payload
    // length (0 for a jumbogram, whose length lies in an option).
    uint32_t ClaimedLength() const {
        return PayloadLength() == 0 ? 0 : kIpv6Header + uint32_t{PayloadLength()};
    }

    // TCP and UDP both begin with the two ports: only for a walked chain,
    // in a first fragment, whose four bytes were received.
    bool HasPorts() const {
        return walked_ && FirstFragment() && p_.Has(transport_, 4) &&
               (protocol_ == kProtocolTcp || protocol_ == kProtocolUdp);
    }
    uint16_t SourcePort() const { return HasPorts() ? p_.BeU16(transport_) : 0; }
    uint16_t DestinationPort() const { return HasPorts() ? p_.BeU16(transport_ + 2) : 0; }

    // The application's bytes: TCP past its header, UDP past its 8 bytes;
    // empty for other protocols, later fragments, and headers that claim
    // more than was received.
    PayloadSpan Payload() const;

  private:
    void Walk();
    Ipv6Address Address(size_t offset) const {
        Ipv6Address a{};
        p_.CopyTo(offset, a);
        return a;
    }

    PacketBytes p_;
    bool walked_ = false;
    bool fragmented_ = false;
    uint16_t fragmentOffset_ = 0;
    uint8_t protocol_ = 0;
    size_t transport_ = 0;
};

// RFC 5952 text (inet_ntop): lower case, the longest run of zero words as
// "::", an IPv4-mapped address as ::ffff:192.0.2.1.
std::string FormatIpv6(const Ipv6Address& address);
// Any text inet_pton takes for IPv6; nothing before or after it, no zone.
bool ParseIpv6(std::string_view text, Ipv6Address* address);
// ::ffff:a.b.c.d: the IPv4 address a dual-stack socket holds.
bool IsIpv4Mapped(const Ipv6Address& address);
