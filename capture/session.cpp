#include "capture/session.h"

#include "capture/clock.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <system_error>

// Sequentially consistent throughout: the reader's loads cost nothing extra on
// x86, the writer runs once per filter dialog, and no fences are needed.
void SharedFilterSettings::Store(const FilterSettings& settings) {
    uint64_t raw[kWords] = {};
    std::memcpy(raw, &settings, sizeof settings);
    const uint32_t s = sequence_.load();
    sequence_.store(s + 1);
    for (size_t i = 0; i < kWords; ++i) {
        words_[i].store(raw[i]);
    }
    sequence_.store(s + 2);
}

FilterSettings SharedFilterSettings::Load() const {
    uint64_t raw[kWords];
    for (;;) {
        const uint32_t before = sequence_.load();
        if (before & 1u) {
            continue;  // a write is under way; it takes nanoseconds
        }
        for (size_t i = 0; i < kWords; ++i) {
            raw[i] = words_[i].load();
        }
        if (sequence_.load() == before) {
            break;
        }
    }
    FilterSettings settings;
    std::memcpy(&settings, raw, sizeof settings);
    return settings;
}

std::string FiguresLine(const CaptureFigures& f) {
    char line[320];
    std::snprintf(line, sizeof line,
                  "quorvelan: %" PRIu64 " received, %" PRIu64 " dropped by the kernel, %" PRIu64
                  " turned away by the filter, %" PRIu64 " rows, %" PRIu64
                  " emptied by the 500-row limit, %.1f s",
                  f.received, f.kernelDrops, f.filtered, f.rows, f.emptied,
                  static_cast<double>(f.durationNs) / 1e9);
    std::string text = line;
    const RecordingFigures& r = f.recording;
    if (r.state == RecordingFigures::kOff || r.path.empty()) {
        return text;
    }
    std::snprintf(line, sizeof line, "; recorded %" PRIu64 " datagrams (%" PRIu64 " bytes) to ",
                  r.datagrams, r.bytes);
    text.append(line).append(r.path);
    if (r.missed != 0) {
        std::snprintf(line, sizeof line, ", %" PRIu64 " left out while the disk was behind",
                      r.missed);
        text.append(line);
    }
    if (r.fault != 0) {
        text.append(", recording failed: ").append(std::strerror(r.fault));
    }
    return text;
}

CaptureSession::CaptureSession(RowHandoff& handoff, EventList& list, EndpointFactory factory)
    : handoff_(handoff),
      list_(list),
      factory_(std::move(factory)),
      fileFactory_([](std::string path) { return MakeFileEndpoint(std::move(path)); }) {
    endedFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (endedFd_ >= 0) {
        endedNotifier_ = std::make_unique<QSocketNotifier>(endedFd_, QSocketNotifier::Read);
        QObject::connect(endedNotifier_.get(), &QSocketNotifier::activated,
                         [this] { TellCaptureEnded(); });
    }
}

CaptureSession::~CaptureSession() {
    Destroy();
    endedNotifier_.reset();
    if (endedFd_ >= 0) {
        ::close(endedFd_);
    }
}

int CaptureSession::OpenCaptureSocket() {
    // The running capture thread is inside the current endpoint.
    if (thread_.joinable()) {
        return EBUSY;
    }
    openedFile_ = false;
    return OpenEndpoint(factory_ ? factory_() : nullptr, localAddress_);
}

int CaptureSession::OpenCaptureFile(const std::string& path) {
    if (thread_.joinable()) {
        return EBUSY;
    }
    openedFile_ = true;
    openedPath_ = path;
    const int rc = OpenEndpoint(fileFactory_ ? fileFactory_(path) : nullptr, {});
    if (rc != 0 && endpoint_) {
        // Unlike a capture socket, nothing of a file that failed is kept.
        fault_ = endpoint_->Fault();
        lastErrorText_ = endpoint_->ErrorText();
        endpoint_->Close();
        endpoint_.reset();
    }
    return rc;
}

int CaptureSession::OpenEndpoint(std::unique_ptr<CaptureEndpoint> endpoint,
                                 std::string_view address) {
    endpoint_ = std::move(endpoint);
    fault_ = SourceFault{};
    lastErrorText_.clear();
    if (!endpoint_) {
        return ENODEV;
    }
    return endpoint_->Open(address);
}

