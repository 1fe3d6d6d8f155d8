#pragma once
// Carrying a piece of work from the capture thread to the interface thread
// and waiting for it, in a way that the interface thread can cancel: Stop and
// window destruction cancel a pending hand-off and wake the waiting capture
// thread, so neither thread ever waits for the other.
#include <sched.h>

#include <QObject>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "capture/contention.h"

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
    // The capture thread is about to wait for traffic: no row is coming soon.
    virtual void CaptureIdle() {}
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
// Spinning is brief and happens only while the other thread is awake and
// the machine has cores to spare, so that the other thread is on one: the
// capture thread spins for a row the interface thread is running, and the
// interface thread for the next row of a capture thread that has just been
// released. Each side also halves its spin after a spin that found nothing
// (the capture thread went to wait for the network), and a quick answer
// restores it.
//
// When other work takes the cores, both only sleep, and then they never run
// at the same time: each waits while the other works. They are kept on one
// core then, where waking the other is a switch on that core; waking a thread
// on another, busy core costs far more (an interrupt to that core and the
// preemption of whatever runs there). The same holds while rows only trickle
// in: one core carries both, and each row costs two switches on it instead of
// two wake-ups across cores, which on a virtual machine cost more CPU than
// the row itself. They are free to spread again once cores are free and rows
// stream in.
class UiHandoff final : public QObject, public RowHandoff {
    Q_OBJECT
  public:
    using Clock = std::chrono::steady_clock;

    struct Timing {
        // How long the interface thread waits at most, asleep, in `Drain`
        // for the next row (the capture thread tells it sooner when it is
        // going to wait for traffic), and how long it goes on taking rows
        // before it returns to its event loop.
        std::chrono::microseconds linger{20000};
        std::chrono::microseconds slice{5000};
        // The longest spin of each thread for the other. It must outlast a
        // wake-up on another core, which on virtual machines takes 30-50 us:
        // a shorter spin lets a thread just woken for a row find its partner
        // gone to sleep, and then every row costs two wake-ups.
        std::chrono::microseconds spin{50};
        // Both threads ask for short time slices.
        bool shortSlices = true;
        // While the cores are contended, or rows only trickle in, both
        // threads are kept on one.
        bool keepTogether = true;
    };

    explicit UiHandoff(QObject* parent = nullptr);
    explicit UiHandoff(Timing timing, QObject* parent = nullptr);
    ~UiHandoff() override;

    bool RunOnUiThread(UiTask& task) override;
    void Cancel() override;
    void Reset() override;
    void CaptureThreadStarts() override;
    void CaptureIdle() override;

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

    // Whether rows come slowly enough for one core to carry both threads
    // (a trickle), given the rate over the last period and whether they came
    // slowly before: the threads join one core below 10,000 rows a second
    // and spread again above 20,000 (one core carried 50,000 small rows a
    // second in the live benchmark), so that a rate in between does not
    // flap.
    static bool Trickle(double rowsPerSecond, bool wasTrickle) {
        return rowsPerSecond < (wasTrickle ? 20000.0 : 10000.0);
    }
    void Drain();
    // Interface thread: keeps both threads on its own core while the cores
    // are contended or rows trickle in, and lets them go again after.
    void KeepTogether(bool together);
    // Interface thread: the row rate since the last look, every period.
    void SampleRate(Clock::time_point now);
    // Spinning pays only while the other thread has a core of its own:
    // the cores are free and the two are not kept on one.
    bool SpinPays() const {
        return !contention_.Contended() && sharedCore_.load(std::memory_order_relaxed) < 0;
    }
    // Spins briefly (never past `sliceEnd`), then sleeps until `until`, or
    // until the capture thread says it waits for traffic.
    bool WaitForPost(Clock::time_point until, Clock::time_point sliceEnd);
    bool RunPosted();
    void WakeEventLoop();

    const Timing timing_;
    std::atomic<uint32_t> phase_{kIdle};  // also the futex both threads sleep on
    std::atomic<uint32_t> ui_{kAway};
    std::atomic<bool> captureAsleep_{false};
    std::atomic<bool> captureAwake_{false};  // released from a row, not yet posting the next
    std::atomic<bool> captureIdle_{false};   // waiting for traffic, or paused
    std::atomic<bool> cancelled_{true};
    std::atomic<bool> wakePending_{false};  // an eventfd write the loop has not read yet
    // Written by the capture thread before it publishes kPosted.
    UiTask* task_ = nullptr;
    Clock::time_point postedAt_;
    // Written by the interface thread before it publishes kDone.
    Clock::time_point doneAt_;
    // Interface thread only: rows run, and the rate's last look.
    uint64_t rowsRun_ = 0, rowsAtLook_ = 0;
    Clock::time_point rateLookAt_{};
    bool trickle_ = true;
    SpinBudget captureSpin_;  // capture thread only
    SpinBudget uiSpin_;       // interface thread only
    CoreContention contention_;
    std::atomic<int> captureTid_{0};   // the capture thread's, once it has started
    std::atomic<int> sharedCore_{-1};  // the core both are kept on, or -1
    cpu_set_t uiCores_;                // the interface thread's own, to go back to
    int wakeFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;

    std::atomic<uint64_t> loopWakes_{0}, directWakes_{0}, uiSpinHits_{0}, captureSleeps_{0};
};
