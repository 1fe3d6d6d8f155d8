#pragma once
// An endpoint that the test feeds datagram by datagram, and that tells which
// thread receives and whether a receive is under way.
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "capture/endpoint.h"

class FeedEndpoint : public CaptureEndpoint {
  public:
    int Open(std::string_view) override { return 0; }
    int Receive(uint8_t* buffer, int capacity) override {
        tid.store(static_cast<int>(syscall(SYS_gettid)));
        std::unique_lock lock(mutex_);
        const auto ready = [this] { return interrupted_ || !queue_.empty(); };
        while (!ready()) {
            // The hook may hand rows over, which takes the interface thread: not under our lock.
            lock.unlock();
            // Fed datagrams end a wait early even when the plan says they need
            // not: only a wasted wake-up.
            const WaitPlan plan = AboutToWait();
            const int64_t limit = plan.limitNs;
            lock.lock();
            plans_.push_back({taken.load(), plan});
            waiting.store(true);
            if (limit < 0)
                wake_.wait(lock, ready);
            else
                wake_.wait_for(lock, std::chrono::nanoseconds(limit), ready);
            waiting.store(false);
        }
        if (interrupted_) {
            refused.fetch_add(1);
            return -1;
        }
        auto d = std::move(queue_.front());
        queue_.pop_front();
        taken.fetch_add(1);
        const size_t n = std::min(d.size(), static_cast<size_t>(capacity));
        std::memcpy(buffer, d.data(), n);
        return static_cast<int>(n);
    }
    void Interrupt() override {
        {
            std::lock_guard lock(mutex_);
            interrupted_ = true;
        }
        wake_.notify_all();
    }
    void Close() override { closes.fetch_add(1); }
    void Feed(std::vector<uint8_t> d) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(d));
        }
        wake_.notify_all();
    }

    // The wait plans the session gave, each with how many datagrams had
    // been taken when it did.
    struct Plan {
        int taken = 0;
        WaitPlan plan;
    };
    std::vector<Plan> Plans() {
        std::lock_guard lock(mutex_);
        return plans_;
    }

    std::atomic<int> tid{0};
    std::atomic<bool> waiting{false};
    std::atomic<int> taken{0};
    std::atomic<int> closes{0};
    std::atomic<int> refused{0};  // receives failed after Interrupt

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::vector<uint8_t>> queue_;
    bool interrupted_ = false;
    std::vector<Plan> plans_;
};
