// Live capture under load, side by side with tcpdump and tshark: two
// namespaces joined by a veth pair, a bounded UDP flood from the peer, and
// quorvelan's real capture path (live endpoint, capture thread, decoding,
// filter, hand-off, the real event list shown offscreen) on the same
// interface. Needs root.
//
//   bench_gui_live [--seconds S (2)] [--runs N (5)] [--rates r1,r2,... (0 = as fast as the
//                  sender goes)] [--scenarios abc] [--idle S (3; 0 skips)]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
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
#include <vector>

#include "bench/bench_list.h"
#include "capture/session.h"
#include "tests/capture/test_network.h"
#include "ui/sortlistctrl.h"

namespace {

using Clock = std::chrono::steady_clock;

// The peer's sender: UDP datagrams of `size` bytes at `rate` per second
// (0 = unpaced) for `seconds`, in batches through sendmmsg. Prints the count.
int Send(const char* target, int size, long rate, double seconds) {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9999);
    inet_pton(AF_INET, target, &to.sin_addr);
    const int payload = std::max(1, size - 28);
    std::vector<char> data(static_cast<size_t>(payload), 'q');
    constexpr int kBatch = 32;
    mmsghdr msgs[kBatch] = {};
    iovec iov[kBatch];
    for (int i = 0; i < kBatch; ++i) {
        iov[i] = {data.data(), data.size()};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
        msgs[i].msg_hdr.msg_name = &to;
        msgs[i].msg_hdr.msg_namelen = sizeof to;
    }
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    long sent = 0;
    while (Clock::now() < end) {
        if (rate > 0) {
            const double due = std::chrono::duration<double>(Clock::now() - start).count() * rate;
            if (static_cast<double>(sent) >= due) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
        }
        const int n = sendmmsg(s, msgs, kBatch, 0);
        if (n > 0)
            sent += n;
    }
    close(s);
    std::printf("%ld\n", sent);
    return 0;
}

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

[[noreturn]] void Exec(const std::vector<char*>& args) {
    execvp(args[0], args.data());
    _exit(127);
}

// Pipes are close-on-exec so that no child holds another child's write end
// open and keeps its reader from seeing the end.
Child Spawn(const std::vector<std::string>& argv) {
    const std::vector<char*> args = Args(argv);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        Exec(args);
    }
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
    const pid_t counter = fork();
    if (counter == 0) {
        dup2(lines[0], 0);
        dup2(count[1], 1);
        Exec(wcArgs);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(lines[1], 1);
        dup2(err[1], 2);
        Exec(args);
    }
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

// utime + stime of this process in clock ticks, as /proc/self/stat has them.
long ProcessCpuTicks() {
    std::ifstream in("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');  // the command name may hold spaces
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int field = 3; field < 14; ++field)
        fields >> skip;
    long utime = 0, stime = 0;
    fields >> utime >> stime;
    return utime + stime;
}

