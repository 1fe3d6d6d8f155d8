#include "capture/handoff.h"

#include <sched.h>

#include <QMetaObject>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Busy waiting that stays polite: a few microseconds of pauses, then the core
// is offered to others on each turn, so that on a crowded machine the thread
// being waited for can run, even on this very core.
class Backoff {
  public:
    void Pause() {
        if (++turns_ < 64) {
            CpuRelax();
        } else {
            sched_yield();
        }
    }

  private:
    int turns_ = 0;
};

// How long the interface thread waits for the next row before it goes back to
// its event loop, and the longest it stays away from that loop.
constexpr std::chrono::microseconds kLinger{50};
constexpr std::chrono::microseconds kSlice{4000};

// Long enough for one row insertion, or the emptying of a full list, to finish
// on the interface thread while the capture thread spins.
constexpr std::chrono::microseconds kWaitSpin{300};

}  // namespace

UiHandoff::UiHandoff(QObject* parent) : QObject(parent) {}

bool UiHandoff::RunOnUiThread(UiTask& task) {
    if (cancelled_.load()) {
        return false;
    }
    task_ = &task;
    // Rows are streaming when this one was ready soon after the last was done:
    // the datagram was waiting already. Measured here, so that no wake-up
    // latency of either thread counts.
    streaming_ = Clock::now() - resumedAt_ < kLinger;
    // Sequentially consistent with the interface thread's store of `listening_`
    // and its later look at `phase_`: a row is never left without a taker.
    phase_.store(kPosted);
    const bool listening = listening_.load();
    if (!listening) {
        // Queued by name so that nothing of ours is allocated here and freed there.
        QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
    }
    uint32_t phase = phase_.load(std::memory_order_acquire);
    // More rows are coming at once: stay awake for this one's end.
    if (listening || streaming_) {
        const auto until = Clock::now() + kWaitSpin;
        Backoff backoff;
        while (phase == kPosted && !cancelled_.load(std::memory_order_relaxed) &&
               Clock::now() < until) {
            backoff.Pause();
            phase = phase_.load(std::memory_order_acquire);
        }
    }
    for (;;) {
        if (phase == kDone) {
            resumedAt_ = Clock::now();
            return true;
        }
        if (phase == kCancelled) {
            return false;
        }
        // Cancel moves kPosted to kCancelled; the flag covers a Cancel that
        // came between the first look at it and the store of kPosted. The row
        // may have been done just before the Cancel: look again, since after
        // it nothing more is run.
        if (cancelled_.load()) {
            if (phase_.load(std::memory_order_acquire) != kDone) {
                return false;
            }
            phase = kDone;
            continue;
        }
        phase_.wait(kPosted, std::memory_order_acquire);
        phase = phase_.load(std::memory_order_acquire);
    }
}

bool UiHandoff::RunPosted() {
    if (cancelled_.load() || phase_.load(std::memory_order_acquire) != kPosted) {
        return false;
    }
    // The capture thread waits until kDone, so the task's data is stable.
    task_->Run();
    lastDone_ = Clock::now();
    phase_.store(kDone, std::memory_order_release);
    phase_.notify_one();
    return true;
}

bool UiHandoff::WaitForPosted(Clock::time_point until) const {
    Backoff backoff;
    for (;;) {
        if (phase_.load(std::memory_order_acquire) == kPosted) {
            return true;
        }
        if (cancelled_.load(std::memory_order_relaxed) || Clock::now() >= until) {
            return false;
        }
        backoff.Pause();
    }
}

void UiHandoff::Drain() {
    if (phase_.load(std::memory_order_acquire) != kPosted) {
        return;  // taken already by an earlier Drain
    }
    const bool streaming = streaming_;
    if (!RunPosted() || !streaming) {
        return;
    }
    const Clock::time_point sliceEnd = lastDone_ + kSlice;
    listening_.store(true);
    while (WaitForPosted(lastDone_ + kLinger) && RunPosted() && lastDone_ < sliceEnd) {
    }
    listening_.store(false);
    // A row posted while listening ended had no event sent for it.
    if (!cancelled_.load() && phase_.load() == kPosted) {
        QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
    }
}

void UiHandoff::Cancel() {
    cancelled_.store(true);
    uint32_t expected = kPosted;
    // Only a waiting capture thread is turned away; a row already done stays done.
    phase_.compare_exchange_strong(expected, kCancelled);
    phase_.notify_all();
}

void UiHandoff::Reset() {
    // Called with no capture thread running.
    phase_.store(kIdle);
    cancelled_.store(false);
}
