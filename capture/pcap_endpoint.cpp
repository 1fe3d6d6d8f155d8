#include <arpa/inet.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "capture/endpoint.h"
#include "capture/packet.h"
#include "capture/wire.h"

namespace {

constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint32_t kIpHeaderMin = 20;

bool IsVlanTag(uint16_t type) {
    return type == 0x8100 || type == 0x88A8 || type == 0x9100;
}

class PcapEndpoint : public CaptureEndpoint {
  public:
    ~PcapEndpoint() override { Close(); }

    int Receive(uint8_t* buffer, int capacity) override {
        while (!interrupted_.load(std::memory_order_acquire) && handle_ != nullptr) {
            pcap_pkthdr* header = nullptr;
            const u_char* frame = nullptr;
            const int rc = pcap_next_ex(handle_, &header, &frame);
            if (rc == 1) {
                const int length = CopyDatagram(header, frame, buffer, capacity);
                if (length >= 0) {
                    failing_ = false;
                    return length;
                }
                continue;
            }
            if (rc == 0) {
                continue;  // buffer time-out: look at the interrupt flag again
            }
            if (rc == PCAP_ERROR_BREAK) {
                return -1;
            }
            // A failing interface would otherwise spin a core: back off while
            // the failures repeat, but still report each one at once.
            if (failing_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            failing_ = true;
            return -1;
        }
        return -1;
    }

    void Interrupt() override {
        interrupted_.store(true, std::memory_order_release);
        if (handle_ != nullptr) {
            pcap_breakloop(handle_);
        }
    }

    void Close() override {
        if (handle_ != nullptr) {
            pcap_close(handle_);
            handle_ = nullptr;
        }
    }

    CaptureStats Stats() const override {
        CaptureStats s;
        s.received = received_.load(std::memory_order_relaxed);
        pcap_stat ps{};
        if (handle_ != nullptr && pcap_stats(handle_, &ps) == 0) {  // fails on a file
            s.kernelDrops = ps.ps_drop;
            s.valid = true;
        }
        return s;
    }

    std::string ErrorText() const override { return lastError_; }

    int64_t LastCaptureTimeNs() const override { return lastTimeNs_; }

  protected:
    // The datagram of a captured frame copied to `buffer`: its length, or -1
    // when the frame holds no IPv4 datagram.
    int CopyDatagram(const pcap_pkthdr* header, const u_char* frame, uint8_t* buffer,
                     int capacity) {
        uint32_t offset = 0, length = 0;
        if (!LocateDatagram(linkType_, frame, header->caplen, &offset, &length)) {
            return -1;
        }
        if (length > static_cast<uint32_t>(capacity)) {
            length = static_cast<uint32_t>(capacity);
        }
        std::memcpy(buffer, frame + offset, length);
        lastTimeNs_ = static_cast<int64_t>(header->ts.tv_sec) * 1000000000 +
                      static_cast<int64_t>(header->ts.tv_usec) * 1000;
        received_.fetch_add(1, std::memory_order_relaxed);
        return static_cast<int>(length);
    }

    int InstallIpFilter() {
        bpf_program program{};
        // Tagged frames carry their IPv4 datagrams behind the VLAN header.
        if (pcap_compile(handle_, &program, "ip or (vlan and ip)", 1, PCAP_NETMASK_UNKNOWN) != 0) {
            lastError_ = pcap_geterr(handle_);
            return PCAP_ERROR;
        }
        const int rc = pcap_setfilter(handle_, &program);
        pcap_freecode(&program);
        if (rc != 0) {
            lastError_ = pcap_geterr(handle_);
            return PCAP_ERROR;
        }
        return 0;
    }

    pcap_t* handle_ = nullptr;
    int linkType_ = DLT_EN10MB;
    bool failing_ = false;
    int64_t lastTimeNs_ = 0;  // capture thread only
    std::atomic<bool> interrupted_{false};
    std::atomic<uint64_t> received_{0};
    std::string lastError_;
};

class LiveEndpoint final : public PcapEndpoint {
  public:
    int Open(std::string_view localAddress) override {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        const std::string wanted(localAddress);
        in_addr addr{};
        if (inet_pton(AF_INET, wanted.c_str(), &addr) != 1) {
            lastError_ = std::string("not an IPv4 address: ").append(wanted);
            return EINVAL;
        }
        std::string device;
        pcap_if_t* devices = nullptr;
        if (pcap_findalldevs(&devices, errbuf) != 0) {
            lastError_ = errbuf;
            return PCAP_ERROR;
        }
        for (pcap_if_t* d = devices; d != nullptr && device.empty(); d = d->next) {
            for (pcap_addr_t* a = d->addresses; a != nullptr; a = a->next) {
                if (a->addr != nullptr && a->addr->sa_family == AF_INET &&
                    reinterpret_cast<sockaddr_in*>(a->addr)->sin_addr.s_addr == addr.s_addr) {
                    device = d->name;
                    break;
                }
            }
        }
        pcap_freealldevs(devices);
        if (device.empty()) {
            lastError_ = std::string("no interface holds the address ").append(wanted);
            return EADDRNOTAVAIL;
        }

        handle_ = pcap_create(device.c_str(), errbuf);
        if (handle_ == nullptr) {
            lastError_ = errbuf;
            return PCAP_ERROR;
        }
        // Room for the largest datagram behind any link header we strip.
        pcap_set_snaplen(handle_, kMaxDatagram + 64);
        pcap_set_promisc(handle_, 0);
        // A short buffer time-out instead of immediate mode: immediate mode
        // selects the slower ring on Linux.
        pcap_set_timeout(handle_, 10);
        pcap_set_buffer_size(handle_, 16 << 20);
        const int status = pcap_activate(handle_);
        if (status < 0) {
            lastError_ = std::string(pcap_statustostr(status)) + ": " + pcap_geterr(handle_);
            if (status == PCAP_ERROR_PERM_DENIED) {
                lastError_.append("\n").append(PermissionHint());
            }
            return status;
        }
        linkType_ = pcap_datalink(handle_);
        return InstallIpFilter();
    }

