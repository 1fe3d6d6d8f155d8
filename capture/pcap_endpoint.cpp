#include <arpa/inet.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "capture/clock.h"
#include "capture/counters.h"
#include "capture/endpoint.h"
#include "capture/packet.h"
#include "capture/privileges.h"
#include "wire/interfaces.h"
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
// How often the capture thread asks libpcap for the kernel's drop counts.
constexpr int64_t kStatsEveryNs = 250'000'000;
// The IPv4 and the IPv6 handle take turns of this many frames, so that a
// flood of one family leaves the other its share; a turn that finds its
// handle empty passes at once. Long enough that the empty look at the other
// handle (a poll) is paid once per this many IPv4 frames.
constexpr int kFramesPerTurn = 256;

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

// libpcap handles are not safe to share between threads: only the capture
// thread touches the handle once capture runs (apart from pcap_breakloop, which
// is made for that). What other threads read is kept in atomics.
class PcapEndpoint : public CaptureEndpoint {
  public:
    ~PcapEndpoint() override { Close(); }

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
        s.received = received_.Get();
        s.kernelDrops = kernelDrops_.Get();
        s.valid = statsValid_.load(std::memory_order_relaxed);
        s.bytesRead = bytesRead_.Get();
        s.fileBytes = fileBytes_;
        return s;
    }

    std::string ErrorText() const override { return lastError_; }

    int64_t LastCaptureTimeNs() const override { return lastTimeNs_; }

  protected:
    // The datagram of a captured frame of `linkType` copied to `buffer`: its
    // length, or -1 when the frame holds no IPv4 or IPv6 datagram.
    int CopyDatagram(int linkType, const pcap_pkthdr* header, const u_char* frame, uint8_t* buffer,
                     int capacity) {
        uint32_t offset = 0, length = 0;
        if (!LocateDatagram(linkType, frame, header->caplen, &offset, &length)) {
            return -1;
        }
        if (length > static_cast<uint32_t>(capacity)) {
            length = static_cast<uint32_t>(capacity);
        }
        std::memcpy(buffer, frame + offset, length);
        lastTimeNs_ = HeaderTimeNs(header->ts, subsecondUnitNs_);
        return static_cast<int>(length);
    }

    pcap_t* handle_ = nullptr;
    int linkType_ = DLT_EN10MB;
    int64_t lastTimeNs_ = 0;  // capture thread only
    int64_t subsecondUnitNs_ = 1000;
    std::atomic<bool> interrupted_{false};
    // Written by the capture thread only.
    SingleWriterCount received_;
    SingleWriterCount kernelDrops_;
    SingleWriterCount bytesRead_;
    std::atomic<bool> statsValid_{false};
    uint64_t fileBytes_ = 0;  // set by Open, before the capture thread starts
    std::string lastError_;
};

// Two handles on one interface, one per family, each with its own kernel
// buffer and counts: the kernel counts drops per handle, and only IPv4's are
// the figures the window promises. The capture thread reads both in turns and
// sleeps on both; the IPv6 handle is optional throughout.
class LiveEndpoint final : public PcapEndpoint {
  public:
    explicit LiveEndpoint(LiveCaptureOptions options) : options_(std::move(options)) {}
    ~LiveEndpoint() override { Close(); }

    void Interrupt() override {
        PcapEndpoint::Interrupt();
        if (ipv6_ != nullptr) {
            pcap_breakloop(ipv6_);
        }
        if (wakeFd_ >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
        }
    }

    void Close() override {
        PcapEndpoint::Close();
        if (ipv6_ != nullptr) {
            pcap_close(ipv6_);
            ipv6_ = nullptr;
        }
        ipv6Reading_ = false;
        ipv6Open_.store(false, std::memory_order_release);
        if (wakeFd_ >= 0) {
            ::close(wakeFd_);
            wakeFd_ = -1;
        }
    }

    CaptureStats Stats() const override {
        CaptureStats s = PcapEndpoint::Stats();
        s.ipv6Open = ipv6Open_.load(std::memory_order_acquire);
        s.ipv6Received = ipv6Received_.Get();
        s.ipv6KernelDrops = ipv6KernelDrops_.Get();
        return s;
    }