bool CaptureSession::StartCaptureThread() {
    if (thread_.joinable()) {
        return false;
    }
    handoff_.Reset();
    batches_[0].Clear();
    batches_[1].Clear();
    tapOnly_[0] = tapOnly_[1] = false;
    if (tap_) {
        tap_->Begin(localAddress_);
    }
    filling_ = 0;
    posted_ = -1;
    lastHandOverNs_ = 0;
    wake_ = {};
    threadLocalAddress_ = localAddress_;
    ++captureNumber_;
    startedFile_ = openedFile_;
    startedSource_ = openedFile_ ? openedPath_ : localAddress_;
    counters_.Reset();
    endStats_ = CaptureStats{};
    endIpv6Error_.clear();
    endedAtNs_.store(0);
    startedWallNs_ = WallClockNs();
    startedSteadyNs_ = SteadyClockNs();
    StopFlag.store(0);
    WakeCaptureThread();
    try {
        thread_ = std::thread([this] { CaptureThreadProc(); });
    } catch (const std::system_error&) {
        endedAtNs_.store(startedSteadyNs_);
        return false;
    }
    return true;
}

void CaptureSession::WakeCaptureThread() {
    flagChanges_.fetch_add(1);
    flagChanges_.notify_all();
}

void CaptureSession::Stop() {
    StopFlag.store(1);
    WakeCaptureThread();
    if (endpoint_) {
        endpoint_->Interrupt();
    }
    // A capture thread waiting for a batch's insertion is released without it.
    handoff_.Cancel();
    const bool joined = thread_.joinable();
    if (joined) {
        thread_.join();
    }
    // What was captured before Stop is not lost: the rows the thread could
    // not hand over go in now, before Stop returns, the older batch first.
    if (posted_ >= 0) {
        InsertBatchTask& task = tasks_[posted_];
        if (!task.ran) {
            InsertBatch(posted_);
        }
        RetirePosted();
    }
    if (!FillingEmpty()) {
        InsertBatch(filling_);
        ClearBatch(filling_);
    }
    if (endpoint_) {
        // The capture thread has left the endpoint: what it knows may be read now.
        if (joined) {
            endStats_ = endpoint_->Stats();
            endIpv6Error_ = endpoint_->Ipv6ErrorText();
        }
        fault_ = endpoint_->Fault();
        lastErrorText_ = endpoint_->ErrorText();
        endpoint_->Close();
        endpoint_.reset();
    }
}

void CaptureSession::CloseSocket() {
    // Closing under a thread that is inside a receive would free memory it is
    // using: interrupt now, release after the thread has gone.
    if (endpoint_) {
        endpoint_->Interrupt();
        if (!thread_.joinable()) {
            endpoint_->Close();
            endpoint_.reset();
        }
    }
}

void CaptureSession::RaisePause() {
    PauseFlag.store(1);
    WakeCaptureThread();
}

void CaptureSession::DropPause() {
    PauseFlag.store(0);
    WakeCaptureThread();
}

std::string CaptureSession::EndpointErrorText() const {
    return endpoint_ ? endpoint_->ErrorText() : lastErrorText_;
}

CaptureStats CaptureSession::EndpointStats() const {
    return endpoint_ ? endpoint_->Stats() : CaptureStats{};
}

CaptureFigures CaptureSession::Figures() const {
    CaptureFigures f;
    f.started = captureNumber_ != 0;
    if (!f.started) {
        return f;
    }
    const int64_t ended = endedAtNs_.load();
    f.running = thread_.joinable() && ended == 0;
    f.fromFile = startedFile_;
    f.source = startedSource_;
    f.startedAtNs = startedWallNs_;
    f.durationNs = (ended != 0 ? ended : SteadyClockNs()) - startedSteadyNs_;
    f.received = counters_.received.Get();
    f.filtered = counters_.filtered.Get();
    f.rows = counters_.rows.Get();
    f.emptied = counters_.emptied.Get();
    // Atomics of the endpoint while its thread may still be in it.
    const CaptureStats s = thread_.joinable() && endpoint_ ? endpoint_->Stats() : endStats_;
    f.kernelDrops = s.kernelDrops;
    f.kernelKnown = s.valid;
    f.bytesRead = s.bytesRead;
    f.fileBytes = s.fileBytes;
    f.ipv6Received = s.ipv6Received;
    f.ipv6KernelDrops = s.ipv6KernelDrops;
    // The error is written before the handle reads as closed: read after it.
    f.ipv6Error = s.ipv6Open                        ? std::string()
                  : thread_.joinable() && endpoint_ ? endpoint_->Ipv6ErrorText()
                                                    : endIpv6Error_;
    f.ipv6Handle = s.ipv6Open || s.ipv6Received != 0 || !f.ipv6Error.empty();
    return f;
}

