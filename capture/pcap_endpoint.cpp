// The live capture endpoint: two handles on one interface (pcap_handle.h),
// read in turns by the capture thread, which sleeps on both and on a wake
// descriptor of its own.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/clock.h"
#include "capture/counters.h"
#include "capture/endpoint.h"
#include "capture/pcap_handle.h"
#include "wire/interfaces.h"

namespace {

// How often the capture thread asks libpcap for the kernel's drop counts.
constexpr int64_t kStatsEveryNs = 250'000'000;
// The IPv4 and the IPv6 handle take turns of this many frames, so that a
// flood of one family leaves the other its share; a turn that finds its
// handle empty passes at once. Long enough that the empty look at the other
// handle (a poll) is paid once per this many IPv4 frames.
constexpr int kFramesPerTurn = 256;
// A failing interface (removed, down) is asked again after this long at
// first, then twice as long each time it still fails, up to a second: a
// capture left running on a vanished interface costs next to nothing.
constexpr int kFirstBackOffMs = 10;
constexpr int kLongestBackOffMs = 1000;

// Two handles on one interface, one per family, each with its own kernel
// buffer and counts: the kernel counts drops per handle, and only IPv4's are
// the figures the window promises. The capture thread reads both in turns and
// sleeps on both; the IPv6 handle is optional throughout.
class LiveEndpoint final : public CaptureEndpoint {
  public:
    explicit LiveEndpoint(LiveCaptureOptions options) : options_(std::move(options)) {}
    ~LiveEndpoint() override { Close(); }

    void Interrupt() override {
        interrupted_.store(true, std::memory_order_release);
        ipv4_.BreakLoop();
        ipv6_.BreakLoop();
        if (wakeFd_ >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
        }
    }

    void Close() override {
        ipv4_.Close();
        ipv6_.Close();
        ipv6Reading_ = false;
        ipv6Open_.store(false, std::memory_order_release);
        if (wakeFd_ >= 0) {
            ::close(wakeFd_);
            wakeFd_ = -1;
        }
    }

    CaptureStats Stats() const override {
        CaptureStats s;
        s.received = received_.Get();
        s.kernelDrops = kernelDrops_.Get();
        s.valid = statsValid_.load(std::memory_order_relaxed);
        s.ipv6Open = ipv6Open_.load(std::memory_order_acquire);
        s.ipv6Received = ipv6Received_.Get();
        s.ipv6KernelDrops = ipv6KernelDrops_.Get();
        return s;
    }

    std::string ErrorText() const override { return lastError_; }
    std::string Ipv6ErrorText() const override { return ipv6Error_; }
    int64_t LastCaptureTimeNs() const override { return lastTimeNs_; }

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

