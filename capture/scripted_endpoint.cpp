#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "capture/endpoint.h"

namespace {

class ScriptedEndpoint final : public CaptureEndpoint {
  public:
    explicit ScriptedEndpoint(ScriptedTraffic traffic) : traffic_(std::move(traffic)) {}

    int Open(std::string_view) override { return traffic_.openResult; }

    int Receive(uint8_t* buffer, int capacity) override {
        std::unique_lock lock(mutex_);
        if (next_ >= traffic_.datagrams.size() && traffic_.repeat && !traffic_.datagrams.empty()) {
            next_ = 0;
        }
        if (interrupted_) {
            return -1;
        }
        if (next_ < traffic_.datagrams.size()) {
            const auto& d = traffic_.datagrams[next_++];
            const size_t n = std::min(d.size(), static_cast<size_t>(capacity));
            std::memcpy(buffer, d.data(), n);
            ++delivered_;
            return static_cast<int>(n);
        }
        // Nothing more to say: behave like a quiet network until interrupted.
        while (!interrupted_) {
            lock.unlock();
            const int64_t limit = AboutToWait().limitNs;
            lock.lock();
            if (limit < 0) {
                wake_.wait(lock, [this] { return interrupted_; });
            } else {
                wake_.wait_for(lock, std::chrono::nanoseconds(limit),
                               [this] { return interrupted_; });
            }
        }
        return -1;
    }

    void Interrupt() override {
        {
            std::lock_guard lock(mutex_);
            interrupted_ = true;
        }
        wake_.notify_all();
    }

    void Close() override {}

    CaptureStats Stats() const override {
        std::lock_guard lock(mutex_);
        return CaptureStats{delivered_, 0, true};
    }

  private:
    ScriptedTraffic traffic_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    size_t next_ = 0;
    uint64_t delivered_ = 0;
    bool interrupted_ = false;
};

}  // namespace

std::unique_ptr<CaptureEndpoint> MakeScriptedEndpoint(ScriptedTraffic traffic) {
    return std::make_unique<ScriptedEndpoint>(std::move(traffic));
}