int CaptureSession::CaptureThreadProc() {
    // Named, so that tools listing threads (top -H, perf) tell it apart.
    pthread_setname_np(pthread_self(), "capture");
    if (endpoint_) {
        endpoint_->SetWaitHook([this] { return BeforeWaiting(); });
    }
    PauseFlag.store(0);
    // One buffer per capture thread, zeroed once and reused for every datagram.
    auto buffer = std::make_unique<uint8_t[]>(kReceiveBufferSize);
    CaptureEndpoint* endpoint = endpoint_.get();
    bool exhausted = false;
    while (StopFlag.load() == 0) {
        const uint32_t seen = flagChanges_.load();
        if (PauseFlag.load() != 0) {
            // What came before the pause is shown before it.
            if (!HandOverAll()) {
                continue;
            }
            // Sleep until a flag changes instead of polling a core away.
            if (StopFlag.load() == 0 && PauseFlag.load() != 0) {
                flagChanges_.wait(seen);
            }
            continue;
        }
        const int length = endpoint ? endpoint->Receive(buffer.get(), kMaxDatagram) : -1;
        wake_.readSinceWait |= length >= 0;
        if (length > 0 && (buffer[0] >> 4) == 6) {
            // IPv6 counts in the conversations alone: the list, its figures
            // and a recording stay IPv4.
            datagramTimeNs_ = DatagramTimeNs();
            TapOnly(buffer.get(), length);
            continue;
        }
        if (length >= 0) {
            counters_.received.Add();
            datagramTimeNs_ = DatagramTimeNs();
            if (sink_) {
                sink_->Append(datagramTimeNs_, buffer.get(), static_cast<uint32_t>(length));
            }
        } else if (endpoint && endpoint->Exhausted()) {
            exhausted = true;
            break;
        }
        DecodePacket(buffer.get(), length);
        ShowPacket(buffer.get(), length);
    }
    // The end of a file shows its last rows; after a Stop, Stop inserts them.
    if (exhausted) {
        HandOverAll();
    }
    if (endpoint) {
        endpoint->CaptureEnded();
    }
    endedAtNs_.store(SteadyClockNs());
    // The interface thread carries out the rest of Stop's steps.
    if (exhausted && endedFd_ >= 0) {
        endedCapture_.store(captureNumber_, std::memory_order_release);
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(endedFd_, &one, sizeof one);
    }
    return 0;
}

bool CaptureSession::HandOverBatch() {
    if (posted_ >= 0) {
        // Handed over a period ago: normally in the list long since.
        if (!handoff_.WaitDone()) {
            return false;  // cancelled: Stop inserts both once the thread has gone
        }
        RetirePosted();
    }
    if (FillingEmpty()) {
        return true;
    }
    InsertBatchTask& task = tasks_[filling_];
    task.ran = false;
    if (!handoff_.Post(task)) {
        return false;
    }
    posted_ = filling_;
    filling_ ^= 1;
    lastHandOverNs_ = SteadyClockNs();
    return true;
}

bool CaptureSession::HandOverAll() {
    if (!HandOverBatch() || !handoff_.WaitDone()) {
        return false;
    }
    if (posted_ >= 0) {
        RetirePosted();
    }
    return true;
}

void CaptureSession::RetirePosted() {
    ClearBatch(posted_);
    posted_ = -1;
}

void CaptureSession::ClearBatch(int which) {
    batches_[which].Clear();
    tapOnly_[which] = false;
    if (tap_) {
        tap_->Clear(which);
    }
}

void CaptureSession::InsertBatch(int which) {
    const InsertOutcome outcome = InsertEventRows(list_, batches_[which]);
    // Counted as the rows reach the list, so that the figures never lag what
    // the list and the conversation counts show. Only the interface thread
    // inserts, so these counts still have one writer.
    counters_.rows.Add(outcome.inserted);
    counters_.emptied.Add(outcome.emptied);
    if (tap_) {
        tap_->Inserted(which);
    }
}

CaptureEndpoint::WaitPlan CaptureSession::BeforeWaiting() {
    // Everything the kernel had for us is read: a batch that is due goes now.
    int64_t now = SteadyClockNs();
    WeighTrafficWake(now);
    if (!FillingEmpty()) {
        if (now < batchDueNs_) {
            return PeriodWait(batchDueNs_, now);
        }
        HandOverBatch();
        now = SteadyClockNs();
    }
    // Rows would wait for the period since the last hand-off anyway: the
    // thread sleeps through it rather than waking for every block of
    // traffic, then takes what came in one go and hands it over. After a
    // quiet spell a datagram wakes it at once.
    const int64_t quietUntil = lastHandOverNs_ + kBatchPeriodNs;
    if (lastHandOverNs_ != 0 && now < quietUntil) {
        return PeriodWait(quietUntil, now);
    }
    // Quiet: the batch handed over last is counted before the wait, which
    // may be long.
    HandOverAll();
    wake_.lastWaitWoken = true;
    return {};
}

