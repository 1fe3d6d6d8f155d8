#pragma once

// CPU time: this process's (getrusage, or clock ticks from /proc) and that
// of another program and its running children.

#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace live {

inline double ProcessCpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// utime + stime in clock ticks of a process ("self" or a pid), as its
// /proc stat has them; 0 when it is gone.
inline long CpuTicks(const std::string& process) {
    std::ifstream in("/proc/" + process + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');  // the command name may hold spaces
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int field = 3; field < 14; ++field)
        fields >> skip;
    long utime = 0, stime = 0;
    fields >> utime >> stime;
    return utime + stime;
}

inline long ProcessCpuTicks() {
    return CpuTicks("self");
}

// utime + stime in seconds of a process and of its children that are still
// running (tshark's capture process), from /proc.
inline double TreeCpuSeconds(pid_t pid) {
    long ticks = CpuTicks(std::to_string(pid));
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                           "/children");
    for (pid_t child; children >> child;)
        ticks += CpuTicks(std::to_string(child));
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace live
