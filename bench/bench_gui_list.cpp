// Rows per second through the real hand-off into the real event list (window
// shown, offscreen), receive-to-row latency, and sorting 500 rows.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_list.h"
#include "capture/session.h"
#include "tests/capture/packet_builder.h"
#include "ui/widgets/sortlistctrl.h"

namespace {

using Clock = std::chrono::steady_clock;

// Endless UDP datagrams, optionally paced; each one's capture time is when it was received.
class Source final : public CaptureEndpoint {
  public:
    explicit Source(std::chrono::microseconds gap) : gap_(gap) {
        testpkt::Ip ip;
        ip.protocol = 17;
        datagram_ = testpkt::Datagram(ip, testpkt::Udp(40000, 53, testpkt::Bytes("GET /bench")));
    }
    int Open(std::string_view) override { return 0; }
    int Receive(uint8_t* buffer, int) override {
        if (stop_)
            return -1;
        if (gap_.count())
            std::this_thread::sleep_for(gap_);
        std::memcpy(buffer, datagram_.data(), datagram_.size());
        stamp_ = WallClockNs();
        return static_cast<int>(datagram_.size());
    }
    int64_t LastCaptureTimeNs() const override { return stamp_; }
    void Interrupt() override { stop_ = true; }
    void Close() override {}

  private:
    std::chrono::microseconds gap_;
    std::vector<uint8_t> datagram_;
    std::atomic<bool> stop_{false};
    int64_t stamp_ = 0;  // capture thread only
};

void Stream(CSortListCtrl& list, std::chrono::microseconds gap, int ms, const char* label) {
    UiHandoff handoff;
    TimedList timed(list, 4'000'000);
    CaptureSession session(handoff, timed, [&] { return std::make_unique<Source>(gap); });
    session.SetSelectedLocalAddress("10.0.0.9");
    session.OpenCaptureSocket();
    QElapsedTimer t;
    t.start();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    session.StartCaptureThread();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    session.Stop();
    const double seconds = static_cast<double>(t.elapsed()) / 1000.0;
    const uint64_t rows = session.RowsInserted();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    auto us = [](const timeval& tv) { return double(tv.tv_sec) * 1e6 + double(tv.tv_usec); };
    const double cpuUs =
        us(after.ru_utime) - us(before.ru_utime) + us(after.ru_stime) - us(before.ru_stime);
    const uint64_t batches = handoff.TasksRun();
    std::printf("%-28s %10.0f rows/s   latency median %7.1f us   p99 %7.1f us   (%llu rows)\n",
                label, static_cast<double>(rows) / seconds, PercentileUs(timed.latenciesNs, 0.5),
                PercentileUs(timed.latenciesNs, 0.99), static_cast<unsigned long long>(rows));
    std::printf("%-28s CPU %.2f us a row; %llu batches, %.1f a second, %.0f rows each\n", "",
                rows ? cpuUs / double(rows) : 0.0, static_cast<unsigned long long>(batches),
                static_cast<double>(batches) / seconds,
                batches ? static_cast<double>(rows) / static_cast<double>(batches) : 0.0);
}

void Sorts(CSortListCtrl& list) {
    std::mt19937 rng(1);  // 32-bit results
    auto next = [&rng] { return static_cast<unsigned>(rng()); };
    auto fill = [&] {
        list.DeleteAllItems();
        for (int i = 0; i < 500; ++i) {
            char time[32], addr[32], port[8];
            std::snprintf(time, sizeof time, "2026-12-07 09:%02u:%02u", next() % 60, next() % 60);
            std::snprintf(addr, sizeof addr, "%u.%u.%u.%u", next() % 256, next() % 256,
                          next() % 256, next() % 256);
            std::snprintf(port, sizeof port, "%u", next() % 65536);
            const int r = list.InsertItem(0, time);
            list.SetItemText(r, 1, addr);
            list.SetItemText(r, 2, port);
            for (int c = 3; c < 8; ++c)
                list.SetItemText(r, c, "x");
        }
    };
    for (auto [col, name] : {std::pair{0, "time"}, std::pair{1, "address"}, std::pair{2, "port"}}) {
        std::vector<double> ms;
        for (int rep = 0; rep < 20; ++rep) {
            fill();
            QElapsedTimer t;
            t.start();
            list.SortByColumnText(col, rep % 2);
            ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        }
        std::printf("sort 500 rows by %-8s      median %6.2f ms   max %6.2f ms\n", name,
                    Quantile(ms, 0.5), Quantile(ms, 1.0));
    }
}

}  // namespace

int main(int argc, char** argv) {
    int busy = 0;
    std::string only;  // flat, paced or sort: that part alone
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--busy")
            busy = std::atoi(argv[i + 1]);
        else if (name == "--only")
            only = argv[i + 1];
        else {
            std::fprintf(stderr, "usage: bench_gui_list [--busy N] [--only flat|paced|sort]\n");
            return 2;
        }
    }
    // Other work on the machine: CPU-bound processes at ordinary priority,
    // forked before any thread of ours exists.
    BusyLoad load(busy);
    if (busy)
        std::printf("with %d CPU-bound processes beside it\n", busy);
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ShownList shown;
    CSortListCtrl& list = shown.list;
    if (only.empty() || only == "flat")
        Stream(list, std::chrono::microseconds(0), 3000, "flat out, window shown");
    if (only.empty() || only == "paced")
        Stream(list, std::chrono::microseconds(1000), 2000, "1 datagram per ms");
    if (only.empty() || only == "sort")
        Sorts(list);
    return 0;
}
