#pragma once
// Whether other work competes for the cores right now. A thread that spins
// for a partner only pays when the partner is on a core; on a machine whose
// cores are all taken, the partner is often waiting for one, and the spin
// burns the spinner's own share. Sampled now and then by one thread, read by any.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string_view>

class CoreContention {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kPeriod{50};

    CoreContention();
    ~CoreContention();
    CoreContention(const CoreContention&) = delete;
    CoreContention& operator=(const CoreContention&) = delete;

    // The sampling thread: takes a new sample when the last is `kPeriod` old.
    void Sample(Clock::time_point now);
    // Any thread. True until samples have shown free cores.
    bool Contended() const { return contended_.load(std::memory_order_relaxed); }

    // Whether `runnable` tasks, the sampling thread among them, leave free
    // cores of `cores`; and the runnable count as the kernel writes it in
    // /proc/loadavg, false when the text holds none. Exposed for tests.
    static bool Free(int runnable, int cores) { return runnable <= cores; }
    static bool ParseRunnable(std::string_view text, int* runnable);

  private:
    int loadFd_ = -1;
    int cores_ = 1;
    Clock::time_point lastAt_{};
    int freeSamples_ = 0;
    std::atomic<bool> contended_{true};
};
