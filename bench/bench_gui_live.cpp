// Live capture under load, side by side with tcpdump: two namespaces joined
// by a veth pair, a bounded UDP flood from the peer, and quorvelan's real
// capture path (live endpoint, capture thread, decoding, filter, hand-off,
// the real event list shown offscreen) on the same interface. Needs root.
//
//   bench_gui_live [--seconds S] [--runs N (5)] [--rates r1,r2,...] (0 = as fast as the sender
//   goes)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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
    int out = -1;  // read end of its stdout+stderr
};

Child Spawn(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    return {pid, fds[0]};
}

// Everything the child printed, once it has ended; `interrupt` ends it first,
// `reaped` says it was waited for already.
std::string Finish(Child& c, bool interrupt, bool reaped = false) {
    if (c.pid <= 0)
        return {};
    if (interrupt)
        kill(c.pid, SIGINT);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(c.out, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    close(c.out);
    if (!reaped)
        waitpid(c.pid, nullptr, 0);
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

struct Result {
    long offered = 0, tcpdumpSeen = 0, tcpdumpDrops = 0, peerSeen = -1;
    uint64_t seen = 0, rows = 0, drops = 0;
    double seconds = 0, worstTickLateMs = 0, worstSortMs = 0, cpu = 0;
};

enum Scenario { kRejectAll, kPassAll, kPassAllWhileSorting };

Result RunOnce(TestNetwork& net, const std::string& self, const std::string& dev, Scenario scenario,
               int size, long rate, double seconds, CSortListCtrl& list) {
    Result r;
    Child ceiling = Spawn({"tcpdump", "-i", dev, "-n", "-w", "/dev/null", "ip"});
    Child peer;
    if (scenario != kRejectAll) {
        // A peer doing comparable work: decoding and printing every datagram.
        peer = Spawn({"sh", "-c", "exec tcpdump -i " + dev + " -n -l ip >/dev/null"});
    }
    UiHandoff handoff;
    CaptureSession session(handoff, list);
    FilterSettings f;
    f.monitoredPort = scenario == kRejectAll ? 7 : 0;  // port 7: nobody uses it here
    f.RebuildTexts();
    session.SetFilterSettings(f);
    session.SetSelectedLocalAddress(net.localAddress);
    if (session.OpenCaptureSocket() != 0) {
        std::fprintf(stderr, "open failed: %s\n", session.EndpointErrorText().c_str());
        std::exit(1);
    }
    session.StartCaptureThread();
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
        list.OnColumnClick(column++ % 8);
        r.worstSortMs = std::max(r.worstSortMs, static_cast<double>(t.nsecsElapsed()) / 1e6);
    });
    if (scenario == kPassAllWhileSorting)
        sorter.start(200);

    Child sender = Spawn({"ip", "netns", "exec", net.PeerName(), self, "--send", net.localAddress,
                          std::to_string(size), std::to_string(rate), std::to_string(seconds)});
    // Wait in a real event loop, as the window does, so our own CPU use is the program's.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (waitpid(sender.pid, nullptr, WNOHANG) != 0) {
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
    const std::string ct = Finish(ceiling, true);
    r.tcpdumpSeen = Field(ct, "packets received by filter");
    r.tcpdumpDrops = Field(ct, "packets dropped by kernel");
    if (peer.pid > 0) {
        const std::string pt = Finish(peer, true);
        r.peerSeen = Field(pt, "packets received by filter");
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--send") == 0) {
        return Send(argv[2], std::atoi(argv[3]), std::atol(argv[4]), std::atof(argv[5]));
    }
    double seconds = 2;
    int runs = 5;  // the median of five runs is reported
    std::vector<long> rates = {1000, 10000, 50000, 100000, 400000, 0};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--runs"))
            runs = std::atoi(argv[i + 1]);
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
    std::string why;
    auto net = TestNetwork::Create(&why);
    if (!net) {
        std::fprintf(stderr, "bench_gui_live: %s\n", why.c_str());
        return 77;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTableView view;
    view.resize(884, 318);
    CSortListCtrl list;
    list.Attach(&view);
    view.show();

    const char* names[] = {"(a) filter rejects all", "(b) filter passes all",
                           "(c) (b) + sort/200ms"};
    std::printf("%-24s %5s %8s %9s %9s %9s %9s %8s %7s %9s %7s %7s %6s %5s\n", "scenario", "size",
                "rate", "offered", "tcpdump", "quorvelan", "rows", "drops", "seen%", "rows/s",
                "peer%", "tick+ms", "sortms", "cpu%");
    for (Scenario sc : {kRejectAll, kPassAll, kPassAllWhileSorting}) {
        for (int size : {64, 512}) {
            for (long rate : rates) {
                std::vector<Result> results;
                for (int i = 0; i < runs; ++i) {
                    results.push_back(
                        RunOnce(*net, self, net->LocalDevice(), sc, size, rate, seconds, list));
                }
                std::sort(results.begin(), results.end(),
                          [](const Result& a, const Result& b) { return a.seen < b.seen; });
                const Result& m = results[results.size() / 2];
                const double seenRatio =
                    m.tcpdumpSeen > 0 ? 100.0 * double(m.seen) / double(m.tcpdumpSeen) : 0;
                const double rowsPerSec = double(m.rows) / m.seconds;
                const double peerRatio =
                    m.peerSeen > 0 ? 100.0 * double(m.rows) / double(m.peerSeen) : 0;
                std::printf(
                    "%-24s %5d %8ld %9ld %9ld %9llu %9llu %8llu %6.1f%% %9.0f %6.1f%% %7.0f %6.2f "
                    "%4.0f%%\n",
                    names[sc], size, rate, m.offered, m.tcpdumpSeen,
                    static_cast<unsigned long long>(m.seen),
                    static_cast<unsigned long long>(m.rows),
                    static_cast<unsigned long long>(m.drops), seenRatio, rowsPerSec,
                    sc == kRejectAll ? 0.0 : peerRatio, m.worstTickLateMs, m.worstSortMs,
                    100.0 * m.cpu / m.seconds);
                std::fflush(stdout);
            }
        }
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("peak memory (max RSS): %ld KiB\n", ru.ru_maxrss);
    return 0;
}
