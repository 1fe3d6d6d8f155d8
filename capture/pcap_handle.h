#pragma once
// One libpcap handle, live on a device or on a capture file: opening it,
// reading one frame's datagram at a time, and its kernel counts. The
// endpoints (pcap_endpoint.cpp, file_endpoint.cpp) decide what to do with
// what it reads, when to wait and when to give up.
#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <string>

// libpcap handles are not safe to share between threads: only the capture
// thread reads once capture runs, apart from BreakLoop, which is made for
// that. Open and Close run while no capture thread is inside.
class PcapHandle {
  public:
    PcapHandle() = default;
    ~PcapHandle() { Close(); }
    PcapHandle(const PcapHandle&) = delete;
    PcapHandle& operator=(const PcapHandle&) = delete;

    // Live on `device`, with a kernel buffer of `bufferBytes`, taking what
    // `filter` takes, non-blocking. Its status: 0, or negative with the reason
    // in Error() (and nothing left open).
    int OpenLive(const std::string& device, int bufferBytes, const std::string& filter);
    // A capture file libpcap reads from `file`, in nanoseconds: the handle
    // owns `file` once this succeeds; on failure the caller still does.
    bool OpenFile(FILE* file);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }

    enum class Read {
        kDatagram,  // its datagram was copied
        kNotIp,     // a frame without an IPv4 or IPv6 datagram
        kNothing,   // live: nothing waiting
        kEnd,       // a file's end, or BreakLoop
        kError,     // the reason in Error()
    };
    // Capture thread: the next frame's datagram copied to `buffer` (at most
    // `capacity` bytes), its length in `*length` and its capture time in
    // LastTimeNs().
    Read Next(uint8_t* buffer, int capacity, int* length);
    int64_t LastTimeNs() const { return lastTimeNs_; }

    // Any thread: a Next under way, and the next one, return kEnd.
    void BreakLoop() {
        if (handle_ != nullptr)
            pcap_breakloop(handle_);
    }
    // Live: the descriptor to wait on for frames.
    int SelectableFd() const { return handle_ ? pcap_get_selectable_fd(handle_) : -1; }
    // Capture thread: what the kernel dropped of this handle's frames
    // (libpcap's ps_drop plus ps_ifdrop); false where it cannot say.
    bool KernelDrops(uint64_t* drops);
    int LinkType() const { return linkType_; }
    const std::string& Error() const { return error_; }

  private:
    pcap_t* handle_ = nullptr;
    int linkType_ = DLT_EN10MB;
    int64_t subsecondUnitNs_ = 1000;  // a live handle's times are in microseconds
    int64_t lastTimeNs_ = 0;          // capture thread only
    std::string error_;
};
