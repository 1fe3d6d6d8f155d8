#include "capture/contention.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>

namespace {

// Free cores are believed only after this many samples in a row show them, so
// that a moment between two busy tasks' slices does not count.
constexpr int kFreeSamplesNeeded = 3;

}  // namespace

CoreContention::CoreContention() {
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    cores_ = cores > 0 ? static_cast<int>(cores) : 1;
    // The kernel's count of tasks that are running or waiting for a core,
    // right now. (Its pressure figures would not do: they also count our own
    // threads waking each other on one core.)
    loadFd_ = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
}

CoreContention::~CoreContention() {
    if (loadFd_ >= 0)
        close(loadFd_);
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
    return ec == std::errc() && end != first && end != text.data() + text.size() && *end == '/';
}

void CoreContention::Sample(Clock::time_point now) {
    if (now - lastAt_ < kPeriod)
        return;
    lastAt_ = now;
    char buf[128];
    const ssize_t n = loadFd_ >= 0 ? pread(loadFd_, buf, sizeof buf, 0) : -1;
    int runnable = 0;
    if (n <= 0 || !ParseRunnable(std::string_view(buf, static_cast<size_t>(n)), &runnable)) {
        freeSamples_ = 0;
    } else {
        freeSamples_ = Free(runnable, cores_) ? freeSamples_ + 1 : 0;
    }
    contended_.store(freeSamples_ < kFreeSamplesNeeded, std::memory_order_relaxed);
}