    std::string Ipv6ErrorText() const override { return ipv6Error_; }

    int Open(std::string_view localAddress) override {
        const std::string wanted(localAddress);
        in_addr addr{};
        if (inet_pton(AF_INET, wanted.c_str(), &addr) != 1) {
            lastError_ = std::string("not an IPv4 address: ").append(wanted);
            return EINVAL;
        }
        std::string device;
        int listError = 0;
        const uint32_t wantedAddress = ntohl(addr.s_addr);
        for (const Ipv4InterfaceAddress& a : Ipv4InterfaceAddresses(&listError)) {
            if (a.address == wantedAddress) {
                device = DeviceName(a.name);
                break;
            }
        }
        if (listError != 0) {
            lastError_ =
                std::string("cannot list the interfaces: ").append(std::strerror(listError));
            return PCAP_ERROR;
        }
        if (device.empty()) {
            lastError_ = std::string("no interface holds the address ").append(wanted);
            return EADDRNOTAVAIL;
        }

        const int status = OpenHandle(device, options_.ipv4BufferBytes, &handle_, &lastError_);
        if (status < 0) {
            if (status == PCAP_ERROR_PERM_DENIED) {
                lastError_.append("\n").append(PermissionHint());
            }
            return status;
        }
        linkType_ = pcap_datalink(handle_);
        // The thread waits for traffic itself (WaitForFrames) rather than in
        // libpcap: for the batches' plan, the drop figures after a burst and
        // Interrupt. libpcap still looks for errors first.
        wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd_ < 0) {
            lastError_ = std::strerror(errno);
            return PCAP_ERROR;
        }
        // Tagged frames carry their datagrams behind the VLAN header.
        if (InstallFilter(handle_, "ip or (vlan and ip)", &lastError_) != 0) {
            return PCAP_ERROR;
        }
        OpenIpv6(device);
        return 0;
    }

    int Receive(uint8_t* buffer, int capacity) override {
        while (!interrupted_.load(std::memory_order_acquire) && handle_ != nullptr) {
            const bool six = ipv6Turn_;
            pcap_pkthdr* header = nullptr;
            const u_char* frame = nullptr;
            const int rc = pcap_next_ex(six ? ipv6_ : handle_, &header, &frame);
            if (rc == 1) {
                emptyLooks_ = 0;
                if (ipv6Reading_ && ++turnFrames_ == kFramesPerTurn) {
                    PassTurn();
                }
                const int length =
                    CopyDatagram(six ? ipv6LinkType_ : linkType_, header, frame, buffer, capacity);
                if (length < 0) {
                    continue;
                }
                if (six) {
                    ipv6Received_.Add();
                } else {
                    received_.Add();
                    failing_ = false;
                }
                // The capture time is at hand: no clock read per datagram.
                RefreshKernelStatsIfDue(lastTimeNs_);
                return length;
            }
            if (rc == 0) {
                // The other handle may hold frames: it is looked at before
                // the thread sleeps on both.
                if (ipv6Reading_ && ++emptyLooks_ < 2) {
                    PassTurn();
                    continue;
                }
                emptyLooks_ = 0;
                WaitForFrames(AboutToWait());
                continue;  // and look at the interrupt flag again
            }
            if (rc == PCAP_ERROR_BREAK) {
                break;
            }
            if (six) {
                // Capture goes on without IPv6, as it would have had the
                // handle never opened.
                RetireIpv6();
                continue;
            }
            // The IPv6 handle is looked at next, so that it too learns soon
            // of an interface that is gone.
            if (ipv6Reading_) {
                PassTurn();
            }
            // A failing interface would otherwise spin a core: back off while
            // the failures repeat, but still report each one at once.
            if (failing_) {
                BackOff();
            }
            failing_ = true;
            return -1;
        }
        return -1;
    }

    void CaptureEnded() override {
        if (handle_ != nullptr) {
            RefreshKernelStats(WallClockNs());
        }
    }

  private:
    // Creates and activates a handle on `device` with a kernel buffer of
    // `bufferBytes`: its status, negative on failure with the reason in
    // `error` (a handle made is left to the caller to close).
    static int OpenHandle(const std::string& device, int bufferBytes, pcap_t** handle,
                          std::string* error) {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        *handle = pcap_create(device.c_str(), errbuf);
        if (*handle == nullptr) {
            *error = errbuf;
            return PCAP_ERROR;
        }
        // Room for the largest datagram behind any link header we strip.
        pcap_set_snaplen(*handle, kMaxDatagram + 64);
        pcap_set_promisc(*handle, 0);
        // A short buffer time-out instead of immediate mode: immediate mode
        // selects the slower ring on Linux. One millisecond, so that a new
        // conversation's first datagram reaches the owner lookup while a
        // short-lived program still holds its socket; past a few hundred
        // datagrams a second the blocks fill before it runs out anyway.
        pcap_set_timeout(*handle, 1);
        pcap_set_buffer_size(*handle, bufferBytes);
        // The one step that needs the capture right: opening the packet
        // socket. Nothing else (device lists, filters, capture files, whose
        // bytes are untrusted) runs with it effective.
        int status = 0;
        {
            CaptureCapabilityScope capability;
            status = pcap_activate(*handle);
        }
        if (status < 0) {
            *error = std::string(pcap_statustostr(status)) + ": " + pcap_geterr(*handle);
            return status;
        }
        if (pcap_setnonblock(*handle, 1, errbuf) != 0 || pcap_get_selectable_fd(*handle) < 0) {
            *error = errbuf[0] != 0 ? errbuf : "no descriptor to wait on";
            return PCAP_ERROR;
        }
        return 0;
    }

    static int InstallFilter(pcap_t* handle, const std::string& expression, std::string* error) {
        bpf_program program{};
        if (pcap_compile(handle, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
            *error = pcap_geterr(handle);
            return PCAP_ERROR;
        }
        const int rc = pcap_setfilter(handle, &program);
        pcap_freecode(&program);
        if (rc != 0) {
            *error = pcap_geterr(handle);
            return PCAP_ERROR;
        }
        return 0;
    }

    // Opens the IPv6 handle beside the IPv4 one, or notes why not: nothing
    // of it stops the IPv4 capture.
    void OpenIpv6(const std::string& device) {
        if (options_.ipv6BufferBytes <= 0) {
            return;
        }
        std::string why;
        if (OpenHandle(device, options_.ipv6BufferBytes, &ipv6_, &why) < 0 ||
            InstallFilter(ipv6_, options_.ipv6Filter, &why) != 0) {
            ipv6Error_ = why.empty() ? "cannot open" : why;
            if (ipv6_ != nullptr) {
                pcap_close(ipv6_);
                ipv6_ = nullptr;
            }
            return;
        }
        ipv6LinkType_ = pcap_datalink(ipv6_);
        ipv6Reading_ = true;
        ipv6Open_.store(true, std::memory_order_release);
    }

    // Capture thread: the IPv6 handle failed. It stays open (Interrupt may be
    // using it) but is read no more.
    void RetireIpv6() {
        ipv6Error_ = pcap_geterr(ipv6_);
        ipv6Reading_ = false;
        ipv6Turn_ = false;
        emptyLooks_ = 0;
        ipv6Open_.store(false, std::memory_order_release);
    }

    void PassTurn() {
        ipv6Turn_ = !ipv6Turn_;
        turnFrames_ = 0;
    }

    // Between failures: a due batch still goes, and Interrupt ends the pause.
    void BackOff() {
        AboutToWait();
        pollfd wake = {wakeFd_, POLLIN, 0};
        ::poll(&wake, 1, 10);
    }

    // Nothing is ready: sleeps until frames are (if the plan wants them),
    // Interrupt is called, the plan's limit has passed or, without one, the
    // drop figures are due again. The kernel counts drops only of frames
    // that arrive, and arriving frames end the wait: once the figures are
    // taken after the last datagram, a quiet network leaves the thread asleep.
    void WaitForFrames(const WaitPlan& plan) {
        const int64_t now = WallClockNs();
        if (StatsBehind()) {
            RefreshKernelStatsIfDue(now);
        }
        // A wait with a limit (rows are coming) ends soon enough for the
        // figures to be taken then; only an open-ended one is cut short for them.
        int64_t leftNs = -1;
        if (plan.limitNs >= 0) {
            // Rounded up to whole milliseconds: waking early would only wait again.
            leftNs = plan.limitNs + 999999;
        } else if (StatsBehind()) {
            leftNs = statsAtNs_ + kStatsEveryNs - now;
        }
        const int timeoutMs =
            leftNs < 0 ? -1 : static_cast<int>(std::clamp<int64_t>(leftNs / 1000000, 1, 1000));
        pollfd fds[3] = {{wakeFd_, POLLIN, 0},
                         {pcap_get_selectable_fd(handle_), POLLIN, 0},
                         {ipv6Reading_ ? pcap_get_selectable_fd(ipv6_) : -1, POLLIN, 0}};
        ::poll(fds, plan.wakeForTraffic ? (ipv6Reading_ ? 3 : 2) : 1, timeoutMs);
    }

    // Datagrams came since the drop figures were last taken (or none were yet).
    bool StatsBehind() const {
        return !statsValid_.load(std::memory_order_relaxed) ||
               received_.Get() != receivedAtStats_ || ipv6Received_.Get() != ipv6ReceivedAtStats_;
    }

    void RefreshKernelStatsIfDue(int64_t nowNs) {
        // Unsigned: a clock that stepped back also refreshes.
        if (static_cast<uint64_t>(nowNs - statsAtNs_) >= static_cast<uint64_t>(kStatsEveryNs)) {
            RefreshKernelStats(nowNs);
        }
    }

    void RefreshKernelStats(int64_t nowNs) {
        statsAtNs_ = nowNs;
        receivedAtStats_ = received_.Get();
        ipv6ReceivedAtStats_ = ipv6Received_.Get();
        pcap_stat ps{};
        if (pcap_stats(handle_, &ps) == 0) {
            kernelDrops_.Set(uint64_t{ps.ps_drop} + ps.ps_ifdrop);
            statsValid_.store(true, std::memory_order_relaxed);
        }
        // Also after the handle failed: what it counted before still holds.
        if (ipv6_ != nullptr && pcap_stats(ipv6_, &ps) == 0) {
            ipv6KernelDrops_.Set(uint64_t{ps.ps_drop} + ps.ps_ifdrop);
        }
    }

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

    const LiveCaptureOptions options_;
    int wakeFd_ = -1;  // written by Interrupt
    bool failing_ = false;
    int64_t statsAtNs_ = 0;         // capture thread only
    uint64_t receivedAtStats_ = 0;  // capture thread only
    // The IPv6 handle: set by Open and Close only, so that Interrupt may use it.
    pcap_t* ipv6_ = nullptr;
    int ipv6LinkType_ = DLT_EN10MB;
    std::string ipv6Error_;  // by Open, or by the capture thread before ipv6Open_ drops
    std::atomic<bool> ipv6Open_{false};
    SingleWriterCount ipv6Received_;
    SingleWriterCount ipv6KernelDrops_;
    // Capture thread only (and Open, before it starts).
    bool ipv6Reading_ = false;  // open and not failed
    bool ipv6Turn_ = false;     // the IPv6 handle is read next
    int turnFrames_ = 0;        // frames of the turn so far
    int emptyLooks_ = 0;        // handles found empty in a row
    uint64_t ipv6ReceivedAtStats_ = 0;
};

