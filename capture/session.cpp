#include "capture/session.h"

#include "capture/privileges.h"

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

namespace {

// The insertion of one row with all its cells, run on the interface thread.
class InsertRowTask final : public UiTask {
  public:
    InsertRowTask(EventList& list, const EventRow& row) : list_(list), row_(row) {}
    void Run() override { InsertEventRow(list_, row_); }

  private:
    EventList& list_;
    const EventRow& row_;
};

}  // namespace

CaptureSession::CaptureSession(RowHandoff& handoff, EventList& list, EndpointFactory factory)
    : handoff_(handoff), list_(list), factory_(std::move(factory)) {}

CaptureSession::~CaptureSession() {
    Destroy();
}

int CaptureSession::OpenCaptureSocket() {
    // The running capture thread is inside the current endpoint.
    if (thread_.joinable()) {
        return EBUSY;
    }
    endpoint_ = factory_ ? factory_() : nullptr;
    if (!endpoint_) {
        return ENODEV;
    }
    // The capture capability is effective only for the open itself.
    CaptureCapabilityScope capability;
    return endpoint_->Open(localAddress_);
}

bool CaptureSession::StartCaptureThread() {
    if (thread_.joinable()) {
        return false;
    }
    handoff_.Reset();
    threadLocalAddress_ = localAddress_;
    StopFlag.store(0);
    WakeCaptureThread();
    try {
        thread_ = std::thread([this] { CaptureThreadProc(); });
    } catch (const std::system_error&) {
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
    // A capture thread waiting for a row insertion is released without it.
    handoff_.Cancel();
    if (thread_.joinable()) {
        thread_.join();
    }
    if (endpoint_) {
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
    return endpoint_ ? endpoint_->ErrorText() : std::string();
}

CaptureStats CaptureSession::EndpointStats() const {
    return endpoint_ ? endpoint_->Stats() : CaptureStats{};
}

int CaptureSession::CaptureThreadProc() {
    handoff_.CaptureThreadStarts();
    PauseFlag.store(0);
    // One buffer per capture thread, zeroed once and reused for every datagram.
    auto buffer = std::make_unique<uint8_t[]>(kReceiveBufferSize);
    CaptureEndpoint* endpoint = endpoint_.get();
    while (StopFlag.load() == 0) {
        const uint32_t seen = flagChanges_.load();
        if (PauseFlag.load() != 0) {
            // Sleep until a flag changes instead of polling a core away.
            if (StopFlag.load() == 0) {
                flagChanges_.wait(seen);
            }
            continue;
        }
        const int length = endpoint ? endpoint->Receive(buffer.get(), kMaxDatagram) : -1;
        if (length >= 0) {
            datagramsReceived_.fetch_add(1, std::memory_order_relaxed);
        }
        DecodePacket(buffer.get(), length);
        ShowPacket(buffer.get(), length);
    }
    return 0;
}

void CaptureSession::DecodePacket(uint8_t* buffer, int length) {
    ::DecodePacket(buffer, length, packetText_);
}

void CaptureSession::ShowPacket(uint8_t* buffer, int length) {
    if (length < 0) {
        return;
    }
    const FilterSettings filter = filter_.Load();
    EventRow row;
    if (!BuildEventRow(buffer, length, packetText_, filter, threadLocalAddress_, std::time(nullptr),
                       workspace_, row)) {
        return;
    }
    InsertRowTask task(list_, row);
    if (handoff_.RunOnUiThread(task)) {
        rowsInserted_.fetch_add(1, std::memory_order_relaxed);
    }
}
