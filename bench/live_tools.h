#pragma once

// Each tool alone on the flood: tcpdump writing or printing, tshark
// printing, quorvelan; how each is started, fed and ended, and what it tells.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench_list.h"
#include "bench/live_bench.h"
#include "bench/live_children.h"
#include "bench/live_cpu.h"
#include "bench/live_quorvelan.h"

namespace live {

enum Tool { kTcpdumpWrite, kTcpdumpPrint, kTsharkPrint, kQuorvelan, kQuorvelanRecording };
const char* const kToolNames[] = {"tcpdump -w /dev/null", "tcpdump -n -l", "tshark -n -l",
                                  "quorvelan", "quorvelan +record"};

struct ToolResult {
    long offered = 0, received = -1, drops = -1;
    long floodShown = -1, shown = -1;  // rows or lines: while the flood lasted, in all
    double floodSeconds = 0, cpuSeconds = 0;
    double latencyMedianUs = -1, latencyP99Us = -1;
    uint64_t batches = 0;  // quorvelan only
    Recorded recorded;
};

// A printing tool's standard output, read as it comes on a thread of its
// own: lines counted, the count at the end of the flood kept, and each line
// timed against the capture time it starts with (epoch seconds, in field
// `timeField` of the line: tcpdump -tt puts it first, tshark -t e second).
class LineReader {
  public:
    LineReader(int fd, int timeField, size_t room) : fd_(fd), timeField_(timeField) {
        latenciesNs.reserve(room);
        thread_ = std::thread([this] { Run(); });
    }
    ~LineReader() { Join(); }
    void Join() {
        if (thread_.joinable())
            thread_.join();
    }
    long Lines() const { return lines_.load(std::memory_order_relaxed); }
    std::vector<int64_t> latenciesNs;  // read after Join

  private:
    void Run() {
        std::string pending;
        char buf[65536];
        ssize_t n;
        while ((n = read(fd_, buf, sizeof buf)) > 0) {
            const int64_t now = WallClockNs();
            pending.append(buf, static_cast<size_t>(n));
            size_t start = 0;
            for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
                Line(std::string_view(pending).substr(start, nl - start), now);
                lines_.fetch_add(1, std::memory_order_relaxed);
            }
            pending.erase(0, start);
        }
        close(fd_);
    }
    void Line(std::string_view line, int64_t now) {
        size_t at = 0;
        for (int field = 0; field <= timeField_; ++field) {
            at = line.find_first_not_of(' ', at);
            if (at == std::string_view::npos)
                return;
            if (field < timeField_)
                at = line.find(' ', at);
        }
        char* end = nullptr;
        const std::string token(line.substr(at, line.find(' ', at) - at));
        const long double seconds = std::strtold(token.c_str(), &end);
        if (end == token.c_str() || latenciesNs.size() == latenciesNs.capacity())
            return;
        latenciesNs.push_back(now - static_cast<int64_t>(seconds * 1e9L));
    }

    int fd_;
    int timeField_;
    std::atomic<long> lines_{0};
    std::thread thread_;
};

// Waits until `count()` has not grown for `quiet` ms (at most `most` ms): the
// tool has shown what it will show of the flood.
template <typename Count>
void WaitUntilQuiet(Count count, int quiet = 500, int most = 60000) {
    QElapsedTimer clock, still;
    clock.start();
    still.start();
    long last = count();
    while (clock.elapsed() < most && still.elapsed() < quiet) {
        Spin(20);
        const long now = count();
        if (now != last) {
            last = now;
            still.restart();
        }
    }
}

