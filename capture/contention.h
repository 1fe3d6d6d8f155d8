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

    // One thread: takes a new sample when the last is `kPeriod` old.
    // `ownRunnable` is how many of the program's own threads that wait for
    // each other are runnable now, the sampling one included.
    void Sample(Clock::time_point now, int ownRunnable);
    // Any thread. True until a sample has shown free cores.
    bool Contended() const { return contended_.load(std::memory_order_relaxed); }

    // The figures a sample is made of, as the kernel writes them; false when
    // the text holds none. Exposed for tests.
    static bool ParsePressureTotal(std::string_view text, uint64_t* stallUs);
    static bool ParseRunnable(std::string_view text, int* runnable);

  private:
    bool SamplePressure(Clock::time_point now);
    void SampleRunnable(int ownRunnable);

    int pressureFd_ = -1;  // /proc/pressure/cpu, where the kernel keeps it
    int loadFd_ = -1;      // /proc/loadavg otherwise
    int cores_ = 1;
    uint64_t lastStallUs_ = 0;
    Clock::time_point lastAt_{};
    int freeSamples_ = 0;
    std::atomic<bool> contended_{true};
};
