#pragma once
// pcapng capture files of whole IPv4 datagrams, for Wireshark, tshark, tcpdump
// and every libpcap program. A file is one section in this host's byte order:
// a section header, an interface block per capture (link type IPv4, times in
// nanoseconds), then an enhanced packet block per datagram. Every block is
// written whole: after a failure the file is cut back to its last complete
// block, so what it keeps still reads as a capture file.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "export/save_open.h"

// The interface a capture ran on, as the file's interface block tells it.
struct PcapngInterface {
    std::string name;  // left out of the file when empty (a replayed file)
    bool hasAddress = false;
    std::array<uint8_t, 4> address = {};  // dotted order
    std::array<uint8_t, 4> netmask = {255, 255, 255, 255};
};

// The interface that holds the local IPv4 address `address` ("192.168.1.20"),
// with that address and its netmask. Alias labels ("eth0:1") name their real
// interface, as libpcap does. An address no interface holds (any more) keeps
// the address with a /32 mask and no name; text that is no address gives
// neither.
PcapngInterface LocalInterface(std::string_view address);

// One datagram of a whole-file save: its capture time and its bytes, IPv4
// header first. Bytes past 65,535 are cut off (the original length is kept).
struct PcapngDatagram {
    int64_t timeNs = 0;  // since the epoch; times before 1970 are written as 1970
    std::span<const uint8_t> bytes;
};

// A save's `datagrams` are those the file holds whole: after a failure, a
// file this save made is gone again and one it replaced keeps every block
// written whole before it.
using PcapngResult = SaveResult;

// Writes `datagrams`, in the order given, as a whole pcapng file at `path`,
// opened as OpenForSave does (never the file `busy` names: the recording's).
// Ok only once the file reached the disk. The file is closed before this
// returns, whatever happened.
PcapngResult WritePcapngFile(const std::string& path, const PcapngInterface& interface,
                             std::span<const PcapngDatagram> datagrams,
                             const std::optional<FileIdentity>& busy = {});

// The blocks themselves, shared by the save and the recorder.
namespace pcapng {

inline constexpr uint16_t kLinkTypeIpv4 = 228;  // LINKTYPE_IPV4: no link header
inline constexpr uint32_t kSnapLength = 65535;
inline constexpr uint32_t kPacketBlockType = 6;

// The size of the packet block of a datagram of `captured` bytes.
constexpr size_t PacketBlockSize(uint32_t captured) {
    return 32 + ((size_t{captured} + 3) & ~size_t{3});
}
inline constexpr size_t kMaxPacketBlock = PacketBlockSize(kSnapLength);

// Puts the enhanced packet block of one datagram at `out`, which has room for
// PacketBlockSize(std::min(length, kSnapLength)) bytes; returns its size.
inline size_t PutPacketBlock(uint8_t* out, uint32_t interfaceId, int64_t timeNs,
                             const uint8_t* data, uint32_t length) {
    const uint32_t captured = length < kSnapLength ? length : kSnapLength;
    const size_t size = PacketBlockSize(captured);
    const uint64_t ts = timeNs > 0 ? static_cast<uint64_t>(timeNs) : 0;
    const uint32_t total = static_cast<uint32_t>(size);
    const uint32_t head[7] = {
        kPacketBlockType,          total,    interfaceId, static_cast<uint32_t>(ts >> 32),
        static_cast<uint32_t>(ts), captured, length};
    // The padding word is zeroed first, then the header and the datagram laid
    // over it (the header, for an empty datagram).
    const uint32_t zero = 0;
    std::memcpy(out + size - 8, &zero, 4);
    std::memcpy(out, head, sizeof head);
    if (captured > 0) {
        std::memcpy(out + sizeof head, data, captured);
    }
    std::memcpy(out + size - 4, &total, 4);
    return size;
}

// The section header, naming this program as the writer.
void AppendSectionHeader(std::vector<uint8_t>& out);
// An interface block; packets refer to interfaces by their order in the section.
void AppendInterfaceBlock(std::vector<uint8_t>& out, const PcapngInterface& interface);

// Writes whole blocks at `*fileEnd` and moves it on, counting the packet
// blocks in `*datagrams`. On a failure the file is cut back to the end of the
// last block that reached it whole (both counts say where that is) and the
// errno is returned; 0 on success.
int WriteBlocks(int fd, const uint8_t* blocks, size_t size, uint64_t* fileEnd, uint64_t* datagrams);

}  // namespace pcapng