// The printing or writing tools: the flood, then their summary lines.
inline ToolResult RunExternalTool(Bench& b, Tool tool, int size, long rate, double seconds) {
    ToolResult r;
    const std::string dev = b.net.LocalDevice();
    std::vector<std::string> argv;
    const char* ready = "listening on";
    int timeField = 0;
    switch (tool) {
        case kTcpdumpWrite:  // -B in KiB: the 32 MiB kernel buffer quorvelan asks for
            argv = {"tcpdump", "-i", dev, "-n", "-B", "32768", "-w", "/dev/null", "ip"};
            break;
        case kTcpdumpPrint:
            argv = {"tcpdump", "-i", dev, "-n", "-l", "-tt", "-B", "32768", "ip"};
            break;
        default:  // -B in MiB
            argv = {"tshark", "-i", dev, "-n", "-l", "-t", "e", "-B", "32", "-f", "ip"};
            ready = "Capturing on";
            timeField = 1;
            break;
    }
    // Its stdout comes to us (a terminal's share of the work), its stderr apart.
    const std::vector<char*> args = Args(argv);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return r;
    const pid_t pid = ForkExec(args, -1, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    Child c{pid, -1, err[0], -1};
    LineReader lines(out[0], timeField, b.latencyRoom);
    if (!WaitForText(c, ready, 20000))
        std::fprintf(stderr, "%s did not start capturing within 20 s\n", kToolNames[tool]);
    Spin(300);  // attached to the interface

    BusyLoad load(b.busy, static_cast<int>(seconds) + 180);
    const double cpu0 = TreeCpuSeconds(pid);
    r.floodSeconds = SendFlood(b, size, rate, seconds, &r.offered,
                               [&] { r.floodShown = tool == kTcpdumpWrite ? -1 : lines.Lines(); });
    if (tool == kTcpdumpWrite)
        Spin(300);
    else
        WaitUntilQuiet([&] { return lines.Lines(); });
    r.cpuSeconds = TreeCpuSeconds(pid) - cpu0;
    kill(pid, SIGINT);
    const std::string summary = ReadAll(err[0]);
    waitpid(pid, nullptr, 0);
    lines.Join();
    if (tool != kTcpdumpWrite) {
        r.shown = lines.Lines();
        r.latencyMedianUs = PercentileUs(lines.latenciesNs, 0.5);
        r.latencyP99Us = PercentileUs(lines.latenciesNs, 0.99);
    }
    if (tool == kTsharkPrint) {
        // tshark counts what its capture process handed over; drops show as "N packets dropped".
        r.received = Field(summary, "packets captured");
        if (r.received < 0)
            r.received = Field(summary, "packet captured");
        const long dropped = Field(summary, "dropped");
        r.drops = dropped < 0 ? 0 : dropped;
    } else {
        r.received = Field(summary, "packets received by filter");
        r.drops = Field(summary, "packets dropped by kernel");
    }
    return r;
}

inline ToolResult RunQuorvelan(Bench& b, int size, long rate, double seconds, bool record) {
    ToolResult r;
    LiveCapture live(b, b.latencyRoom, {}, record);
    CaptureSession& session = live.session;
    Spin(300);

    BusyLoad load(b.busy, static_cast<int>(seconds) + 180);
    const double cpu0 = ProcessCpuSeconds();
    r.floodSeconds = SendFlood(b, size, rate, seconds, &r.offered,
                               [&] { r.floodShown = static_cast<long>(session.RowsInserted()); });
    WaitUntilQuiet([&] { return static_cast<long>(session.RowsInserted()); });
    r.cpuSeconds = ProcessCpuSeconds() - cpu0;
    session.Stop();  // the kernel's final figures are taken as the capture thread leaves
    r.recorded = live.EndRecording();
    r.received = static_cast<long>(session.DatagramsReceived());
    r.drops = static_cast<long>(session.Figures().kernelDrops);
    r.shown = static_cast<long>(session.RowsInserted());
    r.latencyMedianUs = PercentileUs(live.timed.latenciesNs, 0.5);
    r.latencyP99Us = PercentileUs(live.timed.latenciesNs, 0.99);
    r.batches = live.handoff.TasksRun();
    return r;
}

}  // namespace live
