// Live capture under load, beside or against tcpdump and tshark: two
// namespaces joined by a veth pair, a bounded UDP flood from the peer, and
// quorvelan's real capture path (live endpoint, capture thread, decoding,
// filter, hand-off, the real event list shown offscreen) on the same
// interface. Needs root.
//
//   bench_gui_live [--mode beside|alone] [--busy N (0)] [--seconds S (2)] [--runs N (5)]
//                  [--rates r1,r2,... (0 = as fast as the sender goes)] [--sizes 64,512]
//                  [--scenarios abc] [--idle S (3; 0 skips)] [--peers yes|no]
//                  [--tools wltq (alone: which of tcpdump -w, tcpdump -l, tshark, quorvelan)]
//                  [--record no|yes|both (quorvelan records every datagram to a pcapng file)]
//                  [--talk on|off|window (on)] [--conversations N (1)]
//
// beside: every tool captures the same flood at once, quorvelan among them.
// alone:  each tool in turn has the flood to itself (tcpdump -w /dev/null,
//         tcpdump -n -l, tshark -n -l, quorvelan), same sender, rates and
//         kernel buffer size.
// --busy N keeps N CPU-bound processes of ordinary priority running beside
// whichever tool is measured, from before its flood to the end of its run.
// --record yes: quorvelan's capture also records every datagram it receives,
// as 记录到文件... does, into a file in $QV_BENCH_DIR or the current directory
// (removed after each run); both: each quorvelan run without, then with it.
// --talk: quorvelan counts conversations and looks up their owners and host
// names as the program does (on), not at all (off), or also shows them in
// its 连接 window, refreshed twice a second (window). --conversations N
// spreads the flood over N destination ports: as many conversations.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/bench_list.h"
#include "bench/udp_flood.h"
#include "capture/session.h"
#include "export/pcapng_recorder.h"
#include "tests/capture/test_network.h"
#include "ui/conversationsdlg.h"
#include "ui/conversationtracker.h"
#include "ui/sortlistctrl.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Child {
    pid_t pid = -1;
    int out = -1;        // read end of its stdout+stderr, or of the counter's stdout
    int err = -1;        // read end of its stderr, when apart from `out`
    pid_t counter = -1;  // `wc -l` reading its stdout
};

// The argument vector, built before forking: the child of a threaded process
// should do no more than dup2 and exec.
std::vector<char*> Args(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
}