  private:
    static std::string PermissionHint() {
        char self[4096] = {};
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        const std::string exe = n > 0 ? std::string(self, static_cast<size_t>(n)) : "quorvelan";
        std::string hint =
            "Raw capture needs the CAP_NET_RAW capability. Grant it with:\n  sudo setcap "
            "cap_net_raw+ep ";
        hint.append(exe).append(
            "\nor, for an installed package, add yourself to its group:\n"
            "  sudo usermod -aG quorvelan $USER   (then log in again)");
        return hint;
    }
};

class FileEndpoint final : public PcapEndpoint {
  public:
    explicit FileEndpoint(std::string path) : path_(std::move(path)) {}

    int Open(std::string_view) override {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        handle_ = pcap_open_offline(path_.c_str(), errbuf);
        if (handle_ == nullptr) {
            lastError_ = errbuf;
            return PCAP_ERROR;
        }
        linkType_ = pcap_datalink(handle_);
        return 0;
    }

    int Receive(uint8_t* buffer, int capacity) override {
        if (handle_ == nullptr) {
            eof_ = true;
        }
        if (!eof_) {
            // pcap_next_ex on a file reports its end as PCAP_ERROR_BREAK (-2).
            pcap_pkthdr* header = nullptr;
            const u_char* frame = nullptr;
            while (!interrupted_.load(std::memory_order_acquire)) {
                const int rc = pcap_next_ex(handle_, &header, &frame);
                if (rc == 1) {
                    const int length = CopyDatagram(header, frame, buffer, capacity);
                    if (length >= 0) {
                        return length;
                    }
                    continue;
                }
                eof_ = true;
                break;
            }
        }
        while (!interrupted_.load(std::memory_order_acquire)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

  private:
    std::string path_;
    bool eof_ = false;  // the file is exhausted
};

}  // namespace

bool LocateDatagram(int linkType, const uint8_t* frame, uint32_t captured, uint32_t* offset,
                    uint32_t* length) {
    const PacketBytes p(frame, static_cast<int>(captured > 0x7FFFFFFFu ? 0x7FFFFFFFu : captured));
    size_t at = 0;
    switch (linkType) {
        case DLT_EN10MB: {
            size_t typeAt = 12;
            uint16_t type = p.BeU16(typeAt);
            while (IsVlanTag(type)) {
                typeAt += 4;
                type = p.BeU16(typeAt);
            }
            if (type != kEtherIpv4)
                return false;
            at = typeAt + 2;
            break;
        }
        case DLT_LINUX_SLL:
            if (p.BeU16(14) != kEtherIpv4)
                return false;
            at = 16;
            break;
        case DLT_LINUX_SLL2:
            if (p.BeU16(0) != kEtherIpv4)
                return false;
            at = 20;
            break;
        case DLT_RAW:
        case DLT_IPV4:
            at = 0;
            break;
        case DLT_NULL: {
            // Family in the capturing host's byte order.
            uint32_t family = 0;
            if (!p.Has(0, 4))
                return false;
            std::memcpy(&family, frame, 4);
            if (family != AF_INET)
                return false;
            at = 4;
            break;
        }
        case DLT_LOOP:
            if (p.BeU32(0) != AF_INET)
                return false;
            at = 4;
            break;
        default:
            return false;
    }
    if (!p.Has(at, 1) || (p.U8(at) >> 4) != 4) {
        return false;
    }
    uint32_t len = captured - static_cast<uint32_t>(at);
    // Ethernet pads short frames and may carry trailers: the datagram is only
    // as long as its own total length says. A total length of 0 (segmentation
    // offload) or one longer than what was captured keeps the captured length.
    const uint16_t total = p.BeU16(at + 2);
    if (total >= kIpHeaderMin && total < len) {
        len = total;
    }
    *offset = static_cast<uint32_t>(at);
    *length = len;
    return true;
}

std::unique_ptr<CaptureEndpoint> MakeLiveEndpoint() {
    return std::make_unique<LiveEndpoint>();
}

std::unique_ptr<CaptureEndpoint> MakeFileEndpoint(std::string path) {
    return std::make_unique<FileEndpoint>(std::move(path));
}
