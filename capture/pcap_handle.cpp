#include "capture/pcap_handle.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "capture/endpoint.h"
#include "capture/packet.h"
#include "capture/privileges.h"
#include "wire/ipv4.h"
#include "wire/ipv6.h"
#include "wire/packet_bytes.h"

namespace {

constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherIpv6 = 0x86DD;
// DLT_NULL and DLT_LOOP name IPv6 by the capturing system's AF_INET6: Linux,
// the BSDs, FreeBSD and macOS each chose their own.
constexpr uint32_t kNullIpv6Families[] = {10, 24, 28, 30};

bool IsEtherIp(uint16_t type) {
    return type == kEtherIpv4 || type == kEtherIpv6;
}

bool IsNullIpv6(uint32_t family) {
    for (const uint32_t f : kNullIpv6Families) {
        if (family == f)
            return true;
    }
    return false;
}
bool IsVlanTag(uint16_t type) {
    return type == 0x8100 || type == 0x88A8 || type == 0x9100;
}

// A capture header's time in nanoseconds, saturated: a file may claim any
// second at all. Its second part counts `unitNs` nanoseconds a unit
// (microseconds, unless the handle was opened for nanoseconds).
int64_t HeaderTimeNs(const timeval& tv, int64_t unitNs) {
    constexpr int64_t kMaxSeconds = std::numeric_limits<int64_t>::max() / 1000000000 - 1;
    const int64_t s = std::clamp<int64_t>(tv.tv_sec, -kMaxSeconds, kMaxSeconds);
    return s * 1000000000 + static_cast<int64_t>(tv.tv_usec) * unitNs;
}

}  // namespace

int PcapHandle::OpenLive(const std::string& device, int bufferBytes, const std::string& filter) {
    Close();
    error_.clear();
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    handle_ = pcap_create(device.c_str(), errbuf);
    if (handle_ == nullptr) {
        error_ = errbuf;
        return PCAP_ERROR;
    }
    // Room for the largest datagram behind any link header we strip.
    pcap_set_snaplen(handle_, kMaxDatagram + 64);
    pcap_set_promisc(handle_, 0);
    // A short buffer time-out instead of immediate mode: immediate mode
    // selects the slower ring on Linux. Two milliseconds: a new
    // conversation's first datagram still reaches the owner lookup while a
    // short-lived program holds its socket, and sparse traffic wakes the
    // capture thread at most 500 times a second (a wake each millisecond
    // cost a fifth more CPU at 1,000 datagrams a second).
    pcap_set_timeout(handle_, 2);
    pcap_set_buffer_size(handle_, bufferBytes);
    // The one step that needs the capture right: opening the packet
    // socket. Nothing else (device lists, filters, capture files, whose
    // bytes are untrusted) runs with it effective.
    int status = 0;
    {
        CaptureCapabilityScope capability;
        status = pcap_activate(handle_);
    }
    if (status < 0) {
        error_ = std::string(pcap_statustostr(status)) + ": " + pcap_geterr(handle_);
    } else if (pcap_setnonblock(handle_, 1, errbuf) != 0 || pcap_get_selectable_fd(handle_) < 0) {
        error_ = errbuf[0] != 0 ? errbuf : "no descriptor to wait on";
        status = PCAP_ERROR;
    } else {
        bpf_program program{};
        if (pcap_compile(handle_, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
            error_ = pcap_geterr(handle_);
            status = PCAP_ERROR;
        } else {
            if (pcap_setfilter(handle_, &program) != 0) {
                error_ = pcap_geterr(handle_);
                status = PCAP_ERROR;
            }
            pcap_freecode(&program);
        }
    }
    if (status < 0) {
        Close();
        return status;
    }
    linkType_ = pcap_datalink(handle_);
    subsecondUnitNs_ = 1000;
    return 0;
}

bool PcapHandle::OpenFile(FILE* file) {
    Close();
    error_.clear();
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    // In nanoseconds, so that a pcapng file's finer times survive (libpcap
    // scales a microsecond file's times up).
    handle_ = pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO, errbuf);
    if (handle_ == nullptr) {
        error_ = errbuf;
        return false;
    }
    linkType_ = pcap_datalink(handle_);
    subsecondUnitNs_ = 1;
    return true;
}

void PcapHandle::Close() {
    if (handle_ != nullptr) {
        pcap_close(handle_);
        handle_ = nullptr;
    }
}

