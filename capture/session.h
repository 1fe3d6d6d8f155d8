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

#include <QSocketNotifier>

#include "capture/batch_tap.h"
#include "capture/counters.h"
#include "capture/decode.h"
#include "capture/endpoint.h"
#include "capture/event_list.h"
#include "capture/handoff.h"
#include "capture/packet.h"
#include "capture/row_batch.h"
#include "capture/sink.h"

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

// A recording of the capture into a file, as the window reports it beside the
// capture's figures (the session only hands datagrams to its sink).
struct RecordingFigures {
    enum State {
        kOff,        // no recording
        kWaiting,    // on, and waiting for a capture to start
        kRecording,  // writing the capture running now
        kStopped,    // the file is complete
        kFailed,     // a write failed; the file holds what came before
    };
    State state = kOff;
    std::string path;
    uint64_t datagrams = 0;  // in the file, whole
    uint64_t bytes = 0;      // the file's size
    uint64_t missed = 0;     // left out while the disk could not keep up
    int fault = 0;           // errno of the failed write
};

// The figures of the capture running now, or of the last one.
struct CaptureFigures {
    bool started = false;  // a capture has been started at all
    bool running = false;  // its capture thread has not left its loop yet
    bool fromFile = false;
    std::string source;       // the local address, or the capture file's path
    int64_t startedAtNs = 0;  // wall clock, nanoseconds since the epoch
    int64_t durationNs = 0;   // so far, or until the capture thread left its loop
    uint64_t received = 0;
    uint64_t kernelDrops = 0;
    bool kernelKnown = false;
    uint64_t filtered = 0;
    uint64_t rows = 0;
    uint64_t emptied = 0;
    uint64_t bytesRead = 0;  // capture files
    uint64_t fileBytes = 0;
    // A live capture's IPv6 handle (the figures above are IPv4's): whether
    // it was opened, and when not read (never opened, or failed since), why.
    bool ipv6Handle = false;
    uint64_t ipv6Received = 0;
    uint64_t ipv6KernelDrops = 0;
    std::string ipv6Error;
    RecordingFigures recording;  // filled in by whoever records: left off here
};

// The figures in one line, as tcpdump reports its own when it stops:
// "quorvelan: 182311 received, 2114 dropped by the kernel, ..., 4.1 s", and
// when the capture was recorded "; recorded 182311 datagrams (17500172 bytes)
// to /tmp/x.pcapng", with what was left out and a write failure after it.
std::string FiguresLine(const CaptureFigures& figures);

class CaptureSession {
  public:
    // Rows reach the list in batches, at most one per period: ten a second,
    // so that the list repaints no more often than that however fast rows
    // come, and a hand-off's wake-ups are paid once per batch. A batch costs
    // the interface thread and the X server about the same whether it holds
    // one row or eighty, so at a low rate of traffic the period sets the cost.
    static constexpr int64_t kBatchPeriodNs = 100'000'000;
    // How long a due batch may wait for the endpoint to run dry.
    static constexpr int64_t kDrainSlackNs = 10'000'000;

    using EndpointFactory = std::function<std::unique_ptr<CaptureEndpoint>()>;
    using FileEndpointFactory = std::function<std::unique_ptr<CaptureEndpoint>(std::string path)>;
    // Interface thread, from its event loop: the source of a capture ran out
    // by itself (the end of a capture file, or a fault in it) and the capture
    // thread has left its loop. Receives the number of that capture, which
    // may have been stopped, or followed by another, in the meantime.
    using FinishedHandler = std::function<void(uint64_t capture)>;