void CaptureSession::WeighTrafficWake(int64_t now) {
    if (!tap_) {
        return;
    }
    const uint64_t news = tap_->News();
    if (news != wake_.newsAtWait) {
        wake_.holdNs = 0;
        wake_.heldUntilNs = 0;
    } else if (wake_.readSinceWait && wake_.lastWaitWoken) {
        // Woken for traffic that a batch's end would have brought as well.
        wake_.holdNs =
            wake_.holdNs == 0 ? kFirstWakeHoldNs : std::min(wake_.holdNs * 2, kLongestWakeHoldNs);
        wake_.heldUntilNs = now + wake_.holdNs;
    }
    wake_.newsAtWait = news;
    wake_.readSinceWait = false;
}

CaptureEndpoint::WaitPlan CaptureSession::PeriodWait(int64_t until, int64_t now) {
    // Each wake-up costs tens of microseconds on a virtual machine: at 200
    // datagrams a second of one conversation, waking for each doubled what
    // the capture cost. Only the tap's news is worth it.
    if (!tap_ || now >= wake_.heldUntilNs) {
        wake_.lastWaitWoken = tap_ != nullptr;
        return {until - now, wake_.lastWaitWoken};
    }
    wake_.lastWaitWoken = false;
    return {std::min(until, wake_.heldUntilNs) - now, false};
}

void CaptureSession::TellCaptureEnded() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(endedFd_, &count, sizeof count);
    if (finished_) {
        finished_(endedCapture_.load(std::memory_order_acquire));
    }
}

int64_t CaptureSession::DatagramTimeNs() const {
    const int64_t captured = endpoint_->LastCaptureTimeNs();
    return captured != 0 ? captured : WallClockNs();
}

std::time_t CaptureSession::CaptureSecond() const {
    const int64_t ns = datagramTimeNs_;
    // Rounded down, also before 1970.
    return static_cast<std::time_t>(ns >= 0 ? ns / 1000000000 : -((-ns + 999999999) / 1000000000));
}

void CaptureSession::DecodePacket(uint8_t* buffer, int length) {
    ::DecodePacket(buffer, length, packetText_);
}

void CaptureSession::ShowPacket(uint8_t* buffer, int length) {
    if (length < 0) {
        return;
    }
    const FilterSettings filter = filter_.Load();
    // Each row shows its datagram's capture time: a file's own, the kernel's
    // for live traffic (a batch period at most before the row is built), so
    // that a saved list read back shows the same second.
    const std::time_t when = CaptureSecond();
    EventRow row;
    if (!BuildEventRow(buffer, length, packetText_, filter, threadLocalAddress_, when, workspace_,
                       row)) {
        if (length >= kMinIpv4Header) {
            counters_.filtered.Add();
        }
        return;
    }
    const int64_t now = SteadyClockNs();
    if (FillingEmpty()) {
        // A row after a quiet spell goes at once; rows that stream in wait for
        // the period since the last hand-off to pass.
        batchDueNs_ = std::max(now, lastHandOverNs_ + kBatchPeriodNs);
    }
    // Each row keeps its datagram and when it was captured.
    const int64_t captured = datagramTimeNs_;
    Filling().Add(row, captured, {buffer, static_cast<size_t>(length)});
    if (tap_ && tap_->Add(filling_, {buffer, static_cast<size_t>(length)}, captured)) {
        HandOverBatch();  // the tap's room is running out
        return;
    }
    // A due batch goes once the endpoint has nothing more to read (the wait
    // hook), so that it holds everything that came while the thread slept;
    // a source that never runs dry (a file, a flood) hands over here.
    if (now >= batchDueNs_ + kDrainSlackNs) {
        HandOverBatch();
    }
}

void CaptureSession::TapOnly(const uint8_t* buffer, int length) {
    if (!tap_ || !Ipv6PassesFilter(Ipv6View(buffer, length), filter_.Load())) {
        return;
    }
    // Timed and handed over as rows are, so that the counts keep pace.
    const int64_t now = SteadyClockNs();
    if (FillingEmpty()) {
        batchDueNs_ = std::max(now, lastHandOverNs_ + kBatchPeriodNs);
    }
    tapOnly_[filling_] = true;
    if (tap_->Add(filling_, {buffer, static_cast<size_t>(length)}, datagramTimeNs_)) {
        HandOverBatch();
        return;
    }
    if (now >= batchDueNs_ + kDrainSlackNs) {
        HandOverBatch();
    }
}
