#pragma once
// Carrying a piece of work from the capture thread to the interface thread
// and waiting for it, in a way that the interface thread can cancel: Stop and
// window destruction cancel a pending hand-off and wake the waiting capture
// thread, so neither thread ever waits for the other.
#include <QObject>
#include <atomic>
#include <cstdint>

class QSocketNotifier;

class UiTask {
  public:
    virtual void Run() = 0;

  protected:
    ~UiTask() = default;
};

class RowHandoff {
  public:
    virtual ~RowHandoff() = default;
    // Capture thread: `task` is to run on the interface thread; returns at
    // once, false when the hand-off is cancelled. One task at a time: the
    // capture thread waits for it (WaitDone) before it posts the next.
    virtual bool Post(UiTask& task) = 0;
    // Capture thread: until the posted task has run (true), or the hand-off
    // is cancelled without running it (false). True when nothing is posted.
    virtual bool WaitDone() = 0;
    // Both: runs `task` on the interface thread and waits for it.
    bool RunOnUiThread(UiTask& task) { return Post(task) && WaitDone(); }
    // Interface thread: the pending and every later hand-off return false
    // without running, until Reset.
    virtual void Cancel() {}
    virtual void Reset() {}
};

// Runs the task on the calling thread (benchmarks, fuzzing, single-thread tests).
class DirectHandoff final : public RowHandoff {
  public:
    bool Post(UiTask& task) override {
        task.Run();
        return true;
    }
    bool WaitDone() override { return true; }
};

// The real hand-off. The object must be made on the interface thread, which
// must run an event loop.
//
// The capture thread hands over a batch of rows about a dozen times a second:
// the posted task wakes the event loop through an eventfd it watches, and the
// capture thread, which goes on with the next batch meanwhile, finds it done
// when it comes to post the next, or sleeps on a futex until it is. Neither
// spins: on a machine whose cores are busy with other work, a spinning thread
// would take a core from the thread it waits for.
class UiHandoff final : public QObject, public RowHandoff {
    Q_OBJECT
  public:
    explicit UiHandoff(QObject* parent = nullptr);
    ~UiHandoff() override;

    bool Post(UiTask& task) override;
    bool WaitDone() override;
    void Cancel() override;
    void Reset() override;

    // Tasks run so far, for benchmarks and tests.
    uint64_t TasksRun() const { return tasksRun_.load(std::memory_order_relaxed); }

  private:
    enum Phase : uint32_t { kIdle, kPosted, kDone, kCancelled };

    void RunPosted();

    std::atomic<uint32_t> phase_{kIdle};  // also the futex the capture thread sleeps on
    std::atomic<bool> cancelled_{true};
    // Written by the capture thread before it publishes kPosted.
    UiTask* task_ = nullptr;
    int wakeFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::atomic<uint64_t> tasksRun_{0};
};
