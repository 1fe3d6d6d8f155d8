#pragma once
// A capture endpoint delivers whole IPv4 datagrams, header first, one per
// receive. Open and Close run on the interface thread, Receive on the capture
// thread; Interrupt may be called from any thread to end a blocked Receive.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct CaptureStats {
    uint64_t received = 0;  // datagrams handed to the program
    uint64_t kernelDrops = 0;
    bool valid = false;
};

class CaptureEndpoint {
  public:
    virtual ~CaptureEndpoint() = default;
    // 0 on success, otherwise a non-zero code (a libpcap status or an errno value).
    virtual int Open(std::string_view localAddress) = 0;
    // Blocks until a datagram arrives; returns its length (at most `capacity`)
    // or a negative value on error or after Interrupt.
    virtual int Receive(uint8_t* buffer, int capacity) = 0;
    // Makes the current and every later Receive return a negative value.
    virtual void Interrupt() = 0;
    virtual void Close() = 0;
    virtual CaptureStats Stats() const { return {}; }
    // Capture thread, right after a Receive that returned a datagram: when it
    // was captured, in nanoseconds since the epoch, or 0 when not known.
    virtual int64_t LastCaptureTimeNs() const { return 0; }
    // The cause of the last failure, for people who started us from a terminal.
    virtual std::string ErrorText() const { return {}; }
};

// Live capture with libpcap on the interface that holds `localAddress`.
std::unique_ptr<CaptureEndpoint> MakeLiveEndpoint();
// Replays a capture file; after the last datagram it blocks like a quiet network.
std::unique_ptr<CaptureEndpoint> MakeFileEndpoint(std::string path);

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
// off by the IPv4 total length. Returns false for frames that hold no IPv4
// datagram.
bool LocateDatagram(int linkType, const uint8_t* frame, uint32_t captured, uint32_t* offset,
                    uint32_t* length);
