#include "capture/handoff.h"

#include <QMetaObject>

UiHandoff::UiHandoff(QObject* parent) : QObject(parent) {}

bool UiHandoff::RunOnUiThread(UiTask& task) {
    std::unique_lock lock(mutex_);
    if (cancelled_) {
        return false;
    }
    pending_ = &task;
    finished_ = false;
    // Queued by name so that nothing of ours is allocated here and freed there.
    QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
    done_.wait(lock, [this] { return finished_ || cancelled_; });
    const bool ran = finished_;
    pending_ = nullptr;
    return ran;
}

void UiHandoff::Drain() {
    UiTask* task = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_ || pending_ == nullptr || finished_) {
            return;
        }
        task = pending_;
    }
    // The capture thread is blocked until `finished_`, so the task's data is stable.
    task->Run();
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    done_.notify_one();
}

void UiHandoff::Cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        pending_ = nullptr;
    }
    done_.notify_all();
}

void UiHandoff::Reset() {
    std::lock_guard lock(mutex_);
    cancelled_ = false;
    finished_ = false;
    pending_ = nullptr;
}
