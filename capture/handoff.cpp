#include "capture/handoff.h"

#include <linux/futex.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>

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

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));

uint32_t* FutexWord(std::atomic<uint32_t>& word) {
    return reinterpret_cast<uint32_t*>(&word);
}

// Sleeps while `word` still holds `seen`, for at most `timeout` when one is
// given. Returns at once when the word has changed already, so a wake-up that
// came between the caller's look and the sleep is never lost.
void FutexWait(std::atomic<uint32_t>& word, uint32_t seen,
               const std::chrono::nanoseconds* timeout) {
    timespec ts{};
    if (timeout != nullptr) {
        const auto ns = std::max<int64_t>(timeout->count(), 0);
        ts.tv_sec = static_cast<time_t>(ns / 1000000000);
        ts.tv_nsec = static_cast<long>(ns % 1000000000);
    }
    syscall(SYS_futex, FutexWord(word), FUTEX_WAIT_PRIVATE, seen, timeout ? &ts : nullptr, nullptr,
            0);
}

void FutexWakeAll(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, FutexWord(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

void Bump(std::atomic<uint64_t>& counter) {
    counter.fetch_add(1, std::memory_order_relaxed);
}

// The kernel's sched_attr, which glibc 2.36 does not declare.
struct SchedAttr {
    uint32_t size;
    uint32_t policy;
    uint64_t flags;
    int32_t nice;
    uint32_t priority;
    uint64_t runtime;  // for the fair class: the task's slice, 0.1 to 100 ms
    uint64_t deadline;
    uint64_t period;
};

// Keeps a thread (0: the calling one) on one core.
void PinToCore(pid_t tid, int core) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(core, &one);
    sched_setaffinity(tid, sizeof one, &one);
}

}  // namespace

void RequestShortTimeSlices() {
    SchedAttr attr{};
    attr.size = sizeof attr;
    attr.policy = SCHED_OTHER;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    attr.nice = errno == 0 ? nice : 0;
    attr.runtime = 100'000;  // the shortest the kernel takes
    syscall(SYS_sched_setattr, 0, &attr, 0);
}

UiHandoff::UiHandoff(QObject* parent) : UiHandoff(Timing{}, parent) {}

UiHandoff::UiHandoff(Timing timing, QObject* parent)
    : QObject(parent), timing_(timing), captureSpin_(timing.spin), uiSpin_(timing.spin) {
    if (timing_.shortSlices) {
        RequestShortTimeSlices();
    }
    if (sched_getaffinity(0, sizeof uiCores_, &uiCores_) != 0) {
        CPU_ZERO(&uiCores_);
        for (int core = 0; core < CPU_SETSIZE; ++core) {
            CPU_SET(core, &uiCores_);
        }
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ >= 0) {
        notifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
    }
}