bool HaveProgram(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// The live endpoint, remembering when it handed out its last datagram. The
// capture thread waits for each row's insertion before it receives again, so
// the stamp read at insertion belongs to that row's datagram.
class StampedEndpoint final : public CaptureEndpoint {
  public:
    StampedEndpoint(std::unique_ptr<CaptureEndpoint> inner, std::atomic<int64_t>& stamp)
        : inner_(std::move(inner)), stamp_(stamp) {}
    int Open(std::string_view localAddress) override { return inner_->Open(localAddress); }
    int Receive(uint8_t* buffer, int capacity) override {
        const int length = inner_->Receive(buffer, capacity);
        if (length >= 0)
            stamp_.store(NowNs(), std::memory_order_release);
        return length;
    }
    void Interrupt() override { inner_->Interrupt(); }
    void Close() override { inner_->Close(); }
    CaptureStats Stats() const override { return inner_->Stats(); }
    std::string ErrorText() const override { return inner_->ErrorText(); }

  private:
    std::unique_ptr<CaptureEndpoint> inner_;
    std::atomic<int64_t>& stamp_;
};

struct Result {
    long offered = 0, tcpdumpSeen = 0, tcpdumpDrops = 0, peerSeen = -1, tsharkLines = -1;
    uint64_t seen = 0, rows = 0, drops = 0;
    uint64_t floodRows = 0;
    double floodSeconds = 0;
    double seconds = 0, worstTickLateMs = 0, worstSortMs = 0, cpu = 0;
    double latencyMedianUs = -1, latencyP99Us = -1;
};

enum Scenario { kRejectAll, kPassAll, kPassAllWhileSorting };

struct Bench {
    TestNetwork& net;
    std::string self;
    CSortListCtrl& list;
    bool tshark = false;
    size_t latencyRoom = 0;
    bool peers = true;  // the decode-and-print peers beside us in (b) and (c)
};

// Runs the event loop for `ms`, as the window does, so our CPU use is the program's.
void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

Result RunOnce(Bench& b, Scenario scenario, int size, long rate, double seconds) {
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
    std::atomic<int64_t> stamp{NowNs()};
    TimedList timed(b.list, stamp, b.latencyRoom);
    UiHandoff handoff;
    CaptureSession session(handoff, timed, [&stamp] {
        return std::make_unique<StampedEndpoint>(MakeLiveEndpoint(), stamp);
    });
    FilterSettings f;
    f.monitoredPort = scenario == kRejectAll ? 7 : 0;  // port 7: nobody uses it here
    f.RebuildTexts();
    session.SetFilterSettings(f);
    session.SetSelectedLocalAddress(b.net.localAddress);
    if (session.OpenCaptureSocket() != 0) {
        std::fprintf(stderr, "open failed: %s\n", session.EndpointErrorText().c_str());
        std::exit(1);
    }
    session.StartCaptureThread();
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

    Child sender =
        Spawn({"ip", "netns", "exec", b.net.PeerName(), b.self, "--send", b.net.localAddress,
               std::to_string(size), std::to_string(rate), std::to_string(seconds)});
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

    const CaptureStats stats = session.EndpointStats();
    r.drops = stats.kernelDrops;
    session.Stop();
    r.seen = session.DatagramsReceived();
    r.rows = session.RowsInserted();
    r.cpu = ProcessCpuSeconds() - cpu0;
    r.latencyMedianUs = PercentileUs(timed.latenciesNs, 0.5);
    r.latencyP99Us = PercentileUs(timed.latenciesNs, 0.99);
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
    std::atomic<int64_t> stamp{NowNs()};
    TimedList timed(b.list, stamp, 0);
    UiHandoff handoff;
    CaptureSession session(handoff, timed, [&stamp] {
        return std::make_unique<StampedEndpoint>(MakeLiveEndpoint(), stamp);
    });
    session.SetSelectedLocalAddress(b.net.localAddress);
    if (session.OpenCaptureSocket() != 0) {
        std::fprintf(stderr, "open failed: %s\n", session.EndpointErrorText().c_str());
        return;
    }
    session.StartCaptureThread();
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

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--send") == 0) {
        return Send(argv[2], std::atoi(argv[3]), std::atol(argv[4]), std::atof(argv[5]));
    }
    double seconds = 2;
    double idleSeconds = 3;
    int runs = 5;  // the median of five runs is reported
    std::string scenarios = "abc";
    bool peers = true;
    std::vector<long> rates = {1000, 10000, 50000, 100000, 400000, 0};
    for (int i = 1; i < argc; i += 2) {
        const bool known =
            i + 1 < argc &&
            (!std::strcmp(argv[i], "--seconds") || !std::strcmp(argv[i], "--runs") ||
             !std::strcmp(argv[i], "--idle") || !std::strcmp(argv[i], "--scenarios") ||
             !std::strcmp(argv[i], "--rates") || !std::strcmp(argv[i], "--peers"));
        if (!known) {
            std::fprintf(stderr,
                         "usage: bench_gui_live [--seconds S] [--runs N] [--rates r1,r2,...] "
                         "[--scenarios abc] [--idle S] [--peers yes|no]\n");
            return 2;
        }
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--runs"))
            runs = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--idle"))
            idleSeconds = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--scenarios"))
            scenarios = argv[i + 1];
        if (!std::strcmp(argv[i], "--peers"))
            peers = std::strcmp(argv[i + 1], "no") != 0;
        if (!std::strcmp(argv[i], "--rates")) {
            rates.clear();
            std::stringstream in(argv[i + 1]);
            std::string item;
            while (std::getline(in, item, ','))
                rates.push_back(std::atol(item.c_str()));
        }
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
    Bench bench{*net, self, list, tshark, static_cast<size_t>(std::max(1.0, seconds + 1) * 400000),
                peers};

    const char* names[] = {"(a) filter rejects all", "(b) filter passes all",
                           "(c) (b) + sort/200ms"};
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
        for (int size : {64, 512}) {
            long bestOurs = -2, bestTcpdump = -2;  // -2: no rate went without drops
            double bestOursOffered = 0, bestTcpdumpOffered = 0;
            for (long rate : rates) {
                std::vector<Result> results;
                for (int i = 0; i < runs; ++i)
                    results.push_back(RunOnce(bench, sc, size, rate, seconds));
                std::sort(results.begin(), results.end(),
                          [](const Result& a, const Result& b) { return a.seen < b.seen; });
                const Result& m = results[results.size() / 2];
                const double rowsPerSec =
                    m.floodSeconds > 0 ? double(m.floodRows) / m.floodSeconds : 0;
                const bool passes = sc != kRejectAll;
                std::printf(line, names[sc], size, rate, m.offered, m.tcpdumpSeen, m.tcpdumpDrops,
                            static_cast<unsigned long long>(m.seen),
                            static_cast<unsigned long long>(m.rows),
                            static_cast<unsigned long long>(m.drops),
                            Percent(long(m.seen), m.tcpdumpSeen).c_str(), rowsPerSec,
                            passes ? Percent(long(m.rows), m.peerSeen).c_str() : "-",
                            passes ? Percent(long(m.rows), m.tsharkLines).c_str() : "-",
                            Us(m.latencyMedianUs).c_str(), Us(m.latencyP99Us).c_str(),
                            m.worstTickLateMs, m.worstSortMs, 100.0 * m.cpu / m.seconds);
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
            std::snprintf(text, sizeof text, "%-22s %4d B: quorvelan %-28s tcpdump -w %s",
                          names[sc], size, best(bestOurs, bestOursOffered).c_str(),
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
