#pragma once
// The event list as the benchmarks use it: the real list of the window, shown
// offscreen, and receive-to-row latency: from when the datagram was captured
// (the capture time each row carries, on the system clock) to its row's
// insertion.
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
#include "capture/row_batch.h"
#include "ui/widgets/sortlistctrl.h"

// The real list, recording per row the wait since its datagram was received,
// into room reserved once: rows past it go unrecorded rather than allocate.
class TimedList final : public EventList {
  public:
    TimedList(CSortListCtrl& list, size_t room) : list_(list) { latenciesNs.reserve(room); }
    int GetItemCount() const override { return list_.GetItemCount(); }
    bool DeleteAllItems() override { return list_.DeleteAllItems(); }
    int InsertItem(int item, std::string_view text) override {
        return list_.InsertItem(item, text);
    }
    bool SetItemText(int item, int sub, std::string_view text) override {
        return list_.SetItemText(item, sub, text);
    }
    int InsertRow(int item, const EventRow& row, std::string_view attachment) override {
        if (latenciesNs.size() < latenciesNs.capacity()) {
            const int64_t captured = ReadRowAttachment(attachment).captureTimeNs;
            latenciesNs.push_back(WallClockNs() - captured);
        }
        return list_.InsertRow(item, row, attachment);
    }
    void BeginBatch() override { list_.BeginBatch(); }
    void EndBatch() override {
        list_.EndBatch();
        ++batches;
    }
    std::vector<int64_t> latenciesNs;
    uint64_t batches = 0;

  private:
    CSortListCtrl& list_;
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