// A child running `args` with the given descriptors as its stdin, stdout and
// stderr (-1 keeps ours).
pid_t ForkExec(const std::vector<char*>& args, int in, int out, int err) {
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
Child Spawn(const std::vector<std::string>& argv) {
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
Child SpawnCounted(const std::vector<std::string>& argv) {
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

std::string ReadAll(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    close(fd);
    return text;
}

// Reads the child's stderr until `marker` shows up or `ms` pass; false on time-out or end.
bool WaitForText(const Child& c, const char* marker, int ms) {
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
std::string Finish(Child& c, bool interrupt, bool reaped = false) {
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

long Field(const std::string& text, const char* after) {
    const auto at = text.find(after);
    if (at == std::string::npos)
        return -1;
    const auto line = text.rfind('\n', at);
    return std::atol(text.c_str() + (line == std::string::npos ? 0 : line + 1));
}

double ProcessCpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// utime + stime in clock ticks of a process ("self" or a pid), as its
// /proc stat has them; 0 when it is gone.
long CpuTicks(const std::string& process) {
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

long ProcessCpuTicks() {
    return CpuTicks("self");
}

bool HaveProgram(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// What a recording kept of a run.
struct Recorded {
    bool on = false;
    uint64_t datagrams = 0, bytes = 0, missed = 0;
    int fault = 0;
};

std::string RecordedLine(const Recorded& r) {
    char text[256];
    std::snprintf(text, sizeof text, "recorded %llu datagrams (%llu bytes), %llu left out%s%s",
                  static_cast<unsigned long long>(r.datagrams),
                  static_cast<unsigned long long>(r.bytes),
                  static_cast<unsigned long long>(r.missed), r.fault ? ", write failed: " : "",
                  r.fault ? std::strerror(r.fault) : "");
    return text;
}

struct Result {
    Recorded recorded;
    long offered = 0, tcpdumpSeen = 0, tcpdumpDrops = 0, peerSeen = -1, tsharkLines = -1;
    uint64_t seen = 0, rows = 0, drops = 0;
    uint64_t floodRows = 0;
    double floodSeconds = 0;
    double seconds = 0, worstTickLateMs = 0, worstSortMs = 0, cpu = 0;
    double latencyMedianUs = -1, latencyP99Us = -1;
};

enum Scenario { kRejectAll, kPassAll, kPassAllWhileSorting };
enum class Talk { kOff, kOn, kWindow };

struct Bench {
    TestNetwork& net;
    std::string self;
    CSortListCtrl& list;
    bool tshark = false;
    size_t latencyRoom = 0;
    bool peers = true;  // the decode-and-print peers beside us in (b) and (c)
    int busy = 0;       // CPU-bound processes beside the measured tool
    Talk talk = Talk::kOn;
    int conversations = 1;
    std::string recordPath;  // where a recording run writes
};

// quorvelan's real capture path on the monitored interface, each row timed
// against its datagram's capture time (the kernel's time stamp, so the wait
// in the kernel's buffer counts).
// With `record`, every datagram also goes to a recording, as 记录到文件... does.
struct LiveCapture {
    LiveCapture(Bench& b, size_t latencyRoom, const FilterSettings& filter = {},
                bool record = false)
        : path(record ? b.recordPath : std::string()),
          timed(b.list, latencyRoom),
          tracker(b.talk == Talk::kOff ? nullptr : std::make_unique<ConversationTracker>()),
          session(handoff, timed, [] { return MakeLiveEndpoint(); }) {
        // As the main window wires them.
        if (tracker) {
            session.SetConversationsHandler(
                [this](const ConversationDeltas& deltas) { tracker->Merge(deltas); });
        }
        session.SetFilterSettings(filter);
        session.SetSelectedLocalAddress(b.net.localAddress);
        if (session.OpenCaptureSocket() != 0) {
            std::fprintf(stderr, "open failed: %s\n", session.EndpointErrorText().c_str());
            std::exit(1);
        }
        if (record) {
            const PcapngResult started = recorder.Start(path, LocalInterface(b.net.localAddress));
            if (!started.ok()) {
                std::fprintf(stderr, "%s\n", PcapngErrorMessage(started, path).c_str());
                std::exit(1);
            }
            session.SetDatagramSink(&recorder);
        }
        session.StartCaptureThread();
        if (tracker) {
            tracker->BeginCapture(false, b.net.localAddress);
            // The main window's clock, which ticks the tracker once a second.
            QObject::connect(&clock, &QTimer::timeout, [this] { tracker->Tick(); });
            clock.start(1000);
        }
        if (b.talk == Talk::kWindow) {
            window = std::make_unique<CConversationsDlg>(*tracker, session, nullptr);
            window->Create();
        }
    }
    ~LiveCapture() {
        if (window)
            window->DestroyWindow();
    }
    // After the session's Stop: the file complete, what it holds, the file gone.
    Recorded EndRecording() {
        Recorded r;
        if (path.empty())
            return r;
        recorder.Close();
        r = {true, recorder.DatagramsWritten(), recorder.BytesWritten(), recorder.DatagramsMissed(),
             recorder.Fault()};
        std::remove(path.c_str());
        return r;
    }
    std::string path;
    PcapngRecorder recorder;  // outlives the session's capture thread
    TimedList timed;
    UiHandoff handoff;
    std::unique_ptr<ConversationTracker> tracker;  // outlives the session, which feeds it
    CaptureSession session;
    std::unique_ptr<CConversationsDlg> window;
    QTimer clock;
};

// Runs the event loop for `ms`, as the window does, so our CPU use is the program's.
void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The flood: the benchmark itself, sending from the peer namespace.
Child SpawnSender(const Bench& b, int size, long rate, double seconds) {
    return Spawn({"ip", "netns", "exec", b.net.PeerName(), b.self, "--send", b.net.localAddress,
                  std::to_string(size), std::to_string(rate), std::to_string(seconds),
                  std::to_string(b.conversations)});
}

Result RunOnce(Bench& b, Scenario scenario, int size, long rate, double seconds, bool record) {
    Result r;
    const std::string dev = b.net.LocalDevice();
    Child tshark;
    if (scenario != kRejectAll && b.peers && b.tshark) {
        // Started first: it takes about a second to load its dissectors.
        tshark = SpawnCounted({"tshark", "-i", dev, "-n", "-l", "-f", "ip"});
    }
    Child ceiling = Spawn({"tcpdump", "-i", dev, "-n", "-w", "/dev/null", "ip"});
    Child peer;
    if (scenario != kRejectAll && b.peers) {
        // A peer doing comparable work: decoding and printing every datagram.
        peer = Spawn({"sh", "-c", "exec tcpdump -i " + dev + " -n -l ip >/dev/null"});
    }
    FilterSettings f;
    f.monitoredPort = scenario == kRejectAll ? 7 : 0;  // port 7: nobody uses it here
    f.RebuildTexts();
    LiveCapture live(b, b.latencyRoom, f, record);
    CaptureSession& session = live.session;
    if (tshark.pid > 0 && !WaitForText(tshark, "Capturing on", 10000))
        std::fprintf(stderr, "tshark did not start capturing within 10 s\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let tcpdump attach

    const double cpu0 = ProcessCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    // The window's one-second clock: how late does it tick?
    QTimer tick;
    qint64 lastTick = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (lastTick)
            r.worstTickLateMs = std::max(r.worstTickLateMs, double(now - lastTick - 1000));
        lastTick = now;
    });
    tick.start(1000);
    QTimer sorter;
    int column = 0;
    QObject::connect(&sorter, &QTimer::timeout, [&] {
        QElapsedTimer t;
        t.start();
        b.list.OnColumnClick(column++ % 8);
        r.worstSortMs = std::max(r.worstSortMs, static_cast<double>(t.nsecsElapsed()) / 1e6);
    });
    if (scenario == kPassAllWhileSorting)
        sorter.start(200);

    BusyLoad load(b.busy, static_cast<int>(seconds) + 120);
    Child sender = SpawnSender(b, size, rate, seconds);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (waitpid(sender.pid, nullptr, WNOHANG) != 0) {
            // The sustained rate: rows while the flood lasted, not its tail.
            r.floodRows = session.RowsInserted();
            r.floodSeconds = static_cast<double>(clock.elapsed()) / 1000.0;
            poll.stop();
            QTimer::singleShot(300, &loop, &QEventLoop::quit);  // the tail of the flood
        }
    });
    poll.start(10);
    loop.exec();
    r.offered = std::atol(Finish(sender, false, true).c_str());
    r.seconds = static_cast<double>(clock.elapsed()) / 1000.0;

    session.Stop();  // the kernel's final figures are taken as the capture thread leaves
    r.recorded = live.EndRecording();
    r.drops = session.Figures().kernelDrops;
    r.seen = session.DatagramsReceived();
    r.rows = session.RowsInserted();
    r.cpu = ProcessCpuSeconds() - cpu0;
    r.latencyMedianUs = PercentileUs(live.timed.latenciesNs, 0.5);
    r.latencyP99Us = PercentileUs(live.timed.latenciesNs, 0.99);
    const std::string ct = Finish(ceiling, true);
    r.tcpdumpSeen = Field(ct, "packets received by filter");
    r.tcpdumpDrops = Field(ct, "packets dropped by kernel");
    if (peer.pid > 0) {
        const std::string pt = Finish(peer, true);
        r.peerSeen = Field(pt, "packets received by filter");
    }
    if (tshark.pid > 0) {
        const std::string lines = Finish(tshark, true);
        if (!lines.empty())
            r.tsharkLines = std::atol(lines.c_str());
    }
    return r;
}

// The capture running with no traffic, then held paused the way the filter
// dialog holds it: the process's CPU in clock ticks over each phase.
void IdleAndPaused(Bench& b, double seconds) {
    LiveCapture live(b, 0);
    CaptureSession& session = live.session;
    Spin(300);
    const long hz = sysconf(_SC_CLK_TCK);
    const int ms = static_cast<int>(seconds * 1000);
    auto phase = [&](const char* name) {
        const long t0 = ProcessCpuTicks();
        const double cpu0 = ProcessCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        Spin(ms);
        const long used = ProcessCpuTicks() - t0;
        const double wall = static_cast<double>(clock.elapsed()) / 1000.0;
        // Ticks are 10 ms coarse; getrusage tells the small figures apart.
        std::printf("%-36s %5.1f s  %4ld ticks (%ld/s)  %5.2f%% CPU  (getrusage %.1f ms)\n", name,
                    wall, used, hz,
                    100.0 * static_cast<double>(used) / (static_cast<double>(hz) * wall),
                    (ProcessCpuSeconds() - cpu0) * 1e3);
    };
    phase("idle: capture running, no traffic");
    session.RaisePause();
    phase("paused: RaisePause held");
    session.DropPause();
    session.Stop();
}

// "1234" or, for latency that was not measured, "-".
std::string Us(double us) {
    if (us < 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", us);
    return text;
}

std::string Percent(long part, long whole) {
    if (part < 0 || whole <= 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * double(part) / double(whole));
    return text;
}

std::string RateName(long rate) {
    return rate > 0 ? std::to_string(rate) : "unpaced";
}

// ---- Each tool alone on the flood ----

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

// utime + stime in seconds of a process and of its children that are still
// running (tshark's capture process), from /proc.
double TreeCpuSeconds(pid_t pid) {
    long ticks = CpuTicks(std::to_string(pid));
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                           "/children");
    for (pid_t child; children >> child;)
        ticks += CpuTicks(std::to_string(child));
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

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

// Floods the monitored side and waits for the sender to end; `atEnd` runs the
// moment it has ended, to count what was shown while the flood lasted.
// Returns the flood's duration in seconds; `offered` gets what was sent.
template <class AtEnd>
double SendFlood(const Bench& b, int size, long rate, double seconds, long* offered, AtEnd atEnd) {
    QElapsedTimer clock;
    clock.start();
    Child sender = SpawnSender(b, size, rate, seconds);
    while (waitpid(sender.pid, nullptr, WNOHANG) == 0)
        Spin(10);
    const double lasted = static_cast<double>(clock.elapsed()) / 1000.0;
    atEnd();
    *offered = std::atol(Finish(sender, false, true).c_str());
    return lasted;
}

// The printing or writing tools: the flood, then their summary lines.
ToolResult RunExternalTool(Bench& b, Tool tool, int size, long rate, double seconds) {
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

ToolResult RunQuorvelan(Bench& b, int size, long rate, double seconds, bool record) {
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

void RunAlone(Bench& b, const std::vector<int>& sizes, const std::vector<long>& rates,
              double seconds, int runs, const std::string& tools,
              const std::vector<bool>& records) {
    if (b.busy)
        std::printf("each tool alone on the flood, %d CPU-bound processes beside it\n", b.busy);
    else
        std::printf("each tool alone on the flood\n");
    const char* header = "%-21s %4s %7s %8s %8s %7s %9s %9s %8s %7s %7s %9s %9s %8s\n";
    std::printf(header, "tool", "size", "rate", "offered", "received", "drops", "flood", "in all",
                "after", "flood%", "all%", "lat50", "lat99", "cpu/1k");
    std::printf(header, "", "B", "/s", "", "", "", "shown", "shown", "flood", "", "", "us", "us",
                "ms");
    for (int size : sizes) {
        for (long rate : rates) {
            for (Tool tool :
                 {kTcpdumpWrite, kTcpdumpPrint, kTsharkPrint, kQuorvelan, kQuorvelanRecording}) {
                const bool ours = tool == kQuorvelan || tool == kQuorvelanRecording;
                const bool record = tool == kQuorvelanRecording;
                if ((tool == kTsharkPrint && !b.tshark) ||
                    tools.find("wltqq"[tool]) == std::string::npos ||
                    (ours && std::find(records.begin(), records.end(), record) == records.end()))
                    continue;
                std::vector<ToolResult> results;
                for (int i = 0; i < runs; ++i) {
                    results.push_back(ours ? RunQuorvelan(b, size, rate, seconds, record)
                                           : RunExternalTool(b, tool, size, rate, seconds));
                }
                // The run with the median count: shown while the flood lasted, or
                // for tcpdump -w, received.
                std::sort(results.begin(), results.end(), [](const auto& x, const auto& y) {
                    return x.floodShown != y.floodShown ? x.floodShown < y.floodShown
                                                        : x.received < y.received;
                });
                const ToolResult& m = results[results.size() / 2];
                const long work = m.shown >= 0 ? m.shown : m.received;
                char cpu[32] = "-";
                if (work > 0)
                    std::snprintf(cpu, sizeof cpu, "%.2f",
                                  1e3 * m.cpuSeconds / (static_cast<double>(work) / 1e3));
                auto count = [](long v) { return v < 0 ? std::string("-") : std::to_string(v); };
                const long after = m.shown >= 0 ? m.shown - m.floodShown : -1;
                std::printf("%-21s %4d %7s %8ld %8s %7s %9s %9s %8s %7s %7s %9s %9s %8s\n",
                            kToolNames[tool], size, RateName(rate).c_str(), m.offered,
                            count(m.received).c_str(), count(m.drops).c_str(),
                            count(m.floodShown).c_str(), count(m.shown).c_str(),
                            count(after).c_str(), Percent(m.floodShown, m.offered).c_str(),
                            Percent(m.shown, m.offered).c_str(), Us(m.latencyMedianUs).c_str(),
                            Us(m.latencyP99Us).c_str(), cpu);
                if (ours && m.batches > 0) {
                    std::printf("%-21s rows crossed in %llu batches, %.0f rows each\n", "",
                                static_cast<unsigned long long>(m.batches),
                                static_cast<double>(m.shown) / static_cast<double>(m.batches));
                }
                if (m.recorded.on)
                    std::printf("%-21s %s\n", "", RecordedLine(m.recorded).c_str());
                std::fflush(stdout);
            }
        }
    }
}

}  // namespace

// Where a recording run writes: $QV_BENCH_DIR or the current directory.
std::string RecordPath() {
    const char* dir = std::getenv("QV_BENCH_DIR");
    return std::string(dir && *dir ? dir : ".") + "/quorvelan-bench-" + std::to_string(getpid()) +
           ".pcapng";
}

int main(int argc, char** argv) {
    if (argc == 7 && std::strcmp(argv[1], "--send") == 0) {
        // The peer's sender; prints the count.
        std::printf("%ld\n", FloodUdp(argv[2], std::atoi(argv[3]), std::atol(argv[4]),
                                      std::atof(argv[5]), Pacing::kBursts, std::atoi(argv[6])));
        return 0;
    }
    double seconds = 2;
    double idleSeconds = 3;
    int runs = 5;  // the median of five runs is reported
    std::string scenarios = "abc";
    bool peers = true;
    std::vector<long> rates = {1000, 10000, 50000, 100000, 400000, 0};
    std::vector<int> sizes = {64, 512};
    bool alone = false;
    int busy = 0;
    std::string tools = "wltq";           // tcpdump -w, tcpdump -l, tshark, quorvelan
    std::vector<bool> records = {false};  // quorvelan without a recording, with one
    Talk talk = Talk::kOn;
    int conversations = 1;
    auto list_of = [](const char* text, auto& out) {
        out.clear();
        std::stringstream in(text);
        for (std::string item; std::getline(in, item, ',');)
            out.push_back(static_cast<typename std::decay_t<decltype(out)>::value_type>(
                std::atol(item.c_str())));
    };
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        const bool known =
            i + 1 < argc &&
            (name == "--seconds" || name == "--runs" || name == "--idle" || name == "--scenarios" ||
             name == "--rates" || name == "--peers" || name == "--mode" || name == "--busy" ||
             name == "--sizes" || name == "--tools" || name == "--record" || name == "--talk" ||
             name == "--conversations");
        if (!known) {
            std::fprintf(stderr,
                         "usage: bench_gui_live [--mode beside|alone] [--busy N] [--seconds S] "
                         "[--runs N] [--rates r1,r2,...] [--sizes s1,s2] [--scenarios abc] "
                         "[--idle S] [--peers yes|no] [--tools wltq] [--record no|yes|both] "
                         "[--talk on|off|window] [--conversations N]\n");
            return 2;
        }
        const char* value = argv[i + 1];
        if (name == "--seconds")
            seconds = std::atof(value);
        else if (name == "--runs")
            runs = std::max(1, std::atoi(value));
        else if (name == "--idle")
            idleSeconds = std::atof(value);
        else if (name == "--scenarios")
            scenarios = value;
        else if (name == "--peers")
            peers = std::strcmp(value, "no") != 0;
        else if (name == "--mode")
            alone = std::strcmp(value, "alone") == 0;
        else if (name == "--busy")
            busy = std::max(0, std::atoi(value));
        else if (name == "--rates")
            list_of(value, rates);
        else if (name == "--sizes")
            list_of(value, sizes);
        else if (name == "--tools")
            tools = value;
        else if (name == "--record")
            records = std::strcmp(value, "both") == 0  ? std::vector<bool>{false, true}
                      : std::strcmp(value, "yes") == 0 ? std::vector<bool>{true}
                                                       : std::vector<bool>{false};
        else if (name == "--talk")
            talk = std::strcmp(value, "off") == 0      ? Talk::kOff
                   : std::strcmp(value, "window") == 0 ? Talk::kWindow
                                                       : Talk::kOn;
        else if (name == "--conversations")
            conversations = std::clamp(std::atoi(value), 1, 50000);
    }
    char selfPath[4096] = {};
    const ssize_t len = readlink("/proc/self/exe", selfPath, sizeof selfPath - 1);
    const std::string self(selfPath, len > 0 ? static_cast<size_t>(len) : 0);
    const bool tshark = HaveProgram("tshark");
    if (!tshark)
        std::fprintf(stderr, "bench_gui_live: tshark not found, its column stays empty\n");
    std::string why;
    auto net = TestNetwork::Create(&why);
    if (!net) {
        std::fprintf(stderr, "bench_gui_live: %s\n", why.c_str());
        return 77;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ShownList shown;
    CSortListCtrl& list = shown.list;
    // Room for rows at up to 400,000 a second; later rows go unrecorded.
    Bench bench{
        *net,  self, list, tshark,        static_cast<size_t>(std::max(1.0, seconds + 1) * 400000),
        peers, busy, talk, conversations, RecordPath()};
    const char* talkNames[] = {"off", "on", "shown in the 连接 window"};
    std::printf("conversation table and lookups: %s; %d conversation%s in the flood\n",
                talkNames[static_cast<int>(talk)], conversations, conversations == 1 ? "" : "s");
    if (alone) {
        RunAlone(bench, sizes, rates, seconds, runs, tools, records);
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        std::printf("peak memory (max RSS): %ld KiB\n", ru.ru_maxrss);
        return 0;
    }
    if (busy)
        std::printf("%d CPU-bound processes beside the tools\n", busy);

    const char* names[] = {"(a) filter rejects all", "(b) filter passes all",
                           "(c) (b) + sort/200ms"};
    const char* recordingNames[] = {"(a) rejects + record", "(b) passes + record",
                                    "(c) (b)+sort + record"};
    const char* header =
        "%-22s %4s %7s %8s %8s %7s %9s %8s %8s %6s %7s %6s %7s %6s %6s %5s %6s %4s\n";
    const char* line =
        "%-22s %4d %7ld %8ld %8ld %7ld %9llu %8llu %8llu %6s %7.0f %6s %7s %6s %6s "
        "%5.0f %6.2f %3.0f%%\n";
    std::printf(header, "scenario", "size", "rate", "offered", "tcpdump", "tdrops", "quorvelan",
                "rows", "drops", "seen%", "rows/s", "peer%", "tshark%", "lat50", "lat99", "tick+",
                "sortms", "cpu");
    std::printf(header, "", "B", "/s", "", "-w", "", "", "", "", "", "", "", "", "us", "us", "ms",
                "", "");
    std::vector<std::string> summaries;
    for (Scenario sc : {kRejectAll, kPassAll, kPassAllWhileSorting}) {
        if (scenarios.find(static_cast<char>('a' + sc)) == std::string::npos)
            continue;
        for (const bool record : records)
            for (int size : sizes) {
                const char* name = record ? recordingNames[sc] : names[sc];
                long bestOurs = -2, bestTcpdump = -2;  // -2: no rate went without drops
                double bestOursOffered = 0, bestTcpdumpOffered = 0;
                for (long rate : rates) {
                    std::vector<Result> results;
                    for (int i = 0; i < runs; ++i)
                        results.push_back(RunOnce(bench, sc, size, rate, seconds, record));
                    std::sort(results.begin(), results.end(),
                              [](const Result& a, const Result& b) { return a.seen < b.seen; });
                    const Result& m = results[results.size() / 2];
                    const double rowsPerSec =
                        m.floodSeconds > 0 ? double(m.floodRows) / m.floodSeconds : 0;
                    const bool passes = sc != kRejectAll;
                    std::printf(line, name, size, rate, m.offered, m.tcpdumpSeen, m.tcpdumpDrops,
                                static_cast<unsigned long long>(m.seen),
                                static_cast<unsigned long long>(m.rows),
                                static_cast<unsigned long long>(m.drops),
                                Percent(long(m.seen), m.tcpdumpSeen).c_str(), rowsPerSec,
                                passes ? Percent(long(m.rows), m.peerSeen).c_str() : "-",
                                passes ? Percent(long(m.rows), m.tsharkLines).c_str() : "-",
                                Us(m.latencyMedianUs).c_str(), Us(m.latencyP99Us).c_str(),
                                m.worstTickLateMs, m.worstSortMs, 100.0 * m.cpu / m.seconds);
                    if (m.recorded.on)
                        std::printf("%-22s %s\n", "", RecordedLine(m.recorded).c_str());
                    std::fflush(stdout);
                    // Ranked by what the sender managed, since "unpaced" has no nominal rate.
                    const double offeredPerSec = double(m.offered) / seconds;
                    if (m.drops == 0 && offeredPerSec >= bestOursOffered) {
                        bestOurs = rate;
                        bestOursOffered = offeredPerSec;
                    }
                    if (m.tcpdumpDrops == 0 && offeredPerSec >= bestTcpdumpOffered) {
                        bestTcpdump = rate;
                        bestTcpdumpOffered = offeredPerSec;
                    }
                }
                auto best = [](long rate, double offered) {
                    if (rate == -2)
                        return std::string("none");
                    char text[64];
                    std::snprintf(text, sizeof text, "%s (%.0f/s offered)", RateName(rate).c_str(),
                                  offered);
                    return std::string(text);
                };
                char text[256];
                std::snprintf(text, sizeof text, "%-22s %4d B: quorvelan %-28s tcpdump -w %s", name,
                              size, best(bestOurs, bestOursOffered).c_str(),
                              best(bestTcpdump, bestTcpdumpOffered).c_str());
                summaries.push_back(text);
            }
    }
    if (!summaries.empty()) {
        std::printf("\nhighest offered rate without kernel drops (median runs):\n");
        for (const auto& s : summaries)
            std::printf("%s\n", s.c_str());
    }
    if (idleSeconds > 0) {
        std::printf("\n");
        IdleAndPaused(bench, idleSeconds);
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("peak memory (max RSS): %ld KiB\n", ru.ru_maxrss);
    return 0;
}