UiHandoff::~UiHandoff() {
    KeepTogether(false);
    delete notifier_;
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

UiHandoff::Counters UiHandoff::Count() const {
    return {loopWakes_.load(std::memory_order_relaxed),
            directWakes_.load(std::memory_order_relaxed),
            uiSpinHits_.load(std::memory_order_relaxed),
            captureSleeps_.load(std::memory_order_relaxed)};
}

void UiHandoff::CaptureThreadStarts() {
    if (timing_.shortSlices) {
        RequestShortTimeSlices();
    }
    captureTid_.store(static_cast<int>(syscall(SYS_gettid)));
    // Started while the two are kept together: join the interface thread.
    if (const int core = sharedCore_.load(); core >= 0) {
        PinToCore(0, core);
    }
}

void UiHandoff::KeepTogether(bool together) {
    if (together == (sharedCore_.load() >= 0)) {
        return;
    }
    const pid_t capture = captureTid_.load();
    if (together) {
        const int core = sched_getcpu();
        if (core < 0) {
            return;
        }
        sharedCore_.store(core);
        PinToCore(0, core);
        if (capture > 0) {
            PinToCore(capture, core);
        }
    } else {
        sharedCore_.store(-1);
        sched_setaffinity(0, sizeof uiCores_, &uiCores_);
        if (capture > 0) {
            // Its own cores are the interface thread's: both may use all the process may.
            sched_setaffinity(capture, sizeof uiCores_, &uiCores_);
        }
    }
}

void UiHandoff::SampleRate(Clock::time_point now) {
    const auto period = now - rateLookAt_;
    if (period < CoreContention::kPeriod) {
        return;
    }
    // A long quiet spell reads as a trickle, which it is.
    const double seconds = std::chrono::duration<double>(period).count();
    trickle_ = Trickle(static_cast<double>(rowsRun_ - rowsAtLook_) / seconds, trickle_);
    rowsAtLook_ = rowsRun_;
    rateLookAt_ = now;
}

void UiHandoff::CaptureIdle() {
    captureAwake_.store(false, std::memory_order_relaxed);
    // Sequentially consistent with the interface thread's store of `ui_` and
    // its look at this flag: either it sees the flag or we wake it.
    captureIdle_.store(true);
    if (ui_.load() == kAsleep) {
        FutexWakeAll(phase_);
    }
}

void UiHandoff::WakeEventLoop() {
    Bump(loopWakes_);
    // One unread write is enough: the loop looks at the phase after reading it.
    if (!wakePending_.exchange(true)) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

bool UiHandoff::RunOnUiThread(UiTask& task) {
    if (cancelled_.load()) {
        captureAwake_.store(false, std::memory_order_relaxed);
        return false;
    }
    task_ = &task;
    captureIdle_.store(false, std::memory_order_relaxed);
    const Clock::time_point postedAt = Clock::now();
    postedAt_ = postedAt;
    // Sequentially consistent with the interface thread's store of `ui_` and
    // its later look at `phase_`: a row is never left without a taker.
    phase_.store(kPosted);
    captureAwake_.store(false, std::memory_order_relaxed);
    const uint32_t ui = ui_.load();
    if (ui == kAsleep) {
        Bump(directWakes_);
        FutexWakeAll(phase_);
    } else if (ui == kAway) {
        WakeEventLoop();
    }
    // kAwake: it looks at the phase before it sleeps or leaves Drain.

    uint32_t phase = phase_.load(std::memory_order_acquire);
    // The interface thread is awake, or was just woken: a row takes it a few
    // microseconds, less than a sleep and a wake-up would.
    if (ui != kAway && captureSpin_.Get().count() > 0 && SpinPays()) {
        const Clock::time_point until = postedAt + captureSpin_.Get();
        while (phase == kPosted && !cancelled_.load(std::memory_order_relaxed)) {
            if (Clock::now() >= until) {
                captureSpin_.Failed();
                break;
            }
            CpuRelax();
            phase = phase_.load(std::memory_order_acquire);
        }
    }
    bool slept = false;
    for (;;) {
        if (phase == kDone) {
            break;
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
            break;
        }
        if (!slept) {
            Bump(captureSleeps_);
            slept = true;
        }
        // Sequentially consistent with the interface thread's store of kDone
        // and its look at this flag: either it wakes us or the futex sees kDone.
        captureAsleep_.store(true);
        FutexWait(phase_, kPosted, nullptr);
        captureAsleep_.store(false, std::memory_order_relaxed);
        phase = phase_.load(std::memory_order_acquire);
    }
    if (slept) {
        captureSpin_.Waited(doneAt_ - postedAt);
    }
    captureAwake_.store(true, std::memory_order_relaxed);
    return true;
}

bool UiHandoff::RunPosted() {
    if (cancelled_.load() || phase_.load(std::memory_order_acquire) != kPosted) {
        return false;
    }
    // The capture thread waits until kDone, so the task's data is stable.
    task_->Run();
    ++rowsRun_;
    doneAt_ = Clock::now();
    phase_.store(kDone);
    if (captureAsleep_.load()) {
        FutexWakeAll(phase_);
    } else {
        // It was spinning for the row, so it is on a core and on its way.
        captureAwake_.store(true, std::memory_order_relaxed);
    }
    return true;
}

bool UiHandoff::WaitForPost(Clock::time_point until, Clock::time_point sliceEnd) {
    // The capture thread was released and is on its way to its next row,
    // which comes within microseconds when its datagram is already waiting.
    const Clock::time_point start = Clock::now();
    if (start < sliceEnd && uiSpin_.Get().count() > 0 &&
        captureAwake_.load(std::memory_order_relaxed) && SpinPays()) {
        const Clock::time_point spinUntil = std::min(sliceEnd, start + uiSpin_.Get());
        for (;;) {
            if (phase_.load(std::memory_order_acquire) == kPosted) {
                Bump(uiSpinHits_);
                return true;
            }
            if (!captureAwake_.load(std::memory_order_relaxed) ||
                cancelled_.load(std::memory_order_relaxed)) {
                break;
            }
            if (Clock::now() >= spinUntil) {
                uiSpin_.Failed();
                break;
            }
            CpuRelax();
        }
    }
    for (;;) {
        const uint32_t phase = phase_.load(std::memory_order_acquire);
        if (phase == kPosted) {
            uiSpin_.Waited(postedAt_ - doneAt_);
            return true;
        }
        if (cancelled_.load(std::memory_order_relaxed) ||
            captureIdle_.load(std::memory_order_relaxed)) {
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (now >= until) {
            return false;
        }
        // Sequentially consistent with the capture thread's stores of kPosted
        // and of `captureIdle_` and its looks at `ui_`: either it wakes us, or
        // the futex sees kPosted, or we see the flag here.
        ui_.store(kAsleep);
        if (captureIdle_.load()) {
            ui_.store(kAwake);
            return false;
        }
        const std::chrono::nanoseconds left = until - now;
        FutexWait(phase_, phase, &left);
        ui_.store(kAwake);
    }
}

void UiHandoff::Drain() {
    ui_.store(kAwake);
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
    wakePending_.store(false);
    const Clock::time_point start = Clock::now();
    contention_.Sample(start);
    SampleRate(start);
    if (timing_.keepTogether) {
        KeepTogether(contention_.Contended() || trickle_);
    }
    const Clock::time_point sliceEnd = start + timing_.slice;
    for (;;) {
        if (RunPosted()) {
            if (doneAt_ >= sliceEnd) {
                break;
            }
            continue;
        }
        if (cancelled_.load(std::memory_order_relaxed) ||
            !WaitForPost(doneAt_ + timing_.linger, sliceEnd)) {
            break;
        }
    }
    ui_.store(kAway);
    // A row posted while we were still marked awake had no wake-up sent for it;
    // leaving through the loop gives the window's other work its turn first.
    if (phase_.load() == kPosted && !cancelled_.load()) {
        WakeEventLoop();
    }
}

void UiHandoff::Cancel() {
    cancelled_.store(true);
    // The capture is ending: the interface thread gets its own cores back.
    KeepTogether(false);
    uint32_t expected = kPosted;
    // Only a waiting capture thread is turned away; a row already done stays done.
    phase_.compare_exchange_strong(expected, kCancelled);
    FutexWakeAll(phase_);
}

void UiHandoff::Reset() {
    // Called with no capture thread running.
    captureTid_.store(0);
    captureIdle_.store(false);
    phase_.store(kIdle);
    captureAwake_.store(false);
    cancelled_.store(false);
}
