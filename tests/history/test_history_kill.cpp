#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>

#include "history/usage_history.h"
#include "tests/history/history_test_util.h"

namespace {

constexpr int kPerWrite = 37;  // samples of one byte each way per transaction
constexpr int64_t kNow = 1796745600;

// The child: writes transaction after transaction until it is killed.
[[noreturn]] void WriteForever(const std::string& path, int round) {
    UsageHistory::Options o;
    o.path = path;
    o.clock = [] { return kNow; };
    o.utcOffset = [](int64_t) { return int64_t{0}; };
    UsageHistory history(o);
    if (history.State() != HistoryState::kRecording)
        _exit(3);
    for (int64_t i = 0;; ++i) {
        for (int k = 0; k < kPerWrite; ++k) {
            UsageSample s = Sample(kNow / 60 - (i + k) % 90, "p" + std::to_string(k % 5),
                                   "198.51.100." + std::to_string((i * 7 + k + round) % 250), 1, 1);
            history.Add(s);
        }
        history.Flush();
    }
}

struct Totals {
    UsageCounts days, hours, minutes;
};

Totals Read(const std::string& path) {
    UsageQuery query(path);
    Totals t;
    t.days = Sum(query.TopPrograms(INT64_MIN, INT64_MAX, 1000));
    for (const UsageBucket& b : query.Buckets(INT64_MIN, INT64_MAX, Granularity::kHour))
        t.hours += b.counts;
    for (const UsageBucket& b : query.Buckets(INT64_MIN, INT64_MAX, Granularity::kMinute))
        t.minutes += b.counts;
    return t;
}

// SIGKILL at random moments while a child writes, again and again: the file
// stays whole, every transaction committed before the kill is there, and
// every total is a whole number of transactions, the same by minute, hour and
// day.
TEST(HistoryKill, KilledWriterNeverLeavesHalfAMinuteOrABrokenFile) {
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const std::string path = folder.path() + "/usage.sqlite";
    std::mt19937 random(20261209);
    uint64_t seen = 0;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            WriteForever(path, round);
        // Until this child has committed something: a bound on a hung child,
        // not a measure of speed.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        uint64_t before = seen;
        while (before == seen && std::chrono::steady_clock::now() < deadline) {
            usleep(1000);
            before = Read(path).days.bytesIn;
        }
        ASSERT_GT(before, seen) << "the child wrote nothing";
        // Half the kills land at once, the others after some more writes.
        if (random() % 2)
            usleep(static_cast<useconds_t>(random() % 30000));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "child exit " << WEXITSTATUS(status);

        EXPECT_EQ(ReadOne(path, "PRAGMA integrity_check"), "ok");
        const Totals t = Read(path);
        EXPECT_GE(t.days.bytesIn, before);
        EXPECT_EQ(t.days.bytesIn % kPerWrite, 0u);
        EXPECT_EQ(t.days,
                  (UsageCounts{t.days.bytesIn, t.days.bytesIn, t.days.bytesIn, t.days.bytesIn}));
        EXPECT_EQ(t.hours, t.days);
        EXPECT_EQ(t.minutes, t.days);
        seen = t.days.bytesIn;
    }
}

}  // namespace
