#pragma once
// The two clocks the capture path reads, in nanoseconds, and local time as text.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

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

// `when` in local time as strftime writes it with `pattern` (at most 127
// bytes), or nothing when it cannot be converted.
inline std::string LocalTimeText(std::time_t when, const char* pattern) {
    std::tm local{};
    char text[128] = {};
    if (localtime_r(&when, &local) != nullptr) {
        std::strftime(text, sizeof text, pattern, &local);
    }
    return text;
}

// Now, the same way.
inline std::string LocalTimeText(const char* pattern) {
    return LocalTimeText(std::time(nullptr), pattern);
}
