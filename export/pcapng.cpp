#include "export/pcapng.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "export/save_open.h"
#include "wire/interfaces.h"

#ifndef QV_VERSION
#define QV_VERSION "1.05"
#endif

namespace pcapng {

namespace {

constexpr uint32_t kSectionHeaderType = 0x0A0D0D0A;
constexpr uint32_t kInterfaceBlockType = 1;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kOptEnd = 0;
constexpr uint16_t kShbUserAppl = 4;
constexpr uint16_t kIfName = 2;
constexpr uint16_t kIfIpv4Addr = 4;
constexpr uint16_t kIfTsResol = 9;
constexpr uint8_t kNanoseconds = 9;  // 10^-9 s

template <typename T>
void Put(std::vector<uint8_t>& out, T value) {
    const size_t at = out.size();
    out.resize(at + sizeof value);
    std::memcpy(out.data() + at, &value, sizeof value);
}

void PutOption(std::vector<uint8_t>& out, uint16_t code, const void* value, size_t length) {
    length = std::min<size_t>(length, 0xFFFC);
    Put<uint16_t>(out, code);
    Put<uint16_t>(out, static_cast<uint16_t>(length));
    const auto* bytes = static_cast<const uint8_t*>(value);
    out.insert(out.end(), bytes, bytes + length);
    out.resize(out.size() + ((4 - length % 4) % 4), 0);
}

// Opens a block at the end of `out`; CloseBlock fills in its length.
size_t OpenBlock(std::vector<uint8_t>& out, uint32_t type) {
    const size_t start = out.size();
    Put<uint32_t>(out, type);
    Put<uint32_t>(out, 0);
    return start;
}

void CloseBlock(std::vector<uint8_t>& out, size_t start) {
    const auto total = static_cast<uint32_t>(out.size() + 4 - start);
    Put<uint32_t>(out, total);
    std::memcpy(out.data() + start + 4, &total, 4);
}

// How many bytes from `blocks` on are whole blocks, counting packet blocks.
size_t WholeBlocks(const uint8_t* blocks, size_t size, uint64_t* packets) {
    size_t at = 0;
    while (size - at >= 12) {
        uint32_t type = 0, length = 0;
        std::memcpy(&type, blocks + at, 4);
        std::memcpy(&length, blocks + at + 4, 4);
        if (length < 12 || length % 4 != 0 || length > size - at) {
            break;
        }
        if (type == kPacketBlockType) {
            ++*packets;
        }
        at += length;
    }
    return at;
}

}  // namespace

void AppendSectionHeader(std::vector<uint8_t>& out) {
    const size_t start = OpenBlock(out, kSectionHeaderType);
    Put<uint32_t>(out, kByteOrderMagic);
    Put<uint16_t>(out, 1);  // version 1.0
    Put<uint16_t>(out, 0);
    Put<int64_t>(out, -1);  // section length not given: the recorder grows it
    static constexpr char kWriter[] = "quorvelan " QV_VERSION;
    PutOption(out, kShbUserAppl, kWriter, sizeof kWriter - 1);
    PutOption(out, kOptEnd, nullptr, 0);
    CloseBlock(out, start);
}

void AppendInterfaceBlock(std::vector<uint8_t>& out, const PcapngInterface& interface) {
    const size_t start = OpenBlock(out, kInterfaceBlockType);
    Put<uint16_t>(out, kLinkTypeIpv4);
    Put<uint16_t>(out, 0);
    Put<uint32_t>(out, kSnapLength);
    if (!interface.name.empty()) {
        PutOption(out, kIfName, interface.name.data(), interface.name.size());
    }
    if (interface.hasAddress) {
        uint8_t value[8];
        std::copy(interface.address.begin(), interface.address.end(), value);
        std::copy(interface.netmask.begin(), interface.netmask.end(), value + 4);
        PutOption(out, kIfIpv4Addr, value, sizeof value);
    }
    PutOption(out, kIfTsResol, &kNanoseconds, 1);
    PutOption(out, kOptEnd, nullptr, 0);
    CloseBlock(out, start);
}

int WriteBlocks(int fd, const uint8_t* blocks, size_t size, uint64_t* fileEnd,
                uint64_t* datagrams) {
    // At the file's known end: after a failure it is cut back to there.
    size_t done = 0;
    const int error = WriteAll(fd, blocks, size, *fileEnd, &done);
    const size_t whole =
        error == 0 ? WholeBlocks(blocks, size, datagrams) : WholeBlocks(blocks, done, datagrams);
    *fileEnd += whole;
    if (error != 0 && whole != done) {
        // A piece of a block would make every reader stop with an error there.
        (void)::ftruncate(fd, static_cast<off_t>(*fileEnd));
    }
    return error;
}

}  // namespace pcapng

PcapngInterface LocalInterface(std::string_view address) {
    PcapngInterface found;
    const std::string text(address);
    in_addr wanted{};
    if (inet_pton(AF_INET, text.c_str(), &wanted) != 1) {
        return found;
    }
    found.hasAddress = true;
    std::memcpy(found.address.data(), &wanted, 4);
    const uint32_t wantedAddress = ntohl(wanted.s_addr);
    for (const Ipv4InterfaceAddress& a : Ipv4InterfaceAddresses()) {
        if (a.address != wantedAddress) {
            continue;
        }
        found.name = DeviceName(a.name);
        if (a.hasNetmask) {
            for (int i = 0; i < 4; ++i) {
                found.netmask[static_cast<size_t>(i)] =
                    static_cast<uint8_t>(a.netmask >> (24 - 8 * i));
            }
        }
        break;
    }
    return found;
}

PcapngResult WritePcapngFile(const std::string& path, const PcapngInterface& interface,
                             std::span<const PcapngDatagram> datagrams,
                             const std::optional<FileIdentity>& busy) {
    const SaveFile file = OpenForSave(path, busy);
    if (file.fd < 0) {
        return NotOpened(file);
    }
    const int fd = file.fd;
    uint64_t written = 0;

    // Written a megabyte at a time: a full list is up to 500 datagrams of 64 KiB.
    constexpr size_t kChunk = size_t{1} << 20;
    std::vector<uint8_t> chunk;
    chunk.reserve(kChunk + pcapng::kMaxPacketBlock);
    pcapng::AppendSectionHeader(chunk);
    pcapng::AppendInterfaceBlock(chunk, interface);
    uint64_t fileEnd = 0;
    int error = 0;
    for (const PcapngDatagram& d : datagrams) {
        const auto length = static_cast<uint32_t>(std::min<size_t>(d.bytes.size(), UINT32_MAX));
        const size_t at = chunk.size();
        chunk.resize(at + pcapng::PacketBlockSize(std::min(length, pcapng::kSnapLength)));
        pcapng::PutPacketBlock(chunk.data() + at, 0, d.timeNs, d.bytes.data(), length);
        if (chunk.size() >= kChunk) {
            error = pcapng::WriteBlocks(fd, chunk.data(), chunk.size(), &fileEnd, &written);
            chunk.clear();
            if (error != 0) {
                break;
            }
        }
    }
    if (error == 0 && !chunk.empty()) {
        error = pcapng::WriteBlocks(fd, chunk.data(), chunk.size(), &fileEnd, &written);
    }
    error = FinishSave(path, file, error);
    PcapngResult result = error != 0 ? WriteFailed(error) : PcapngResult{};
    result.datagrams = written;
    return result;
}
