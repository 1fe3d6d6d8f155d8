#pragma once

// The programs a run starts (tcpdump, tshark, wc, the sender): forked with
// pipes for their output, read back, and ended with SIGINT.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace live {

using Clock = std::chrono::steady_clock;

struct Child {
    pid_t pid = -1;
    int out = -1;        // read end of its stdout+stderr, or of the counter's stdout
    int err = -1;        // read end of its stderr, when apart from `out`
    pid_t counter = -1;  // `wc -l` reading its stdout
};

// The argument vector, built before forking: the child of a threaded process
// should do no more than dup2 and exec.
inline std::vector<char*> Args(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
}

// A child running `args` with the given descriptors as its stdin, stdout and
// stderr (-1 keeps ours).
inline pid_t ForkExec(const std::vector<char*>& args, int in, int out, int err) {
    const pid_t pid = fork();
    if (pid == 0) {
        for (const auto& [from, to] : {std::pair{in, 0}, std::pair{out, 1}, std::pair{err, 2}}) {
            if (from >= 0)
                dup2(from, to);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// Pipes are close-on-exec so that no child holds another child's write end
// open and keeps its reader from seeing the end.
inline Child Spawn(const std::vector<std::string>& argv) {
    const std::vector<char*> args = Args(argv);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ForkExec(args, -1, fds[1], fds[1]);
    close(fds[1]);
    return {pid, fds[0], -1, -1};
}

// The program with its stdout counted by `wc -l` in a process of its own, so
// that counting costs this process nothing; stderr comes back apart.
inline Child SpawnCounted(const std::vector<std::string>& argv) {
    const std::vector<std::string> wc = {"wc", "-l"};
    const std::vector<char*> wcArgs = Args(wc), args = Args(argv);
    int lines[2], count[2], err[2];
    if (pipe2(lines, O_CLOEXEC) != 0)
        return {};
    if (pipe2(count, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return {};  // a benchmark that cannot make three pipes has bigger trouble
    const pid_t counter = ForkExec(wcArgs, lines[0], count[1], -1);
    const pid_t pid = ForkExec(args, -1, lines[1], err[1]);
    close(lines[0]);
    close(lines[1]);
    close(count[1]);
    close(err[1]);
    return {pid, count[0], err[0], counter};
}

inline std::string ReadAll(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    close(fd);
    return text;
}

// Reads the child's stderr until `marker` shows up or `ms` pass; false on time-out or end.
inline bool WaitForText(const Child& c, const char* marker, int ms) {
    std::string seen;
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) {
        pollfd p{c.err, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (poll(&p, 1, static_cast<int>(std::max<int64_t>(left, 1))) <= 0)
            continue;
        char buf[1024];
        const ssize_t n = read(c.err, buf, sizeof buf);
        if (n <= 0)
            return false;
        seen.append(buf, static_cast<size_t>(n));
        if (seen.find(marker) != std::string::npos)
            return true;
    }
    return false;
}

// Everything the child printed (for a counted child: the count), once it has
// ended; `interrupt` ends it first, `reaped` says it was waited for already.
inline std::string Finish(Child& c, bool interrupt, bool reaped = false) {
    if (c.pid <= 0)
        return {};
    if (interrupt)
        kill(c.pid, SIGINT);
    if (c.err >= 0) {
        // Its stderr must be drained or a chatty exit could block on it.
        ReadAll(c.err);
    }
    std::string text = ReadAll(c.out);
    if (!reaped)
        waitpid(c.pid, nullptr, 0);
    if (c.counter > 0)
        waitpid(c.counter, nullptr, 0);
    c = Child{};
    return text;
}

inline long Field(const std::string& text, const char* after) {
    const auto at = text.find(after);
    if (at == std::string::npos)
        return -1;
    const auto line = text.rfind('\n', at);
    return std::atol(text.c_str() + (line == std::string::npos ? 0 : line + 1));
}

inline bool HaveProgram(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace live
