#pragma once
// The event list as the benchmarks use it: the real list of the window, shown
// offscreen, and receive-to-row latency: from when the datagram was captured
// (the endpoint's capture time, on the system clock) to its row's insertion.
// The capture thread waits for each insertion before it receives again, so
// the stamp read at insertion belongs to that row's datagram.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

#include <QTableView>

#include "capture/clock.h"
#include "capture/event_list.h"
#include "ui/sortlistctrl.h"

// The real list, recording per row the wait since its datagram was received,
// into room reserved once: rows past it go unrecorded rather than allocate.
class TimedList final : public EventList {
  public:
    TimedList(CSortListCtrl& list, const std::atomic<int64_t>& stamp, size_t room)
        : list_(list), stamp_(stamp) {
        latenciesNs.reserve(room);
    }
    int GetItemCount() const override { return list_.GetItemCount(); }
    bool DeleteAllItems() override { return list_.DeleteAllItems(); }
    int InsertItem(int item, std::string_view text) override {
        if (latenciesNs.size() < latenciesNs.capacity())
            latenciesNs.push_back(WallClockNs() - stamp_.load(std::memory_order_acquire));
        return list_.InsertItem(item, text);
    }
    bool SetItemText(int item, int sub, std::string_view text) override {
        return list_.SetItemText(item, sub, text);
    }
    std::vector<int64_t> latenciesNs;

  private:
    CSortListCtrl& list_;
    const std::atomic<int64_t>& stamp_;
};

// N CPU-bound processes of ordinary priority beside the benchmark, as a build
// beside the monitor; ended when this goes out of scope, and never outliving
// the benchmark (each also ends by itself after `seconds`).
class BusyLoad {
  public:
    explicit BusyLoad(int n, int seconds = 3600) {
        for (int i = 0; i < n; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                alarm(static_cast<unsigned>(seconds));
                volatile unsigned long spin = 0;
                for (;;)
                    spin = spin + 1;
            }
            if (pid > 0)
                pids_.push_back(pid);
        }
    }
    ~BusyLoad() {
        for (pid_t p : pids_)
            kill(p, SIGKILL);
        for (pid_t p : pids_)
            waitpid(p, nullptr, 0);
    }
    BusyLoad(const BusyLoad&) = delete;
    BusyLoad& operator=(const BusyLoad&) = delete;

  private:
    std::vector<pid_t> pids_;
};

// The p-quantile of a non-empty `v`; sorts it.
template <typename T>
T Quantile(std::vector<T>& v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

// The p-quantile in µs, -1 when nothing was recorded; sorts `v`.
inline double PercentileUs(std::vector<int64_t>& v, double p) {
    return v.empty() ? -1 : static_cast<double>(Quantile(v, p)) / 1e3;
}

// The window's list at the window's size, shown on the offscreen platform.
struct ShownList {
    ShownList() {
        view.resize(884, 318);
        list.Attach(&view);
        view.show();
    }
    QTableView view;
    CSortListCtrl list;
};
