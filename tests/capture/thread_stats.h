#pragma once
// What the kernel says about this process's threads, from /proc.
#include <filesystem>
#include <fstream>
#include <string>

// How often a thread has been switched in and out, voluntarily or not.
inline long ContextSwitches(int tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    long total = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
            line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
            total += std::stol(line.substr(line.find(':') + 1));
    }
    return total;
}

// The thread of this process with this name, or -1.
inline int ThreadNamed(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string taskName;
        std::getline(comm, taskName);
        if (taskName == name) {
            return std::stoi(task.path().filename().string());
        }
    }
    return -1;
}