        // Tagged frames carry their datagrams behind the VLAN header.
        const int status = ipv4_.OpenLive(device, options_.ipv4BufferBytes, "ip or (vlan and ip)");
        if (status < 0) {
            lastError_ = ipv4_.Error();
            if (status == PCAP_ERROR_PERM_DENIED) {
                lastError_.append("\n").append(PermissionHint());
            }
            return status;
        }
        // The thread waits for traffic itself (WaitForFrames) rather than in
        // libpcap: for the batches' plan, the drop figures after a burst and
        // Interrupt. libpcap still looks for errors first.
        wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd_ < 0) {
            lastError_ = std::strerror(errno);
            return PCAP_ERROR;
        }
        device_ = device;
        OpenIpv6();
        return 0;
    }

    int Receive(uint8_t* buffer, int capacity) override {
        while (!interrupted_.load(std::memory_order_acquire) && ipv4_.IsOpen()) {
            const bool six = ipv6Turn_;
            PcapHandle& handle = six ? ipv6_ : ipv4_;
            int length = 0;
            const PcapHandle::Read read = handle.Next(buffer, capacity, &length);
            if (read == PcapHandle::Read::kDatagram || read == PcapHandle::Read::kNotIp) {
                emptyLooks_ = 0;
                if (ipv6Reading_ && ++turnFrames_ == kFramesPerTurn) {
                    PassTurn();
                }
                if (read == PcapHandle::Read::kNotIp) {
                    continue;
                }
                lastTimeNs_ = handle.LastTimeNs();
                if (six) {
                    ipv6Received_.Add();
                } else {
                    received_.Add();
                    failing_ = false;
                    backOffMs_ = kFirstBackOffMs;
                }
                // The capture time is at hand: no clock read per datagram.
                RefreshKernelStatsIfDue(lastTimeNs_);
                return length;
            }
            if (read == PcapHandle::Read::kNothing) {
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
            if (read == PcapHandle::Read::kEnd) {
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
        if (ipv4_.IsOpen()) {
            RefreshKernelStats(WallClockNs());
        }
    }

  private:
    // Opens the IPv6 handle beside the IPv4 one, or notes why not: nothing
    // of it stops the IPv4 capture.
    void OpenIpv6() {
        if (options_.ipv6BufferBytes <= 0) {
            return;
        }
        if (ipv6_.OpenLive(device_, options_.ipv6BufferBytes, options_.ipv6Filter) < 0) {
            ipv6Error_ = ipv6_.Error().empty() ? "cannot open" : ipv6_.Error();
            TellIpv6Error();
            return;
        }
        ipv6Reading_ = true;
        ipv6Open_.store(true, std::memory_order_release);
    }

    // Capture thread: the IPv6 handle failed. It stays open (Interrupt may be
    // using it, and its counts still hold) but is read no more.
    void RetireIpv6() {
        ipv6Error_ = ipv6_.Error();
        TellIpv6Error();
        ipv6Reading_ = false;
        ipv6Turn_ = false;
        emptyLooks_ = 0;
        ipv6Open_.store(false, std::memory_order_release);
    }

    // The list shows IPv4 alone: 捕获统计 says why the conversations lack
    // IPv6 (Ipv6ErrorText), and so, once per capture, does standard error.
    void TellIpv6Error() {
        if (ipv6Told_) {
            return;
        }
        ipv6Told_ = true;
        std::fprintf(stderr, "quorvelan: IPv6 is not captured on %s: %s\n", device_.c_str(),
                     ipv6Error_.c_str());
    }

    void PassTurn() {
        ipv6Turn_ = !ipv6Turn_;
        turnFrames_ = 0;
    }

    // Between failures: waits the back-off, then doubles it. A due batch
    // still goes meanwhile, and Interrupt ends the pause.
    void BackOff() {
        const int64_t until = SteadyClockNs() + int64_t{backOffMs_} * 1000000;
        backOffMs_ = std::min(backOffMs_ * 2, kLongestBackOffMs);
        for (;;) {
            const WaitPlan plan = AboutToWait();
            const int64_t leftNs = until - SteadyClockNs();
            if (leftNs <= 0 || interrupted_.load(std::memory_order_acquire)) {
                return;
            }
            const int64_t waitNs = plan.limitNs >= 0 ? std::min(leftNs, plan.limitNs) : leftNs;
            pollfd wake = {wakeFd_, POLLIN, 0};
            // Rounded up to whole milliseconds: waking early would only wait again.
            if (::poll(&wake, 1, static_cast<int>((waitNs + 999999) / 1000000)) > 0) {
                return;
            }
        }
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
                         {ipv4_.SelectableFd(), POLLIN, 0},
                         {ipv6Reading_ ? ipv6_.SelectableFd() : -1, POLLIN, 0}};
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
        uint64_t drops = 0;
        if (ipv4_.KernelDrops(&drops)) {
            kernelDrops_.Set(drops);
            statsValid_.store(true, std::memory_order_relaxed);
        }
        // Also after the handle failed: what it counted before still holds.
        if (ipv6_.KernelDrops(&drops)) {
            ipv6KernelDrops_.Set(drops);
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
    // Both handles: opened by Open, closed by Close only, so that Interrupt may use them.
    PcapHandle ipv4_;
    PcapHandle ipv6_;
    std::string device_;
    int wakeFd_ = -1;  // written by Interrupt
    std::atomic<bool> interrupted_{false};
    std::string lastError_;
    std::string ipv6Error_;  // by Open, or by the capture thread before ipv6Open_ drops
    // Written by the capture thread only.
    SingleWriterCount received_;
    SingleWriterCount kernelDrops_;
    std::atomic<bool> statsValid_{false};
    SingleWriterCount ipv6Received_;
    SingleWriterCount ipv6KernelDrops_;
    std::atomic<bool> ipv6Open_{false};
    // Capture thread only (and Open, before it starts).
    int64_t lastTimeNs_ = 0;
    bool failing_ = false;
    int backOffMs_ = kFirstBackOffMs;
    int64_t statsAtNs_ = 0;
    uint64_t receivedAtStats_ = 0;
    uint64_t ipv6ReceivedAtStats_ = 0;
    bool ipv6Reading_ = false;  // open and not failed
    bool ipv6Turn_ = false;     // the IPv6 handle is read next
    int turnFrames_ = 0;        // frames of the turn so far
    int emptyLooks_ = 0;        // handles found empty in a row
    bool ipv6Told_ = false;     // its failure was said on stderr
};

}  // namespace

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
