// Arbitrary capture files played through the file endpoint: the frame
// unpacking of every link type the program reads, with arbitrary frames,
// captured and original lengths, timestamps and a last record cut off, then
// decoding, filtering and row building as the capture thread does them.
//
// Byte 0 picks the link type; with its top bit set the rest is taken as a
// whole file as it stands (pcapng and damaged headers included). Otherwise a
// pcap file is made of records [caplen u16][len u16][seconds u32][bytes...],
// the last one holding as many bytes as are left.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "capture/decode.h"
#include "capture/endpoint.h"
#include "counting_list.h"

namespace {

// LINKTYPE_ values as files hold them: Ethernet, Linux cooked v1 and v2, raw
// IP, IPv4, BSD loopback (both), and 802.11, which is refused.
constexpr uint16_t kLinkTypes[] = {1, 113, 276, 101, 228, 0, 108, 105};

void Put(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> MakePcap(uint16_t linkType, const uint8_t* data, size_t size) {
    std::vector<uint8_t> file;
    Put(file, 0xA1B2C3D4, 4);
    Put(file, 2, 2);
    Put(file, 4, 2);
    Put(file, 0, 4);
    Put(file, 0, 4);
    Put(file, 65535 + 64, 4);
    Put(file, linkType, 4);
    size_t at = 0;
    while (at + 8 <= size) {
        const uint32_t caplen = data[at] | (data[at + 1] << 8);
        const uint32_t len = data[at + 2] | (data[at + 3] << 8);
        uint32_t seconds;
        std::memcpy(&seconds, data + at + 4, 4);
        at += 8;
        Put(file, seconds, 4);
        Put(file, 0, 4);
        Put(file, caplen, 4);
        Put(file, len, 4);
        const size_t n = std::min<size_t>(caplen, size - at);
        file.insert(file.end(), data + at, data + at + n);
        at += n;
    }
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const std::vector<uint8_t> file =
        data[0] & 0x80 ? std::vector<uint8_t>(data + 1, data + size)
                       : MakePcap(kLinkTypes[data[0] % (sizeof kLinkTypes / sizeof kLinkTypes[0])],
                                  data + 1, size - 1);
    const int fd = memfd_create("capture", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (write(fd, file.data(), file.size()) != static_cast<ssize_t>(file.size())) {
        close(fd);
        return 0;
    }

    static std::vector<uint8_t> buffer(kReceiveBufferSize);
    static CountingList list;
    static RowWorkspace ws;
    auto endpoint = MakeFileEndpoint("/proc/self/fd/" + std::to_string(fd));
    if (endpoint->Open("") == 0) {
        FilterSettings filter;
        filter.ignoredPort = data[0] & 0x40 ? 53 : 0;
        filter.RebuildTexts();
        for (;;) {
            const int length = endpoint->Receive(buffer.data(), kMaxDatagram);
            if (length < 0) {
                if (!endpoint->Exhausted())
                    __builtin_trap();  // a file never waits like a quiet network
                break;
            }
            if (length > kMaxDatagram)
                __builtin_trap();
            const int64_t ns = endpoint->LastCaptureTimeNs();
            PacketText text;
            DecodePacket(buffer.data(), length, text);
            EventRow row;
            if (BuildEventRow(buffer.data(), length, text, filter, "10.0.0.5",
                              static_cast<std::time_t>(ns / 1000000000), ws, row)) {
                InsertEventRow(list, row);
            }
        }
        const CaptureStats stats = endpoint->Stats();
        if (stats.bytesRead > stats.fileBytes)
            __builtin_trap();
    }
    endpoint->Close();
    close(fd);
    return 0;
}