    CaptureSession(RowHandoff& handoff, EventList& list,
                   EndpointFactory factory = MakeLiveEndpoint);
    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    // Interface thread.
    void SetEndpointFactory(EndpointFactory factory) { factory_ = std::move(factory); }
    void SetFileEndpointFactory(FileEndpointFactory factory) { fileFactory_ = std::move(factory); }
    void SetFinishedHandler(FinishedHandler handler) { finished_ = std::move(handler); }
    // Every datagram received, before the filter, goes to `sink` too (a
    // recording). Set while no capture thread runs; the sink outlives the session.
    void SetDatagramSink(DatagramSink* sink) { sink_ = sink; }
    // Every datagram that passed the filter (also those the 500-row limit
    // emptied) goes to `tap` too, told with its batch's insertion (the
    // conversation counts). IPv6 datagrams go to the tap only: never to the
    // list, its figures or the sink. Set while no capture thread runs; the tap
    // outlives the session.
    void SetBatchTap(BatchTap* tap) { tap_ = tap; }
    void SetSelectedLocalAddress(std::string address) { localAddress_ = std::move(address); }
    const std::string& SelectedLocalAddress() const { return localAddress_; }
    // Opens the endpoint on the selected local address: 0 or the failing code.
    // The endpoint is kept even when opening fails, until it is closed.
    // Refused (EBUSY), with nothing touched, while a capture thread runs.
    int OpenCaptureSocket();
    // Opens a capture file to be played like live traffic, each row carrying
    // its datagram's own capture time: 0 or non-zero, with LastFault telling
    // why. A file that fails is closed at once. Refused (EBUSY) while a
    // capture thread runs.
    int OpenCaptureFile(const std::string& path);
    // StopFlag = 0, then the capture thread starts. False if it could not start.
    bool StartCaptureThread();
    // Ends the capture thread at once and closes the endpoint. The rows it had
    // built and not yet handed over are inserted first; when it returns, no
    // row is inserted any more.
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
    // Until Stop or Destroy, also after the thread left its loop by itself.
    bool CaptureThreadRunning() const { return thread_.joinable(); }
    // The capture thread has left its loop (any thread may ask).
    bool CaptureThreadEnded() const { return endedAtNs_.load() != 0; }
    // Counts the captures started; the finished handler is told which one ended.
    uint64_t CaptureNumber() const { return captureNumber_; }
    std::string EndpointErrorText() const;
    CaptureStats EndpointStats() const;
    // Why the last file failed to open, or why its capture ended before the
    // file's end; valid after a failed open and after Stop.
    const SourceFault& LastFault() const { return fault_; }
    // Reads only atomics: it never holds the capture thread back.
    CaptureFigures Figures() const;
    uint64_t RowsInserted() const { return counters_.rows.Get(); }
    uint64_t DatagramsReceived() const { return counters_.received.Get(); }

    // 32-bit flags shared with the capture thread.
    std::atomic<int32_t> StopFlag{1};
    std::atomic<int32_t> PauseFlag{0};

    // Capture thread.
    int CaptureThreadProc();
    void DecodePacket(uint8_t* buffer, int length);
    void ShowPacket(uint8_t* buffer, int length);
    // An IPv6 datagram: to the tap alone, in the batch being filled.
    void TapOnly(const uint8_t* buffer, int length);

  private:
    void WakeCaptureThread();
    // Capture thread: waits for the batch handed over before, then hands
    // over the one being filled; false if cancelled.
    bool HandOverBatch();
    // Capture thread: the same, and waits for it to be in the list.
    bool HandOverAll();
    // Counts the posted batch as inserted and frees it to be filled again.
    void RetirePosted();
    // Capture thread: about to wait for traffic; how that wait goes.
    CaptureEndpoint::WaitPlan BeforeWaiting();
    // Capture thread: whether the reads since the last wait were worth
    // waking for, and so whether traffic may wake the thread again soon.
    void WeighTrafficWake(int64_t now);
    // A wait within a batch period until `until`.
    CaptureEndpoint::WaitPlan PeriodWait(int64_t until, int64_t now);
    // Counts what inserting a batch did.
    void TellCaptureEnded();

    int OpenEndpoint(std::unique_ptr<CaptureEndpoint> endpoint, std::string_view address);
    std::time_t CaptureSecond() const;
    // Capture thread: the capture time of the datagram received last (the
    // endpoint's, or now when it gives none).
    int64_t DatagramTimeNs() const;

