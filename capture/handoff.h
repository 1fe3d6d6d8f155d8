#pragma once
// Carrying a piece of work from the capture thread to the interface thread
// and waiting for it, in a way that the interface thread can cancel: Stop and
// window destruction cancel a pending hand-off and wake the waiting capture
// thread, so neither thread ever waits for the other.
#include <QObject>
#include <atomic>
#include <chrono>
#include <cstdint>

class QSocketNotifier;

// Asks the scheduler for short time slices for the calling thread: with
// other work on every core, a thread woken for a row then runs at once
// instead of after the running task's slice. Its share of the CPU is
// unchanged. Best effort: kernels without per-task slices ignore it.
void RequestShortTimeSlices();

class UiTask {
  public:
    virtual void Run() = 0;

  protected:
    ~UiTask() = default;
};

class RowHandoff {
  public:
    virtual ~RowHandoff() = default;
    // Capture thread: runs `task` on the interface thread and waits for it.
    // Returns false, without running it, when the hand-off is cancelled.
    virtual bool RunOnUiThread(UiTask& task) = 0;
    // Interface thread: the pending and every later hand-off return false
    // without running, until Reset.
    virtual void Cancel() {}
    virtual void Reset() {}
    // The capture thread, first thing: how it should be scheduled.
    virtual void CaptureThreadStarts() {}
};

// Runs the task on the calling thread (benchmarks, fuzzing, single-thread tests).
class DirectHandoff final : public RowHandoff {
  public:
    bool RunOnUiThread(UiTask& task) override {
        task.Run();
        return true;
    }
};

// The real hand-off. The object must be made on the interface thread, which
// must run an event loop.
//
// Both threads wait by blocking, so that on a machine whose cores are busy
// with other work a row costs at most one wake-up of each thread and never a
// scheduler time slice. A row posted while the interface thread is in its
// event loop wakes the loop through an eventfd; the interface thread then
// stays in `Drain` for a few milliseconds, asleep between rows, and each next
// row wakes it directly.
//
// Spinning is brief and happens only while the other thread is awake: the
// capture thread spins for a row the interface thread is running, and the
// interface thread for the next row of a capture thread that has just been
// released. Each side halves its spin after a spin that found nothing, so on
// a crowded machine, where the other thread is often awake but without a
// core, both soon just sleep; a wait that would have been short restores it.
class UiHandoff final : public QObject, public RowHandoff {
    Q_OBJECT
  public:
    using Clock = std::chrono::steady_clock;

    struct Timing {
        // How long the interface thread waits, asleep, in `Drain` for the
        // next row, and the longest it stays away from its event loop.
        std::chrono::microseconds linger{2000};
        std::chrono::microseconds slice{5000};
        // The longest spin of each thread for the other.
        std::chrono::microseconds spin{20};
        // Both threads ask for short time slices.
        bool shortSlices = true;
    };

    explicit UiHandoff(QObject* parent = nullptr);
    explicit UiHandoff(Timing timing, QObject* parent = nullptr);
    ~UiHandoff() override;

    bool RunOnUiThread(UiTask& task) override;
    void Cancel() override;
    void Reset() override;
    void CaptureThreadStarts() override;

    // How rows were carried, for benchmarks and tests.
    struct Counters {
        uint64_t loopWakes = 0;      // the event loop had to be woken
        uint64_t directWakes = 0;    // the interface thread was woken in Drain
        uint64_t uiSpinHits = 0;     // the interface thread found the row spinning
        uint64_t captureSleeps = 0;  // the capture thread slept for the row's end
    };
    Counters Count() const;

  private:
    enum Phase : uint32_t { kIdle, kPosted, kDone, kCancelled };
    // Where the interface thread is, as the capture thread needs to know it.
    enum UiState : uint32_t { kAway, kAwake, kAsleep };

    // A spin whose length adapts to how often it pays.
    class SpinBudget {
      public:
        explicit SpinBudget(std::chrono::nanoseconds most) : most_(most), now_(most) {}
        std::chrono::nanoseconds Get() const { return now_; }
        void Failed() { now_ = now_ < std::chrono::nanoseconds(500) ? decltype(now_){} : now_ / 2; }
        // The other thread took `waited` to answer: a full spin would have
        // caught an answer as quick as that.
        void Waited(std::chrono::nanoseconds waited) {
            if (waited <= most_)
                now_ = most_;
        }

      private:
        std::chrono::nanoseconds most_, now_;
    };

    void Drain();
    // Spins briefly (never past `sliceEnd`), then sleeps until `until`.
    bool WaitForPost(Clock::time_point until, Clock::time_point sliceEnd);
    bool RunPosted();
    void WakeEventLoop();

    const Timing timing_;
    std::atomic<uint32_t> phase_{kIdle};  // also the futex both threads sleep on
    std::atomic<uint32_t> ui_{kAway};
    std::atomic<bool> captureAsleep_{false};
    std::atomic<bool> captureAwake_{false};  // released from a row, not yet posting the next
    std::atomic<bool> cancelled_{true};
    std::atomic<bool> wakePending_{false};  // an eventfd write the loop has not read yet
    // Written by the capture thread before it publishes kPosted.
    UiTask* task_ = nullptr;
    Clock::time_point postedAt_;
    // Written by the interface thread before it publishes kDone.
    Clock::time_point doneAt_;
    SpinBudget captureSpin_;  // capture thread only
    SpinBudget uiSpin_;       // interface thread only
    int wakeFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;

    std::atomic<uint64_t> loopWakes_{0}, directWakes_{0}, uiSpinHits_{0}, captureSleeps_{0};
};
