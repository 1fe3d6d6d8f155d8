#pragma once

// Every tool on the same flood at once, quorvelan among them, under one of
// three filter scenarios; and quorvelan's capture idle, then paused.

#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/bench_list.h"
#include "bench/live_bench.h"
#include "bench/live_children.h"
#include "bench/live_cpu.h"
#include "bench/live_quorvelan.h"

namespace live {

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

inline Result RunOnce(Bench& b, Scenario scenario, int size, long rate, double seconds,
                      bool record) {
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
inline void IdleAndPaused(Bench& b, double seconds) {
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

}  // namespace live
