#include "capture/handoff.h"

#include <linux/futex.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <climits>

namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));

uint32_t* FutexWord(std::atomic<uint32_t>& word) {
    return reinterpret_cast<uint32_t*>(&word);
}

// Sleeps while `word` still holds `seen`. Returns at once when the word has
// changed already, so a wake-up that came between the caller's look and the
// sleep is never lost. (std::atomic::wait would spin and yield first.)
void FutexWait(std::atomic<uint32_t>& word, uint32_t seen) {
    syscall(SYS_futex, FutexWord(word), FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
}

void FutexWakeAll(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, FutexWord(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

}  // namespace

UiHandoff::UiHandoff(QObject* parent) : QObject(parent) {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ >= 0) {
        notifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
            RunPosted();
        });
    }
}

UiHandoff::~UiHandoff() {
    delete notifier_;
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

bool UiHandoff::Post(UiTask& task) {
    if (cancelled_.load() || wakeFd_ < 0) {
        return false;
    }
    task_ = &task;
    // Sequentially consistent with Cancel's store of the flag and its
    // exchange of the phase: a Cancel either sees kPosted or WaitDone sees the flag.
    phase_.store(kPosted);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    return true;
}

bool UiHandoff::WaitDone() {
    for (;;) {
        const uint32_t phase = phase_.load(std::memory_order_acquire);
        if (phase == kDone || phase == kIdle) {
            return true;
        }
        if (phase == kCancelled) {
            return false;
        }
        // A Cancel between the first look at the flag and the store of
        // kPosted found nothing to turn away.
        if (cancelled_.load()) {
            uint32_t expected = kPosted;
            if (phase_.compare_exchange_strong(expected, kCancelled)) {
                return false;
            }
            continue;  // done just now, or cancelled by Cancel itself
        }
        FutexWait(phase_, kPosted);
    }
}

void UiHandoff::RunPosted() {
    if (cancelled_.load() || phase_.load(std::memory_order_acquire) != kPosted) {
        return;
    }
    // The capture thread waits until kDone, so the task's data is stable.
    task_->Run();
    tasksRun_.fetch_add(1, std::memory_order_relaxed);
    uint32_t expected = kPosted;
    phase_.compare_exchange_strong(expected, kDone);
    FutexWakeAll(phase_);
}

void UiHandoff::Cancel() {
    cancelled_.store(true);
    // Only a waiting capture thread is turned away; a task already done stays done.
    uint32_t expected = kPosted;
    phase_.compare_exchange_strong(expected, kCancelled);
    FutexWakeAll(phase_);
}

void UiHandoff::Reset() {
    // Called with no capture thread running.
    phase_.store(kIdle);
    cancelled_.store(false);
}
