#pragma once
// A capture endpoint delivers whole IPv4 and IPv6 datagrams, header first, one per
// receive. Open and Close run on the interface thread, Receive on the capture
// thread; Interrupt may be called from any thread to end a blocked Receive.
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Read by any thread; an endpoint keeps these in atomics that only the
// capture thread writes.
struct CaptureStats {
    uint64_t received = 0;     // datagrams handed to the program (live: IPv4's)
    uint64_t kernelDrops = 0;  // libpcap's ps_drop plus ps_ifdrop (live: IPv4's)
    bool valid = false;        // kernelDrops is known
    // Capture files: how far reading has come, of how much.
    uint64_t bytesRead = 0;
    uint64_t fileBytes = 0;
    // Live capture takes IPv6 through a handle of its own, so that the kernel
    // counts above stay IPv4's alone: these are that handle's.
    bool ipv6Open = false;  // opened, and no failure since
    uint64_t ipv6Received = 0;
    uint64_t ipv6KernelDrops = 0;
};

// Why a source could not be opened, or stopped before its end.
struct SourceFault {
    enum Kind {
        kNone,
        kCannotOpen,           // code: errno
        kNotACaptureFile,      // neither pcap nor pcapng
        kUnsupportedLinkType,  // code: the link type
        kTruncated,            // cut off in the middle
        kReadError,
    };
    Kind kind = kNone;
    int code = 0;
    uint64_t framesBefore = 0;  // frames read whole before the fault
    std::string detail;         // the capture library's own words
};

class CaptureEndpoint {
  public:
    virtual ~CaptureEndpoint() = default;
    // 0 on success, otherwise a non-zero code (a libpcap status or an errno value).
    virtual int Open(std::string_view localAddress) = 0;
    // Blocks until a datagram arrives; returns its length (at most `capacity`)
    // or a negative value on error, after Interrupt, or once Exhausted.
    virtual int Receive(uint8_t* buffer, int capacity) = 0;
    // Makes the current and every later Receive return a negative value.
    virtual void Interrupt() = 0;
    virtual void Close() = 0;
    virtual CaptureStats Stats() const { return {}; }
    // Capture thread, right after a Receive that returned a datagram: when it
    // was captured, in nanoseconds since the epoch, or 0 when not known.
    virtual int64_t LastCaptureTimeNs() const { return 0; }
    // Capture thread: nothing more will ever come (the end of a capture file,
    // or a fault in it). A live network is never exhausted.
    virtual bool Exhausted() const { return false; }
    // Capture thread, once it has left its loop: the last chance to ask what
    // only it may ask (the kernel's counts), so that Stats holds the final figures.
    virtual void CaptureEnded() {}
    // What made Open fail or the source end early; read once the capture
    // thread has left the endpoint.
    virtual SourceFault Fault() const { return {}; }
    // The cause of the last failure, for people who started us from a terminal.
    virtual std::string ErrorText() const { return {}; }
    // Why a live capture goes on without IPv6 (its handle failed to open, or
    // failed later), or empty. Read after Open, or once Stats says the IPv6
    // handle is no longer open.
    virtual std::string Ipv6ErrorText() const { return {}; }
    // How long a Receive that found nothing may wait: at most `limitNs`
    // nanoseconds (negative: no limit), and whether traffic should end the
    // wait. Traffic that comes meanwhile waits in the kernel's buffer.
    struct WaitPlan {
        int64_t limitNs = -1;
        bool wakeForTraffic = true;
    };
    // Capture thread: `hook` runs whenever a Receive is about to wait because
    // nothing has arrived, and plans that wait. A wait that reaches its limit
    // runs the hook again before the next one. Set before the capture thread starts.
    using WaitHook = std::function<WaitPlan()>;
    virtual void SetWaitHook(WaitHook hook) { waitHook_ = std::move(hook); }

  protected:
    WaitPlan AboutToWait() { return waitHook_ ? waitHook_() : WaitPlan{}; }

  private:
    WaitHook waitHook_;
};

// How a live capture opens its two libpcap handles on the interface: one for
// IPv4, whose kernel counts are the figures of the capture, and one for IPv6,
// read by the same thread, which feeds the conversations alone. An IPv6 handle
// that cannot open leaves the IPv4 capture as it would be without it.
struct LiveCaptureOptions {
    // Room for about 100,000 small datagrams: what arrives while the list is
    // behind (a burst, or cores taken by other work) waits here instead of
    // being dropped, since the program keeps no queue of its own.
    int ipv4BufferBytes = 32 << 20;
    // A quarter of that (about 25,000 small datagrams, a quarter of a second
    // of a 100,000/s flood; of a trickle, 32 blocks that the kernel hands
    // over 2 ms after their first frame, 64 ms): the kernel pins this
    // memory for as long as the capture runs, and a dropped IPv6 datagram
    // costs the conversation counts, never a figure the window shows.
    // 0: IPv6 is not taken.
    int ipv6BufferBytes = 8 << 20;
    // What the IPv6 handle takes (tagged frames too).
    std::string ipv6Filter = "ip6 or (vlan and ip6)";
};

// Live capture with libpcap on the interface that holds `localAddress`.
std::unique_ptr<CaptureEndpoint> MakeLiveEndpoint();
std::unique_ptr<CaptureEndpoint> MakeLiveEndpointWith(LiveCaptureOptions options);
// The same with an IPv4 kernel buffer of this many bytes instead of the usual 32 MiB.
std::unique_ptr<CaptureEndpoint> MakeLiveEndpointWithBuffer(int bufferBytes);
// Plays a capture file (pcap or pcapng); exhausted after its last datagram or
// at a fault. Open refuses files of a link type LocateDatagram does not know,
// and, without waiting on them, what is not a regular file: a cannot-open
// fault with the code kNotRegularFileCode and the kind of file as its detail.
std::unique_ptr<CaptureEndpoint> MakeFileEndpoint(std::string path);
inline constexpr int kNotRegularFileCode = ESPIPE;

// Scripted datagrams for tests: delivered in order, then (unless `repeat`)
// Receive blocks until interrupted.
struct ScriptedTraffic {
    std::vector<std::vector<uint8_t>> datagrams;
    bool repeat = false;
    int openResult = 0;  // what Open returns
};
std::unique_ptr<CaptureEndpoint> MakeScriptedEndpoint(ScriptedTraffic traffic);

// Where the datagram starts inside a captured frame of the given libpcap link
// type, and how long it is: trailers and the padding of short frames are cut
// off by the IPv4 total length or the IPv6 payload length. Returns false for
// frames that hold neither an IPv4 nor an IPv6 datagram, and for every frame
// of a link type it does not know.
bool LocateDatagram(int linkType, const uint8_t* frame, uint32_t captured, uint32_t* offset,
                    uint32_t* length);
bool LinkTypeSupported(int linkType);
