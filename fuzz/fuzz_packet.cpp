// Arbitrary bytes and lengths through framing, decoding, filtering and row
// building, and through the IPv6 view's walk and the conversation key of
// either version. The first bytes choose the link type and the filter.
#include <cstdint>
#include <cstring>
#include <vector>

#include "capture/decode.h"
#include "capture/endpoint.h"
#include "counting_list.h"
#include "talk/conversation.h"
#include "wire/ipv6.h"

namespace {

constexpr int kLinkTypes[] = {1, 113, 276, 12, 228, 229, 0, 108};

// Everything the walk found must lie within the datagram.
void CheckIpv6(const uint8_t* datagram, size_t length, const FilterSettings& filter) {
    const Ipv6View v(datagram, static_cast<int>(length));
    if (v.Walked() && v.TransportOffset() > length)
        __builtin_trap();
    if (v.HasPorts() && v.TransportOffset() + 4 > length)
        __builtin_trap();
    const PayloadSpan p = v.Payload();
    if (p.size != 0 && p.offset + p.size != length)
        __builtin_trap();
    Ipv6PassesFilter(v, filter);
    const Ipv6Address local = v.Source();
    KeyedDatagram k;
    if (KeyDatagram(datagram, static_cast<int>(length), LocalAddresses{0x0A000005u, {&local, 1}},
                    &k)) {
        if (k.key.localAddr.family != k.key.remoteAddr.family)
            __builtin_trap();
        // Unselected, at equal ports the lower address is local.
        if (!k.localSelected && k.key.localPort == k.key.remotePort &&
            CompareIp(k.key.localAddr, k.key.remoteAddr) > 0)
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    const uint8_t mode = data[0];
    FilterSettings filter;
    filter.monitoredPort = static_cast<uint16_t>(mode & 1 ? data[1] : 0);
    filter.ignoredPort = static_cast<uint16_t>(mode & 2 ? data[2] : 0);
    if (mode & 4) {
        filter.srcAddr = {10, 0, 0, data[3]};
    }
    filter.RebuildTexts();
    data += 4;
    size -= 4;

    static std::vector<uint8_t> buffer(kReceiveBufferSize);
    static CountingList list;
    static RowWorkspace ws;
    const uint8_t* datagram = data;
    size_t length = size;
    if (mode & 8) {
        uint32_t off = 0, len = 0;
        const int link = kLinkTypes[(mode >> 4) % (sizeof kLinkTypes / sizeof kLinkTypes[0])];
        if (!LocateDatagram(link, data, static_cast<uint32_t>(size), &off, &len))
            return 0;
        datagram = data + off;
        length = len;
    }
    if (length > static_cast<size_t>(kMaxDatagram))
        length = kMaxDatagram;
    // Received bytes go into a buffer holding leftovers of earlier datagrams.
    std::memcpy(buffer.data(), datagram, length);
    CheckIpv6(buffer.data(), length, filter);
    PacketText text;
    DecodePacket(buffer.data(), static_cast<int>(length), text);
    EventRow row;
    if (BuildEventRow(buffer.data(), static_cast<int>(length), text, filter,
                      mode & 0x80 ? "10.0.0.5" : "", 0, ws, row)) {
        for (const auto& cell : row.cells) {
            const auto* p = reinterpret_cast<const uint8_t*>(cell.data());
            const bool inBuffer =
                p >= buffer.data() && p + cell.size() <= buffer.data() + kReceiveBufferSize;
            // Texts from the datagram must lie within it (plus the terminator byte).
            if (inBuffer && p + cell.size() > buffer.data() + length)
                __builtin_trap();
        }
        InsertEventRow(list, row);
    }
    return 0;
}
