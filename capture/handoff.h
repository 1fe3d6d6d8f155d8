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
    // Capture thread: runs `task` on the interface thread and waits for it.
    // Returns false, without running it, when the hand-off is cancelled.
    virtual bool RunOnUiThread(UiTask& task) = 0;
    // Interface thread: the pending and every later hand-off return false
    // without running, until Reset.
    virtual void Cancel() {}
    virtual void Reset() {}
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
// The capture thread hands over a batch of rows at most about fifteen times a
// second, so a hand-off costs one wake-up of each thread: the posted task
// wakes the event loop through an eventfd it watches, and the capture thread
// sleeps on a futex until the task has run. Neither spins: on a machine whose
// cores are busy with other work, a spinning thread would take a core from
// the thread it waits for.
class UiHandoff final : public QObject, public RowHandoff {
    Q_OBJECT
  public:
    explicit UiHandoff(QObject* parent = nullptr);
    ~UiHandoff() override;

    bool RunOnUiThread(UiTask& task) override;
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