class FileEndpoint final : public PcapEndpoint {
  public:
    explicit FileEndpoint(std::string path) : path_(std::move(path)) {}

    int Open(std::string_view) override {
        fault_ = SourceFault{};
        // Opened here rather than by libpcap: the cause of a failure is then
        // errno itself, and the file's size is known for the progress.
        FILE* file = std::fopen(path_.c_str(), "rb");
        if (file == nullptr) {
            return Fail(SourceFault::kCannotOpen, errno, std::strerror(errno));
        }
        struct stat st {};
        if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::fclose(file);
            return Fail(SourceFault::kCannotOpen, EISDIR, std::strerror(EISDIR));
        }
        fileBytes_ = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        // In nanoseconds, so that a pcapng file's finer times survive (libpcap
        // scales a microsecond file's times up).
        handle_ = pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO,
                                                           errbuf);  // owns `file` from here on
        if (handle_ == nullptr) {
            std::fclose(file);
            return Fail(SourceFault::kNotACaptureFile, 0, errbuf);
        }
        file_ = file;
        subsecondUnitNs_ = 1;
        linkType_ = pcap_datalink(handle_);
        if (!LinkTypeSupported(linkType_)) {
            const char* name = pcap_datalink_val_to_name(linkType_);
            return Fail(SourceFault::kUnsupportedLinkType, linkType_,
                        name ? name : std::to_string(linkType_));
        }
        NotePosition();
        return 0;
    }

    int Receive(uint8_t* buffer, int capacity) override {
        while (!exhausted_ && handle_ != nullptr && !interrupted_.load(std::memory_order_acquire)) {
            pcap_pkthdr* header = nullptr;
            const u_char* frame = nullptr;
            const int rc = pcap_next_ex(handle_, &header, &frame);
            if (rc == 1) {
                // Asking the position costs a system call: not for every frame.
                if (++frames_ % kFramesPerPosition == 0) {
                    NotePosition();
                }
                const int length = CopyDatagram(linkType_, header, frame, buffer, capacity);
                if (length >= 0) {
                    received_.Add();
                    return length;
                }
                continue;  // a frame without an IPv4 datagram
            }
            // The end of the file is PCAP_ERROR_BREAK; anything else is a fault.
            exhausted_ = true;
            NotePosition();
            if (rc != PCAP_ERROR_BREAK) {
                const std::string why = pcap_geterr(handle_);
                fault_.kind = why.find("truncated") != std::string::npos ? SourceFault::kTruncated
                                                                         : SourceFault::kReadError;
                fault_.detail = why;
                fault_.framesBefore = frames_;
                lastError_ = why;
            }
        }
        return -1;
    }

    bool Exhausted() const override { return exhausted_; }
    SourceFault Fault() const override { return fault_; }

  private:
    static constexpr uint64_t kFramesPerPosition = 1024;

    void NotePosition() {
        bytesRead_.Set(static_cast<uint64_t>(std::max<long>(std::ftell(file_), 0)));
    }

    int Fail(SourceFault::Kind kind, int code, std::string detail) {
        fault_.kind = kind;
        fault_.code = code;
        fault_.detail = detail;
        lastError_ = path_ + ": " + detail;
        return code != 0 && kind == SourceFault::kCannotOpen ? code : PCAP_ERROR;
    }

    std::string path_;
    FILE* file_ = nullptr;  // libpcap's, for the position reached
    bool exhausted_ = false;
    uint64_t frames_ = 0;
    SourceFault fault_;
};

}  // namespace

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

std::unique_ptr<CaptureEndpoint> MakeLiveEndpoint() {
    return std::make_unique<LiveEndpoint>(LiveCaptureOptions{});
}

std::unique_ptr<CaptureEndpoint> MakeLiveEndpointWith(LiveCaptureOptions options) {
    return std::make_unique<LiveEndpoint>(std::move(options));
}

std::unique_ptr<CaptureEndpoint> MakeLiveEndpointWithBuffer(int bufferBytes) {
    LiveCaptureOptions options;
    options.ipv4BufferBytes = bufferBytes;
    return std::make_unique<LiveEndpoint>(std::move(options));
}

std::unique_ptr<CaptureEndpoint> MakeFileEndpoint(std::string path) {
    return std::make_unique<FileEndpoint>(std::move(path));
}
