#pragma once
// One received IPv4 datagram, header first, read field by field through
// PacketBytes: a field whose bytes were not received reads 0, and nothing
// checks more than its caller asks for. Each reader of packets (the row
// builder, the conversation counts, find) applies its own rules to the same
// fields, so the view validates nothing by itself: Version, HeaderComplete
// and HasPorts say what is there.
//
// Views of other formats follow the same pattern: a class over PacketBytes
// (or a span of it) whose accessors name the fields and do the offsets.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "wire/packet_bytes.h"

// IPv4 protocol numbers.
inline constexpr uint8_t kProtocolTcp = 6;
inline constexpr uint8_t kProtocolUdp = 17;

inline constexpr int kMinIpv4Header = 20;

// Where a datagram's payload lies: `offset` from the first byte of the IPv4
// header, `size` bytes to the datagram's end.
struct PayloadSpan {
    size_t offset = 0;
    size_t size = 0;
};

class Ipv4View {
  public:
    explicit Ipv4View(const PacketBytes& bytes)
        : p_(bytes), headerLength_((p_.U8(0) & 0x0Fu) * 4u) {}
    Ipv4View(const uint8_t* data, int length) : Ipv4View(PacketBytes(data, length)) {}
    explicit Ipv4View(std::span<const uint8_t> datagram)
        : Ipv4View(PacketBytes(datagram.data(), static_cast<int>(datagram.size()))) {}

    size_t Size() const { return p_.size(); }
    // The 20 bytes of a header without options were received.
    bool HasFixedHeader() const { return p_.Has(0, kMinIpv4Header); }
    uint8_t Version() const { return p_.U8(0) >> 4; }
    // As the header says, unchecked: 0 to 60.
    size_t HeaderLength() const { return headerLength_; }
    // A header length of at least 20 bytes, all of them received.
    bool HeaderComplete() const {
        const size_t h = HeaderLength();
        return h >= static_cast<size_t>(kMinIpv4Header) && p_.Has(0, h);
    }
    uint16_t TotalLength() const { return p_.BeU16(2); }
    uint16_t FragmentOffset() const { return p_.BeU16(6) & 0x1FFFu; }
    // Only the first fragment of a datagram carries the transport header.
    bool FirstFragment() const { return FragmentOffset() == 0; }
    uint8_t Protocol() const { return p_.U8(9); }
    // Addresses in host order: the first dotted field in the top byte.
    uint32_t Source() const { return p_.BeU32(12); }
    uint32_t Destination() const { return p_.BeU32(16); }

    // TCP and UDP both begin with the two ports. Read at the header length
    // whatever the protocol; absent bytes read 0.
    bool HasPorts() const { return p_.Has(HeaderLength(), 4); }
    uint16_t SourcePort() const { return p_.BeU16(HeaderLength()); }
    uint16_t DestinationPort() const { return p_.BeU16(HeaderLength() + 2); }

    // TCP: the flag bits (0 when absent) and the header length in bytes
    // (`ok` false when its byte is absent).
    uint8_t TcpFlags() const { return p_.U8(HeaderLength() + 13); }
    size_t TcpHeaderLength(bool* ok = nullptr) const {
        return (p_.U8(HeaderLength() + 12, ok) >> 4) * 4u;
    }

    // The payload as the event row's data cell shows it: TCP past both
    // headers, UDP past its 8-byte header, looked for only in datagrams of
    // more than 40 (TCP) or 28 (UDP) bytes, whatever the header lengths say.
    // Empty for other protocols and when the headers claim more than was
    // received.
    PayloadSpan Payload() const {
        const size_t length = p_.size();
        if (!HasFixedHeader())
            return {};
        size_t start;
        if (Protocol() == kProtocolTcp && length > kTcpPayloadAfter) {
            bool ok = false;
            const size_t t = TcpHeaderLength(&ok);
            if (!ok)
                return {};
            start = headerLength_ + t;
        } else if (Protocol() == kProtocolUdp && length > kUdpPayloadAfter) {
            start = headerLength_ + kUdpHeader;
        } else {
            return {};
        }
        if (start > length)
            return {};
        return {start, length - start};
    }

  private:
    static constexpr size_t kTcpPayloadAfter = 40;
    static constexpr size_t kUdpPayloadAfter = 28;
    static constexpr size_t kUdpHeader = 8;

    PacketBytes p_;
    size_t headerLength_;  // read once: every transport field lies behind it
};

// Dotted-decimal text; ParseIpv4 is false for anything else (no leading
// or trailing text, at most three digits a field).
bool ParseIpv4(std::string_view text, uint32_t* address);
std::string FormatIpv4(uint32_t address);
