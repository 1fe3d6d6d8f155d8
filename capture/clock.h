#pragma once
// The two clocks the capture path reads, in nanoseconds.
#include <chrono>
#include <cstdint>

// Since the epoch: the clock capture times are given in.
inline int64_t WallClockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Never steps: for durations.
inline int64_t SteadyClockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
