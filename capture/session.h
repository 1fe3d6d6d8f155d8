#pragma once
// The capture state of the main window: the endpoint, the capture thread,
// the stop and pause flags, the selected local address and the filter in
// force, with the operations the window's Start, Stop, Exit and destruction
// handlers delegate to.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "capture/decode.h"
#include "capture/endpoint.h"
#include "capture/event_list.h"
#include "capture/handoff.h"
#include "capture/packet.h"

// The filter settings shared with the capture thread. Each datagram is tested
// against one whole set, old or new, never a mix: a sequence lock over words
// that are all atomics, so the reader never blocks the writer or vice versa.
class SharedFilterSettings {
  public:
    SharedFilterSettings() { Store(FilterSettings{}); }
    void Store(const FilterSettings& settings);
    FilterSettings Load() const;

  private:
    static constexpr size_t kWords = (sizeof(FilterSettings) + 7) / 8;
    std::atomic<uint32_t> sequence_{0};
    std::atomic<uint64_t> words_[kWords] = {};
};

class CaptureSession {
  public:
    using EndpointFactory = std::function<std::unique_ptr<CaptureEndpoint>()>;

    CaptureSession(RowHandoff& handoff, EventList& list,
                   EndpointFactory factory = MakeLiveEndpoint);
    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    // Interface thread.
    void SetEndpointFactory(EndpointFactory factory) { factory_ = std::move(factory); }
    void SetSelectedLocalAddress(std::string address) { localAddress_ = std::move(address); }
    const std::string& SelectedLocalAddress() const { return localAddress_; }
    // Opens the endpoint on the selected local address: 0 or the failing code.
    // The endpoint is kept even when opening fails, until it is closed.
    // Refused (EBUSY), with nothing touched, while a capture thread runs.
    int OpenCaptureSocket();
    // StopFlag = 0, then the capture thread starts. False if it could not start.
    bool StartCaptureThread();
    // Ends the capture thread at once and closes the endpoint. When it returns,
    // no row is inserted any more.
    void Stop();
    // Exit: later receives fail at once; the endpoint itself is released once
    // the capture thread has left it (Stop or Destroy).
    void CloseSocket();
    // Window destruction: like Stop.
    void Destroy() { Stop(); }
    // Filter dialog: capture holds back from receiving while paused.
    void RaisePause();
    void DropPause();
    void SetFilterSettings(const FilterSettings& settings) { filter_.Store(settings); }
    FilterSettings CurrentFilterSettings() const { return filter_.Load(); }

    bool SocketOpen() const { return endpoint_ != nullptr; }
    bool CaptureThreadRunning() const { return thread_.joinable(); }
    std::string EndpointErrorText() const;
    CaptureStats EndpointStats() const;
    uint64_t RowsInserted() const { return rowsInserted_.load(std::memory_order_relaxed); }
    uint64_t DatagramsReceived() const {
        return datagramsReceived_.load(std::memory_order_relaxed);
    }

    // 32-bit flags shared with the capture thread.
    std::atomic<int32_t> StopFlag{1};
    std::atomic<int32_t> PauseFlag{0};

    // Capture thread.
    int CaptureThreadProc();
    void DecodePacket(uint8_t* buffer, int length);
    void ShowPacket(uint8_t* buffer, int length);

  private:
    void WakeCaptureThread();

    RowHandoff& handoff_;
    EventList& list_;
    EndpointFactory factory_;
    std::unique_ptr<CaptureEndpoint> endpoint_;
    std::thread thread_;
    std::string localAddress_;
    SharedFilterSettings filter_;
    // Changes on every flag change, so a paused capture thread can sleep on it.
    std::atomic<uint32_t> flagChanges_{0};

    // Owned by the capture thread.
    PacketText packetText_;
    RowWorkspace workspace_;
    std::string threadLocalAddress_;
    std::atomic<uint64_t> rowsInserted_{0};
    std::atomic<uint64_t> datagramsReceived_{0};
};
