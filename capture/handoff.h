#pragma once
// Carrying a piece of work from the capture thread to the interface thread
// and waiting for it, in a way that the interface thread can cancel: Stop and
// window destruction cancel a pending hand-off and wake the waiting capture
// thread, so neither thread ever waits for the other.
#include <QObject>
#include <condition_variable>
#include <mutex>

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
class UiHandoff final : public QObject, public RowHandoff {
    Q_OBJECT
  public:
    explicit UiHandoff(QObject* parent = nullptr);
    bool RunOnUiThread(UiTask& task) override;
    void Cancel() override;
    void Reset() override;

  private Q_SLOTS:
    void Drain();

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    UiTask* pending_ = nullptr;
    bool finished_ = false;
    bool cancelled_ = true;
};