    RowHandoff& handoff_;
    EventList& list_;
    EndpointFactory factory_;
    FileEndpointFactory fileFactory_;
    FinishedHandler finished_;
    // The capture thread tells the event loop through an eventfd: no event
    // is made or posted on the capture thread.
    int endedFd_ = -1;
    std::unique_ptr<QSocketNotifier> endedNotifier_;
    std::atomic<uint64_t> endedCapture_{0};
    std::unique_ptr<CaptureEndpoint> endpoint_;
    std::thread thread_;
    std::string localAddress_;
    SharedFilterSettings filter_;
    // Changes on every flag change, so a paused capture thread can sleep on it.
    std::atomic<uint32_t> flagChanges_{0};

    // The endpoint opened last: a file, and which one.
    bool openedFile_ = false;
    std::string openedPath_;
    // Of the capture started last, kept after it ends. Written only while no
    // capture thread exists, so its capture thread reads them as well.
    uint64_t captureNumber_ = 0;
    bool startedFile_ = false;
    std::string startedSource_;
    int64_t startedWallNs_ = 0;
    int64_t startedSteadyNs_ = 0;
    CaptureStats endStats_;  // the endpoint's, taken when its thread was joined
    std::string endIpv6Error_;
    SourceFault fault_;
    std::string lastErrorText_;

    // received and filtered counted by the capture thread, rows and emptied
    // by the interface thread as it inserts; read by any.
    CaptureCounters counters_;
    std::atomic<int64_t> endedAtNs_{0};  // steady clock; 0 while the thread runs

    // Two batches, one filled by the capture thread while the interface
    // thread inserts the other. Owned by the capture thread; the interface
    // thread inserts what is left once the thread has been joined.
    class InsertBatchTask final : public UiTask {
      public:
        InsertBatchTask(CaptureSession& session, int which) : session_(session), which_(which) {}
        void Run() override {
            session_.InsertBatch(which_);
            ran = true;
        }
        bool ran = false;

      private:
        CaptureSession& session_;
        int which_;
    };
    // Interface thread: batch `which` goes into the list, then the tap is told.
    void InsertBatch(int which);
    RowBatch& Filling() { return batches_[filling_]; }
    // Neither rows nor tap-only datagrams wait in the batch being filled.
    bool FillingEmpty() const { return batches_[filling_].Empty() && !tapOnly_[filling_]; }
    RowBatch batches_[2];
    // The tap holds datagrams of the batch that have no row (IPv6), owned as
    // the batch is.
    bool tapOnly_[2] = {false, false};
    // Empties batch `which` and the tap's store of it.
    void ClearBatch(int which);
    InsertBatchTask tasks_[2]{{*this, 0}, {*this, 1}};
    int filling_ = 0;
    int posted_ = -1;             // the batch handed over and not yet seen inserted, or -1
    int64_t lastHandOverNs_ = 0;  // steady clock
    int64_t batchDueNs_ = 0;      // when the batch is to be handed over
    PacketText packetText_;
    // The capture time of the datagram being handled, read once: the
    // recording, the row's time text and its kept time all agree.
    int64_t datagramTimeNs_ = 0;
    RowWorkspace workspace_;
    std::string threadLocalAddress_;
    DatagramSink* sink_ = nullptr;
    BatchTap* tap_ = nullptr;
    // Capture thread: traffic within a batch period wakes the thread only
    // for the tap's news (its owner hints must leave at once, while a
    // short-lived program still holds its socket); reads that brought none
    // hold traffic wake-ups off for a while, doubling up to the longest.
    static constexpr int64_t kFirstWakeHoldNs = 2'000'000;
    static constexpr int64_t kLongestWakeHoldNs = 512'000'000;
    struct TrafficWake {
        uint64_t newsAtWait = 0;
        bool readSinceWait = false;
        bool lastWaitWoken = false;  // the last wait let traffic end it
        int64_t holdNs = 0;
        int64_t heldUntilNs = 0;  // steady clock
    } wake_;
};