PcapHandle::Read PcapHandle::Next(uint8_t* buffer, int capacity, int* length) {
    pcap_pkthdr* header = nullptr;
    const u_char* frame = nullptr;
    const int rc = pcap_next_ex(handle_, &header, &frame);
    if (rc == 0)
        return Read::kNothing;
    if (rc == PCAP_ERROR_BREAK)
        return Read::kEnd;
    if (rc != 1) {
        error_ = pcap_geterr(handle_);
        return Read::kError;
    }
    uint32_t offset = 0, size = 0;
    if (!LocateDatagram(linkType_, frame, header->caplen, &offset, &size))
        return Read::kNotIp;
    size = std::min(size, static_cast<uint32_t>(capacity));
    std::memcpy(buffer, frame + offset, size);
    lastTimeNs_ = HeaderTimeNs(header->ts, subsecondUnitNs_);
    *length = static_cast<int>(size);
    return Read::kDatagram;
}

bool PcapHandle::KernelDrops(uint64_t* drops) {
    pcap_stat ps{};
    if (handle_ == nullptr || pcap_stats(handle_, &ps) != 0)
        return false;
    *drops = uint64_t{ps.ps_drop} + ps.ps_ifdrop;
    return true;
}

bool LinkTypeSupported(int linkType) {
    switch (linkType) {
        case DLT_EN10MB:
        case DLT_LINUX_SLL:
        case DLT_LINUX_SLL2:
        case DLT_RAW:
        case DLT_IPV4:
        case DLT_IPV6:
        case DLT_NULL:
        case DLT_LOOP:
            return true;
        default:
            return false;
    }
}

bool LocateDatagram(int linkType, const uint8_t* frame, uint32_t captured, uint32_t* offset,
                    uint32_t* length) {
    const PacketBytes p(frame, static_cast<int>(captured > 0x7FFFFFFFu ? 0x7FFFFFFFu : captured));
    size_t at = 0;
    // The IP version the link header names; 0 where it names none (raw).
    uint8_t version = 0;
    switch (linkType) {
        case DLT_EN10MB: {
            size_t typeAt = 12;
            uint16_t type = p.BeU16(typeAt);
            while (IsVlanTag(type)) {
                typeAt += 4;
                type = p.BeU16(typeAt);
            }
            if (!IsEtherIp(type))
                return false;
            version = type == kEtherIpv6 ? 6 : 4;
            at = typeAt + 2;
            break;
        }
        case DLT_LINUX_SLL:
            if (!IsEtherIp(p.BeU16(14)))
                return false;
            version = p.BeU16(14) == kEtherIpv6 ? 6 : 4;
            at = 16;
            break;
        case DLT_LINUX_SLL2:
            if (!IsEtherIp(p.BeU16(0)))
                return false;
            version = p.BeU16(0) == kEtherIpv6 ? 6 : 4;
            at = 20;
            break;
        case DLT_RAW:
            break;
        case DLT_IPV4:
            version = 4;
            break;
        case DLT_IPV6:
            version = 6;
            break;
        case DLT_NULL: {
            // The family in the byte order of the host that captured, which
            // need not be ours: a file may come from a big-endian machine.
            bool present = false;
            const uint32_t family = p.NativeU32(0, &present);
            if (!present)
                return false;
            const uint32_t swapped = __builtin_bswap32(family);
            if (family == AF_INET || swapped == AF_INET)
                version = 4;
            else if (IsNullIpv6(family) || IsNullIpv6(swapped))
                version = 6;
            else
                return false;
            at = 4;
            break;
        }
        case DLT_LOOP:
            if (p.BeU32(0) == AF_INET)
                version = 4;
            else if (IsNullIpv6(p.BeU32(0)))
                version = 6;
            else
                return false;
            at = 4;
            break;
        default:
            return false;
    }
    const Ipv4View ip(p.Tail(at));
    uint32_t len = captured - static_cast<uint32_t>(at);
    // The datagram is of the version the link names (any, for raw links).
    if (ip.Size() == 0 || (ip.Version() != 4 && ip.Version() != 6) ||
        (version != 0 && ip.Version() != version)) {
        return false;
    }
    if (ip.Version() == 6) {
        // Cut as below, by the payload length (0: a jumbogram, or offload).
        const uint32_t claimed = Ipv6View(p.Tail(at)).ClaimedLength();
        if (claimed != 0 && claimed < len)
            len = claimed;
        *offset = static_cast<uint32_t>(at);
        *length = len;
        return true;
    }
    // Ethernet pads short frames and may carry trailers: the datagram is only
    // as long as its own total length says. A total length of 0 (segmentation
    // offload) or one longer than what was captured keeps the captured length.
    const uint16_t total = ip.TotalLength();
    if (total >= kMinIpv4Header && total < len) {
        len = total;
    }
    *offset = static_cast<uint32_t>(at);
    *length = len;
    return true;
}
