#pragma once
// Carrying a piece of work from the capture thread to the interface thread
// and waiting for it, in a way that the interface thread can cancel: Stop and
// window destruction cancel a pending hand-off and wake the waiting capture
// thread, so neither thread ever waits for the other.
#include <QObject>
#include <atomic>
#include <chrono>
#include <cstdint>

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

// The real hand-off. The object must live in the interface thread.
//
// While rows stream in, the interface thread stays in `Drain` for a few
// milliseconds at a time and picks each next row up as soon as it is posted,
// and the capture thread waits for the insertion by spinning briefly: a row
// then costs neither thread a sleep and a wake-up. When rows come slowly,
// each one is posted as an event and waited for by sleeping.
class UiHandoff final : public QObject, public RowHandoff {
    Q_OBJECT
  public:
    using Clock = std::chrono::steady_clock;
    explicit UiHandoff(QObject* parent = nullptr);
    bool RunOnUiThread(UiTask& task) override;
    void Cancel() override;
    void Reset() override;

  private Q_SLOTS:
    void Drain();

  private:
    enum Phase : uint32_t { kIdle, kPosted, kDone, kCancelled };
    bool RunPosted();
    bool WaitForPosted(Clock::time_point until) const;

    std::atomic<uint32_t> phase_{kIdle};
    std::atomic<bool> cancelled_{true};
    std::atomic<bool> listening_{false};  // the interface thread is waiting in Drain
    // Written by the capture thread before it publishes kPosted.
    UiTask* task_ = nullptr;
    bool streaming_ = false;
    // Capture thread only: when the last hand-off returned.
    Clock::time_point resumedAt_;
    // Interface thread only.
    Clock::time_point lastDone_;
};
