#pragma once
// The processes of a live test: the test binary run again in a role (a
// server in the peer namespace, a probe, a sender) or another program, in
// this namespace or a named one, talked to over pipes one line at a time.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace roles {

inline std::string ReadLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

// A role's answer to the test, on its standard output.
inline void Say(const std::string& line) {
    const std::string text = line + "\n";
    if (write(STDOUT_FILENO, text.data(), text.size()) < 0)
        _exit(3);
}

inline std::string SelfPath(const char* argv0) {
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    return n > 0 ? std::string(self, static_cast<size_t>(n)) : argv0;
}

// An argv for exec, pointing into `args` (which outlives it).
inline std::vector<char*> ArgvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

// A command, inside the namespace `ns` where one is named.
inline std::vector<std::string> InNamespace(const std::string& ns,
                                            std::vector<std::string> command) {
    if (ns.empty())
        return command;
    std::vector<std::string> all = {"ip", "netns", "exec", ns};
    all.insert(all.end(), command.begin(), command.end());
    return all;
}

inline int StatusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs a command (no shell) to its end, in `ns` if named, with this
// process's standard input and output; its exit status, 128 + a signal's
// number, or 127 where it could not be started.
inline int RunToEnd(std::vector<std::string> command, const std::string& ns = {}) {
    std::vector<std::string> all = InNamespace(ns, std::move(command));
    std::vector<char*> argv = ArgvOf(all);
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return StatusOf(status);
}

// A process started by the test, its standard input and output ours.
struct Child {
    pid_t pid = -1;
    int in = -1;   // its standard input
    int out = -1;  // its standard output

    Child() = default;
    Child(pid_t p, int i, int o) : pid(p), in(i), out(o) {}
    Child(Child&& c) noexcept : pid(std::exchange(c.pid, -1)), in(c.in), out(c.out) {}
    Child& operator=(Child&&) = delete;
    // A test that failed half-way leaves no process behind.
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            End();
        }
    }

    std::string Line() const { return ReadLine(out); }
    bool Tell(const std::string& line) const {
        const std::string text = line + "\n";
        return write(in, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    // Closes its input (which ends every role) and reaps it.
    int End() {
        if (pid < 0)
            return -1;
        close(in);
        close(out);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return StatusOf(status);
    }
    int Kill() {
        if (pid > 0)
            kill(pid, SIGTERM);
        return End();
    }
};

// Starts a command (no shell), in `ns` if named.
inline Child SpawnCommand(std::vector<std::string> command, const std::string& ns = {}) {
    std::vector<std::string> all = InNamespace(ns, std::move(command));
    std::vector<char*> argv = ArgvOf(all);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    return Child{pid, in[1], out[0]};
}

// Starts `self` with `args`, in this namespace or (a `peerNs` given) in that one.
inline Child Spawn(const std::string& self, std::vector<std::string> args,
                   const std::string& peerNs = {}) {
    args.insert(args.begin(), self);
    return SpawnCommand(std::move(args), peerNs);
}

}  // namespace roles
