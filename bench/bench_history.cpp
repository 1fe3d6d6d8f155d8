// A year of synthetic usage history for 200 programs and 20,000 hosts,
// written day by day through the real writer (its retention running as the
// days pass): the file's size at the end, the queries the 用量 window makes
// when it opens (30 days by day, today by hour, the top programs and hosts of
// 30 days) on a connection of their own, and the writer's cost for one busy
// minute on the year-old file, and apart from it what the writer does next
// (its checkpoint, when one is due) before the next minute comes.
//
//   bench_history [--days N (365)] [--pairs P (3000 program-host pairs a day)]
//                 [--minute-rows R (1000)] [--file PATH (kept; default a temporary one)]
//                 [--no-fill 1 (the file as it is: its year written by an earlier run)]
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "history/usage_history.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPrograms = 200;
constexpr int kHosts = 20000;
constexpr int64_t kOffset = 8 * 3600;      // UTC+8
constexpr int64_t kFirstDay = 1765209600;  // 2025-12-09 00:00 at UTC+8

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The process's CPU time, every thread's (the writer's too), in ms: on a
// shared machine the wall time also holds the waits for a core.
double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

std::string HostAddress(int h) {
    if (h % 4 == 3)
        return "2001:db8:" + std::to_string(h / 256) + "::" + std::to_string(h % 256);
    return "10." + std::to_string(h / 65536) + "." + std::to_string(h / 256 % 256) + "." +
           std::to_string(h % 256);
}

// Few programs and hosts take most of the traffic, as on a desktop; a share
// of each day's hosts is drawn evenly, so the whole 20,000 are met in a year.
class Traffic {
  public:
    explicit Traffic(uint64_t seed) : random_(seed) {
        for (int i = 0; i < kPrograms; ++i)
            programWeights_.push_back(1.0 / (i + 1));
        for (int i = 0; i < kHosts; ++i)
            hostWeights_.push_back(1.0 / std::pow(i + 1, 0.9));
    }
    int Program() { return Pick(programWeights_, programs_); }
    int Host() {
        if (random_() % 10 < 3)
            return static_cast<int>(random_() % kHosts);
        return Pick(hostWeights_, hosts_);
    }
    uint64_t Next() { return random_(); }

  private:
    int Pick(const std::vector<double>& weights, std::discrete_distribution<int>& d) {
        if (d.max() == 0)
            d = std::discrete_distribution<int>(weights.begin(), weights.end());
        return d(random_);
    }
    std::mt19937_64 random_;
    std::vector<double> programWeights_, hostWeights_;
    std::discrete_distribution<int> programs_, hosts_;
};

// GCC 12 warns falsely (-Wrestrict) on "literal" + std::to_string(...).
std::string Join(const char* head, int n, const char* tail = "") {
    std::string s = head;
    s += std::to_string(n);
    s += tail;
    return s;
}

UsageSample Sample(Traffic& t, int64_t minute, int program, int host) {
    UsageSample s;
    s.minute = minute;
    s.program = Join("program-", program);
    s.executable = Join("/usr/lib/program-", program, "/bin/program");
    s.remoteAddress = HostAddress(host);
    s.remoteName = host % 3 ? Join("h", host, ".example.net") : "";
    s.localAddress = host % 4 == 3 ? "2001:db8:ffff::10" : "192.168.1.10";
    s.protocol = host % 7 == 0 ? 17 : 6;
    const uint64_t in = 200 + t.Next() % 2000000, out = 100 + t.Next() % 200000;
    s.counts = {in, out, in / 900 + 1, out / 500 + 1};
    return s;
}

long long FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int days = 365, pairs = 3000, minuteRows = 1000;
    bool fill = true;
    std::string path;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--days"))
            days = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--pairs"))
            pairs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--minute-rows"))
            minuteRows = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--file"))
            path = argv[i + 1];
        else if (!std::strcmp(argv[i], "--no-fill"))
            fill = std::atoi(argv[i + 1]) == 0;
    }
    std::string folder;
    if (path.empty()) {
        char dir[] = "/tmp/qvbenchhistoryXXXXXX";
        if (!mkdtemp(dir))
            return 1;
        folder = dir;
        path = folder + "/usage.sqlite";
    }

    int64_t now = kFirstDay;
    UsageHistory::Options options;
    options.path = path;
    options.clock = [&now] { return now; };
    options.utcOffset = [](int64_t) { return kOffset; };
    Traffic traffic(2026);

    // The year, one day a transaction: each pair of the day talks in one to
    // three of its hours, in one minute of each.
    auto fillStart = Clock::now();
    std::vector<double> dayWrites;
    {
        UsageHistory history(options);
        if (history.State() != HistoryState::kRecording) {
            std::fprintf(stderr, "cannot record: %s\n", history.StateMessage().c_str());
            return 1;
        }
        for (int d = 0; fill && d < days; ++d) {
            const int64_t dayStart = kFirstDay + int64_t{d} * 86400;
            now = dayStart + 86399;
            for (int p = 0; p < pairs; ++p) {
                const int program = traffic.Program(), host = traffic.Host();
                const int hours = 1 + static_cast<int>(traffic.Next() % 3);
                for (int h = 0; h < hours; ++h) {
                    const int64_t minute =
                        (dayStart + static_cast<int64_t>(traffic.Next() % 86400)) / 60;
                    history.Add(Sample(traffic, minute, program, host));
                }
            }
            const auto t0 = Clock::now();
            history.Flush();
            dayWrites.push_back(Ms(Clock::now() - t0));
        }
    }
    const double fillSeconds = Ms(Clock::now() - fillStart) / 1000;
    const long long size = FileSize(path), wal = FileSize(path + "-wal");

    // The 用量 window opening on the last day: a new connection, four queries.
    const int64_t today = kFirstDay + int64_t{days - 1} * 86400;
    const int64_t end = today + 86400;
    std::vector<double> opens, openCpu, q[4], qCpu[4];
    size_t rows[4] = {};
    for (int run = 0; run < 7; ++run) {
        const double c0 = CpuMs();
        const auto t0 = Clock::now();
        UsageQuery query(path);
        // Each query's wall time and CPU time (the caller's thread runs it).
        auto measure = [&](int i, auto&& call) {
            const double c = CpuMs();
            const auto t = Clock::now();
            rows[i] = call().size();
            q[i].push_back(Ms(Clock::now() - t));
            qCpu[i].push_back(CpuMs() - c);
        };
        measure(0, [&] { return query.Buckets(end - 30 * 86400, end, Granularity::kDay); });
        measure(1, [&] { return query.Buckets(today, end, Granularity::kHour); });
        measure(2, [&] { return query.TopPrograms(end - 30 * 86400, end, 50); });
        measure(3, [&] { return query.TopHosts(end - 30 * 86400, end, 50); });
        opens.push_back(Ms(Clock::now() - t0));
        openCpu.push_back(CpuMs() - c0);
    }

    // Busy minutes on the year-old file: each of `minuteRows` distinct rows.
    std::vector<double> minuteWrites, minuteCpu, afterWrites;
    double openWriter = 0;
    {
        now = today + 12 * 3600;
        const auto opening = Clock::now();
        UsageHistory history(options);
        // The first minute comes a minute after opening: the writer has
        // started (and read the known names into its caches) by then.
        history.Flush();
        openWriter = Ms(Clock::now() - opening);
        for (int m = 0; m < 30; ++m) {
            now += 60;
            for (int r = 0; r < minuteRows; ++r)
                history.Add(Sample(traffic, now / 60, traffic.Program(), traffic.Host()));
            const double c0 = CpuMs();
            const auto t0 = Clock::now();
            history.Flush();
            minuteWrites.push_back(Ms(Clock::now() - t0));
            minuteCpu.push_back(CpuMs() - c0);
            // The next minute is a minute away: an empty flush waits for
            // whatever the writer does after the minute's commit.
            const auto t1 = Clock::now();
            history.Flush();
            afterWrites.push_back(Ms(Clock::now() - t1));
        }
    }
    std::sort(minuteWrites.begin(), minuteWrites.end());
    std::sort(afterWrites.begin(), afterWrites.end());

    std::printf("days %d, pairs a day %d, programs %d, hosts %d\n", days, pairs, kPrograms, kHosts);
    if (fill)
        std::printf("fill: %.1f s; a day's write: median %.1f ms, max %.1f ms\n", fillSeconds,
                    Median(dayWrites), *std::max_element(dayWrites.begin(), dayWrites.end()));
    std::printf("file: %.1f MB (+ log %.1f MB)\n", size / 1e6, wal / 1e6);
    std::printf("window open (first, median of 7): %.1f ms, %.1f ms; CPU median %.1f ms\n",
                opens.front(), Median(opens), Median(openCpu));
    const char* names[4] = {"30 days by day", "today by hour", "top 50 programs, 30 days",
                            "top 50 hosts, 30 days"};
    for (int i = 0; i < 4; ++i)
        std::printf("  %s: %.1f ms, CPU %.1f ms (%zu rows)\n", names[i], Median(q[i]),
                    Median(qCpu[i]), rows[i]);
    std::printf(
        "a minute of %d rows: median %.1f ms, p90 %.1f ms, max %.1f ms; CPU median %.1f ms\n",
        minuteRows, Median(minuteWrites), minuteWrites[minuteWrites.size() * 9 / 10],
        minuteWrites.back(), Median(minuteCpu));
    std::printf("the writer opened on the year-old file, until idle: %.1f ms\n", openWriter);
    std::printf(
        "after each minute, until the writer is idle: median %.1f ms, p90 %.1f ms, max %.1f "
        "ms\n",
        Median(afterWrites), afterWrites[afterWrites.size() * 9 / 10], afterWrites.back());
    if (!folder.empty())
        std::system(("rm -rf " + folder).c_str());
    return 0;
}
