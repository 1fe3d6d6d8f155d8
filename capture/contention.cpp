#include "capture/contention.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>

namespace {

// Stall time above this share of a sampling period means runnable tasks
// waited for a core: the cores are taken.
constexpr double kStallShare = 0.05;
// Free cores are believed only after this many samples in a row show them, so
// that a moment between two busy tasks' slices does not count.
constexpr int kFreeSamplesNeeded = 3;

// Reads the whole (small) file again from its start; empty on failure.
std::string_view ReadAgain(int fd, char* buf, size_t size) {
    const ssize_t n = pread(fd, buf, size - 1, 0);
    return n > 0 ? std::string_view(buf, static_cast<size_t>(n)) : std::string_view();
}

}  // namespace

CoreContention::CoreContention() {
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    cores_ = cores > 0 ? static_cast<int>(cores) : 1;
    pressureFd_ = open("/proc/pressure/cpu", O_RDONLY | O_CLOEXEC);
    char buf[256];
    uint64_t stall = 0;
    // Kernels built with pressure accounting but running without it refuse the read.
    if (pressureFd_ >= 0 && !ParsePressureTotal(ReadAgain(pressureFd_, buf, sizeof buf), &stall)) {
        close(pressureFd_);
        pressureFd_ = -1;
    }
    lastStallUs_ = stall;
    if (pressureFd_ < 0) {
        loadFd_ = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    }
}

CoreContention::~CoreContention() {
    if (pressureFd_ >= 0)
        close(pressureFd_);
    if (loadFd_ >= 0)
        close(loadFd_);
}

bool CoreContention::ParsePressureTotal(std::string_view text, uint64_t* stallUs) {
    // "some avg10=0.00 avg60=0.00 avg300=0.00 total=12345\n" then the "full" line.
    if (text.substr(0, 5) != "some ")
        return false;
    const size_t line = text.find('\n');
    const std::string_view some = text.substr(0, line);
    const size_t at = some.find("total=");
    if (at == std::string_view::npos)
        return false;
    const char* first = some.data() + at + 6;
    const char* last = some.data() + some.size();
    const auto [end, ec] = std::from_chars(first, last, *stallUs);
    return ec == std::errc() && end != first;
}

bool CoreContention::ParseRunnable(std::string_view text, int* runnable) {
    // "0.52 0.58 0.59 3/456 12345\n": the fourth field is runnable/all tasks.
    size_t at = 0;
    for (int field = 0; field < 3; ++field) {
        at = text.find(' ', at);
        if (at == std::string_view::npos)
            return false;
        ++at;
    }
    const char* first = text.data() + at;
    const auto [end, ec] = std::from_chars(first, text.data() + text.size(), *runnable);
    return ec == std::errc() && end != first && *end == '/';
}

void CoreContention::Sample(Clock::time_point now, int ownRunnable) {
    if (now - lastAt_ < kPeriod)
        return;
    if (pressureFd_ >= 0) {
        if (!SamplePressure(now))
            contended_.store(true, std::memory_order_relaxed);
    } else {
        SampleRunnable(ownRunnable);
    }
    lastAt_ = now;
}

bool CoreContention::SamplePressure(Clock::time_point now) {
    char buf[256];
    uint64_t stall = 0;
    if (!ParsePressureTotal(ReadAgain(pressureFd_, buf, sizeof buf), &stall))
        return false;
    const auto periodUs = std::chrono::duration_cast<std::chrono::microseconds>(now - lastAt_);
    const bool first = lastAt_ == Clock::time_point{};
    const double share =
        first || periodUs.count() <= 0
            ? 1.0
            : static_cast<double>(stall - lastStallUs_) / static_cast<double>(periodUs.count());
    lastStallUs_ = stall;
    freeSamples_ = share <= kStallShare ? freeSamples_ + 1 : 0;
    contended_.store(freeSamples_ < kFreeSamplesNeeded, std::memory_order_relaxed);
    return true;
}

void CoreContention::SampleRunnable(int ownRunnable) {
    char buf[128];
    int runnable = 0;
    if (loadFd_ < 0 || !ParseRunnable(ReadAgain(loadFd_, buf, sizeof buf), &runnable)) {
        contended_.store(true, std::memory_order_relaxed);
        return;
    }
    // Free when the others' runnable tasks leave a core to each of the two
    // threads, including the one that is asleep now.
    const int others = runnable - ownRunnable;
    freeSamples_ = others + 2 <= cores_ ? freeSamples_ + 1 : 0;
    contended_.store(freeSamples_ < kFreeSamplesNeeded, std::memory_order_relaxed);
}
