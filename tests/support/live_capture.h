#pragma once
// A live capture on an address of the test's network, read on a thread of
// its own as the capture thread reads: each datagram is handed to `take`
// under a lock, which the test (in the interface thread's place) holds too
// while it hands over what was taken.
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "capture/endpoint.h"

class LiveCapture {
  public:
    using Take = std::function<void(std::span<const uint8_t> datagram, int64_t captureTimeNs)>;

    LiveCapture(const std::string& address, Take take) : take_(std::move(take)) {
        endpoint_ = MakeLiveEndpoint();
        opened_ = endpoint_->Open(address) == 0;
        if (opened_)
            thread_ = std::thread([this] { Capture(); });
    }
    LiveCapture(const LiveCapture&) = delete;
    LiveCapture& operator=(const LiveCapture&) = delete;
    ~LiveCapture() {
        endpoint_->Interrupt();
        if (thread_.joinable())
            thread_.join();
        endpoint_->Close();
    }

    bool Opened() const { return opened_; }
    // Runs `f` while no datagram is being taken.
    template <class F>
    void Locked(F&& f) {
        std::lock_guard lock(mutex_);
        f();
    }

  private:
    void Capture() {
        std::vector<uint8_t> buffer(70000);
        for (;;) {
            const int n = endpoint_->Receive(buffer.data(), static_cast<int>(buffer.size()));
            if (n < 0)
                return;
            std::lock_guard lock(mutex_);
            take_(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)),
                  endpoint_->LastCaptureTimeNs());
        }
    }

    Take take_;
    std::unique_ptr<CaptureEndpoint> endpoint_;
    bool opened_ = false;
    std::mutex mutex_;
    std::thread thread_;
};

// Runs `step` every 20 ms until it returns true, for up to a minute (a
// bound, not a measure); whether it did.
inline bool PollUntil(const std::function<bool()>& step) {
    for (int i = 0; i < 3000; ++i) {
        if (step())
            return true;
        usleep(20000);
    }
    return false;
}
