#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "history/usage_history.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "tests/file_size_limit.h"
#include "tests/history/history_test_util.h"
#include "tests/small_tmpfs.h"

namespace {

constexpr int64_t kEast8 = 8 * 3600;  // the tests' time zone: UTC+8, no summer time
constexpr int64_t kDay = 86400;
// 2026-12-09 00:00 local (16:00 UTC the day before).
constexpr int64_t kToday = 1796745600;

int64_t Floor(int64_t t, int64_t step) {
    return (t % step < 0 ? t / step - 1 : t / step) * step;
}
int64_t HourOf(int64_t t) {
    return Floor(t + kEast8, 3600) - kEast8;
}
int64_t DayOf(int64_t t) {
    return Floor(t + kEast8, kDay) - kEast8;
}

uint64_t Bytes(const UsageCounts& c) {
    return c.bytesIn + c.bytesOut;
}

class History : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(folder_.path().empty());
        path_ = folder_.path() + "/data/quorvelan/usage.sqlite";
    }
    UsageHistory::Options Options() {
        UsageHistory::Options o;
        o.path = path_;
        o.clock = [this] { return now_; };
        o.utcOffset = [](int64_t) { return kEast8; };
        return o;
    }
    std::string FileText(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void WriteFile(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

    TempFolder folder_;
    std::string path_;
    int64_t now_ = kToday + 12 * 3600;
};

// What the queries should say, counted the plain way.
struct Model {
    std::map<std::pair<int64_t, std::string>, UsageCounts> minutes, hours, days;
    std::map<std::pair<std::string, std::string>, UsageCounts> programs;  // name, executable
    std::map<std::string, UsageCounts> hosts;
    std::map<std::string, std::map<std::string, UsageCounts>> hostsOfProgram;
    std::map<std::string, std::map<std::pair<std::string, std::string>, UsageCounts>>
        programsOfHost;
    // Programs as the alerts know them: by executable, else by name.
    std::set<std::string> knownPrograms, hostAddresses;

    void Add(const UsageSample& s) {
        const int64_t t = s.minute * 60;
        minutes[{t, s.program}] += s.counts;
        hours[{HourOf(t), s.program}] += s.counts;
        days[{DayOf(t), s.program}] += s.counts;
        programs[{s.program, s.executable}] += s.counts;
        hosts[s.remoteAddress] += s.counts;
        hostsOfProgram[s.program][s.remoteAddress] += s.counts;
        programsOfHost[s.remoteAddress][{s.program, s.executable}] += s.counts;
        knownPrograms.insert(s.executable.empty() ? s.program : s.executable);
        hostAddresses.insert(s.remoteAddress);
    }
};

std::map<std::pair<int64_t, std::string>, UsageCounts> AsMap(const std::vector<UsageBucket>& v) {
    std::map<std::pair<int64_t, std::string>, UsageCounts> m;
    for (const UsageBucket& b : v)
        EXPECT_TRUE(m.emplace(std::make_pair(b.start, b.program), b.counts).second);
    // Buckets in order; in each, the programs by bytes, most first.
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end(), [](const auto& a, const auto& b) {
        return a.start != b.start ? a.start < b.start : Bytes(a.counts) > Bytes(b.counts);
    }));
    return m;
}

template <class Key>
void ExpectTotals(const std::vector<UsageTotal>& got, const std::map<Key, UsageCounts>& want,
                  size_t limit) {
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end(), [](const auto& a, const auto& b) {
        return Bytes(a.counts) > Bytes(b.counts);
    }));
    std::vector<uint64_t> wantBytes;
    for (const auto& [k, c] : want)
        wantBytes.push_back(Bytes(c));
    std::sort(wantBytes.rbegin(), wantBytes.rend());
    wantBytes.resize(std::min(limit, wantBytes.size()));
    std::vector<uint64_t> gotBytes;
    for (const UsageTotal& t : got) {
        gotBytes.push_back(Bytes(t.counts));
        Key key;
        if constexpr (std::is_same_v<Key, std::string>)
            key = t.key;
        else
            key = {t.key, t.detail};
        auto it = want.find(key);
        ASSERT_NE(it, want.end()) << t.key;
        EXPECT_EQ(t.counts, it->second) << t.key;
    }
    EXPECT_EQ(gotBytes, wantBytes);
}

// Random traffic over three days, written in batches, partly by the
// destructor and across reopenings, reads back as the same totals by minute,
// hour, local day, program, host and each pairing; the folder and file are
// the user's alone.
TEST_F(History, RandomTrafficReadsBackByEveryBucketAndTotal) {
    std::mt19937_64 random(31);
    Model model;
    now_ = kToday + 20 * 3600;
    const int64_t firstMinute = (now_ - 3 * kDay) / 60;
    const int64_t lastMinute = now_ / 60;
    auto history = std::make_unique<UsageHistory>(Options());
    ASSERT_EQ(history->State(), HistoryState::kRecording);
    ASSERT_TRUE(history->Opened().ok);
    for (int i = 0; i < 4000; ++i) {
        const int p = static_cast<int>(random() % 12);
        UsageSample s =
            Sample(firstMinute + static_cast<int64_t>(random() % (lastMinute - firstMinute + 1)),
                   "prog" + std::to_string(p), "198.51.100." + std::to_string(random() % 60),
                   random() % 100000 + 1, random() % 50000);
        if (p == 11)  // one name, two executables
            s.executable = random() % 2 ? "/opt/a/prog11" : "/opt/b/prog11";
        if (i % 7 == 3)
            s.remoteAddress = "2001:db8::" + std::to_string(random() % 9);
        s.protocol = random() % 2 ? 6 : 17;
        s.localAddress = random() % 3 ? "10.0.0.2" : "fe80::2";
        history->Add(s);
        model.Add(s);
        if (i % 500 == 499)
            history->Flush();
        if (i % 1300 == 1299) {  // the destructor writes what is pending
            history.reset();
            history = std::make_unique<UsageHistory>(Options());
        }
    }
    history.reset();

    UsageQuery query(path_);
    const int64_t from = firstMinute * 60 - kDay, to = now_ + kDay;
    EXPECT_EQ(AsMap(query.Buckets(from, to, Granularity::kDay)), model.days);
    EXPECT_EQ(AsMap(query.Buckets(from, to, Granularity::kHour)), model.hours);
    auto recentMinutes = model.minutes;  // only the last two hours are kept
    std::erase_if(recentMinutes, [&](const auto& m) { return m.first.first < now_ - 2 * 3600; });
    EXPECT_EQ(AsMap(query.Buckets(from, to, Granularity::kMinute)), recentMinutes);

    ExpectTotals(query.TopPrograms(from, to, 100), model.programs, 100);
    ExpectTotals(query.TopHosts(from, to, 5), model.hosts, 5);
    ExpectTotals(query.TopHosts(from, to, 1000), model.hosts, 1000);
    ExpectTotals(query.HostsOfProgram(from, to, "prog11", 1000), model.hostsOfProgram["prog11"],
                 1000);
    ExpectTotals(query.ProgramsOfHost(from, to, "2001:db8::4", 1000),
                 model.programsOfHost["2001:db8::4"], 1000);
    // A range takes the local days that begin in it.
    UsageCounts today;
    for (const auto& [key, c] : model.days)
        if (key.first == kToday)
            today += c;
    EXPECT_EQ(Sum(query.TopPrograms(kToday, kToday + kDay, 100)), today);
    EXPECT_TRUE(query.TopHosts(to, to + kDay, 10).empty());

    const auto known = query.KnownPrograms();
    EXPECT_EQ(std::set<std::string>(known.begin(), known.end()), model.knownPrograms);
    const auto hosts = query.KnownHosts(1000);
    EXPECT_EQ(std::set<std::string>(hosts.begin(), hosts.end()), model.hostAddresses);
    EXPECT_EQ(query.KnownHosts(3).size(), 3u);

    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(stat((folder_.path() + "/data/quorvelan").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(ReadOne(path_, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(ReadOne(path_, "PRAGMA journal_mode"), "wal");
}

// An hour or a day begins at its local start: 01:00 at UTC+8 is the next
// local day though still the same UTC day. A host keeps the latest name it
// was given; an empty one does not erase it.
TEST_F(History, LocalDaysAndTheLatestHostName) {
    const int64_t lateUtc = kToday + kDay + 3600;  // 01:00 local, 17:00 UTC the day before
    now_ = lateUtc + 60;
    // A window opened before the file exists reads nothing, then what comes.
    UsageQuery query(path_);
    EXPECT_TRUE(query.KnownPrograms().empty());
    EXPECT_TRUE(query.Buckets(0, INT64_MAX, Granularity::kDay).empty());
    {
        UsageHistory history(Options());
        history.Add(Sample(lateUtc / 60, "a", "192.0.2.1", 10));
        history.Flush();
        history.Add(Sample(lateUtc / 60, "a", "192.0.2.1", 5, 0, "one.example"));
        history.Flush();
        history.Add(Sample(lateUtc / 60, "a", "192.0.2.1", 1, 0, "two.example"));
        history.Flush();
        history.Add(Sample(lateUtc / 60, "a", "192.0.2.1", 1));
    }
    const auto days = query.Buckets(0, INT64_MAX, Granularity::kDay);
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days[0].start, kToday + kDay);
    EXPECT_EQ(days[0].counts.bytesIn, 17u);
    const auto hours = query.Buckets(0, INT64_MAX, Granularity::kHour);
    ASSERT_EQ(hours.size(), 1u);
    EXPECT_EQ(hours[0].start, kToday + kDay + 3600);
    const auto hosts = query.TopHosts(0, INT64_MAX, 10);
    ASSERT_EQ(hosts.size(), 1u);
    EXPECT_EQ(hosts[0].detail, "two.example");
}

// Past the cap of rows a minute, each program's further hosts go to its one
// "其他" row and no byte is lost; past the cap of rows waiting, samples are
// dropped and counted. Hostile texts are kept bounded.
TEST_F(History, BusyMinutesAreFoldedThenDroppedWithinBounds) {
    UsageHistory::Options o = Options();
    o.maxKeysPerMinute = 10;
    o.maxPendingKeys = 40;
    UsageHistory history(o);
    const int64_t minute = now_ / 60;
    uint64_t total = 0;
    for (int h = 0; h < 50; ++h)
        for (const char* program : {"a", "b"}) {
            history.Add(Sample(minute, program, "203.0.113." + std::to_string(h), h + 1));
            total += h + 1;
        }
    // The next minute has room of its own.
    history.Add(Sample(minute + 1, "a", "203.0.113.200", 7));
    total += 7;
    // Texts from outside are clipped, not stored whole, at a character's edge.
    std::string huge(100000, 'x');
    huge[255] = '\xE4';  // a three-byte character across the clipping point
    huge[256] = '\xBD';
    huge[257] = '\xA0';
    UsageSample pathless = Sample(minute + 1, huge, "203.0.113.200", 1);
    pathless.executable.clear();  // known by its name
    history.Add(pathless);
    total += 1;
    EXPECT_EQ(history.Dropped(), 0u);
    // Rows waiting: 10 + 2 + 2 = 14; 26 more fit, the rest are dropped.
    for (int m = 0; m < 40; ++m)
        history.Add(Sample(minute - 100 - m, "c", "203.0.113.1", 1));
    EXPECT_EQ(history.Dropped(), 14u);
    total += 26;
    history.Flush();

    UsageQuery query(path_);
    const auto hosts = query.TopHosts(0, INT64_MAX, 1000);
    EXPECT_EQ(Sum(hosts).bytesIn, total);
    EXPECT_LE(hosts.size(), 10u + 1u + 1u);
    const auto other = std::find_if(hosts.begin(), hosts.end(),
                                    [](const UsageTotal& t) { return t.key == kOtherHosts; });
    ASSERT_NE(other, hosts.end());
    EXPECT_EQ(other->detail, LoadStringUtf8(IDS_HISTORY_OTHER_HOSTS));
    const auto folded = query.ProgramsOfHost(0, INT64_MAX, std::string(kOtherHosts), 10);
    EXPECT_EQ(folded.size(), 2u);  // one row per program
    const auto programs = query.KnownPrograms();
    ASSERT_EQ(programs.size(), 4u);
    EXPECT_EQ(programs.back(), std::string(255, 'x'));
}

// A file that is not SQLite, a SQLite file of another program, and a file of
// ours damaged inside: each goes aside, with its log, and a new file records.
// A file of a newer version is left as it is and nothing is recorded.
TEST_F(History, DamagedForeignAndNewerFiles) {
    {
        UsageHistory first(Options());  // makes the folder and a good file
        first.Add(Sample(now_ / 60, "a", "192.0.2.1", 1));
    }
    const std::string good = FileText(path_);

    struct Case {
        const char* what;
        std::function<void()> spoil;
        bool atOpen;  // found on opening, else on the first write
    };
    const Case cases[] = {
        {"not SQLite", [&] { WriteFile(path_, std::string(9000, '\x5A')); }, true},
        {"another program's",
         [&] {
             unlink(path_.c_str());
             sqlite3* db = nullptr;
             sqlite3_open(path_.c_str(), &db);
             sqlite3_exec(db, "CREATE TABLE notes(x); INSERT INTO notes VALUES(1);", nullptr,
                          nullptr, nullptr);
             sqlite3_close(db);
         },
         true},
        {"ours, pages overwritten",
         [&] {
             std::string bytes = good;
             const size_t page = 4096;
             ASSERT_GT(bytes.size(), 2 * page);
             std::fill(bytes.begin() + page, bytes.end(), '\xFF');
             WriteFile(path_, bytes);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.spoil();
        const std::string spoilt = FileText(path_);
        WriteFile(path_ + "-wal", "not a log of this file");
        now_ += 10;  // each aside gets a name of its own
        UsageHistory history(Options());
        EXPECT_EQ(history.State(), HistoryState::kRecording);
        EXPECT_TRUE(history.Opened().ok);
        history.Add(Sample(now_ / 60, "b", "192.0.2.2", 42));
        history.Flush();
        EXPECT_EQ(history.State(), HistoryState::kRecording);
        const std::string message = c.atOpen ? history.Opened().message : history.StateMessage();
        EXPECT_NE(message.find("usage.sqlite.damaged-"), std::string::npos) << message;
        if (c.atOpen) {
            const std::string aside = history.Opened().movedAside;
            EXPECT_EQ(FileText(aside), spoilt);
            // Not SQLite's to read, its log is kept beside it, untouched; a
            // SQLite file's own log is SQLite's to replay.
            if (c.what == std::string("not SQLite"))
                EXPECT_EQ(FileText(aside + "-wal"), "not a log of this file");
            else
                EXPECT_EQ(ReadOne(aside, "SELECT x FROM notes"), "1");
        }
        EXPECT_EQ(ReadOne(path_, "PRAGMA integrity_check"), "ok");
        const auto hosts = UsageQuery(path_).TopHosts(0, INT64_MAX, 10);
        ASSERT_EQ(hosts.size(), 1u);
        EXPECT_EQ(hosts[0].counts.bytesIn, 42u);
    }

    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const std::string newer = FileText(path_);
    UsageHistory history(Options());
    EXPECT_EQ(history.State(), HistoryState::kStopped);
    EXPECT_FALSE(history.Opened().ok);
    EXPECT_TRUE(history.Opened().movedAside.empty());
    EXPECT_EQ(history.StateMessage(), FormatUtf8(IDS_HISTORY_NEWER, {path_}));
    history.Add(Sample(now_ / 60, "b", "192.0.2.2", 42));
    history.Flush();
    EXPECT_EQ(FileText(path_), newer);
}

// A second instance on the same file records nothing and says so, while its
// queries read what the first writes; once the first is gone the file is
// writable again.
TEST_F(History, SecondInstanceReadsAndDoesNotWrite) {
    auto first = std::make_unique<UsageHistory>(Options());
    first->Add(Sample(now_ / 60, "a", "192.0.2.1", 100));
    first->Flush();

    UsageHistory second(Options());
    EXPECT_EQ(second.State(), HistoryState::kReadOnly);
    EXPECT_TRUE(second.Opened().ok);
    EXPECT_EQ(second.Opened().message, LoadStringUtf8(IDS_HISTORY_READ_ONLY));
    second.Add(Sample(now_ / 60, "b", "192.0.2.1", 1000));
    second.Flush();
    EXPECT_EQ(second.Dropped(), 1u);

    UsageQuery query(path_);
    first->Add(Sample(now_ / 60, "a", "192.0.2.1", 11));
    first->Flush();
    EXPECT_EQ(Sum(query.TopPrograms(0, INT64_MAX, 10)).bytesIn, 111u);

    first.reset();
    UsageHistory third(Options());
    EXPECT_EQ(third.State(), HistoryState::kRecording);
    third.Add(Sample(now_ / 60, "c", "192.0.2.1", 1));
    third.Flush();
    EXPECT_EQ(Sum(query.TopPrograms(0, INT64_MAX, 10)).bytesIn, 112u);
}

// A minute with no traffic is written all the same: the history goes on
// recording, and its retention follows the clock of the idle minutes.
TEST_F(History, IdleMinutesKeepRecordingAndFollowTheClock) {
    UsageHistory history(Options());
    UsageQuery query(path_);
    history.Add(Sample(now_ / 60, "a", "192.0.2.1", 100));
    history.Flush();
    for (int i = 0; i < 3; ++i) {
        now_ += 3600;
        history.Flush();
        EXPECT_EQ(history.State(), HistoryState::kRecording);
        EXPECT_EQ(history.StateMessage(), "");
    }
    EXPECT_TRUE(query.Buckets(INT64_MIN, INT64_MAX, Granularity::kMinute).empty());
    EXPECT_EQ(Sum(query.TopPrograms(INT64_MIN, INT64_MAX, 10)).bytesIn, 100u);
    history.Add(Sample(now_ / 60, "a", "192.0.2.1", 7));
    history.Flush();
    EXPECT_EQ(Sum(query.TopPrograms(INT64_MIN, INT64_MAX, 10)).bytesIn, 107u);
    EXPECT_EQ(history.Dropped(), 0u);
}

// The bytes in usage_day of the file alone, as a power cut would leave it
// were the log lost: read from a copy without the log; -1 when unreadable.
int64_t DayBytesInFileAlone(const std::string& path, const std::string& copy) {
    std::ifstream in(path, std::ios::binary);
    std::ofstream(copy, std::ios::binary | std::ios::trunc) << in.rdbuf();
    sqlite3* db = nullptr;
    int64_t bytes = -1;
    const std::string uri = "file:" + copy + "?immutable=1";
    if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT total(bytes_in) FROM usage_day", -1, &stmt, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            bytes = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return bytes;
}

// The writer copies its log into the file itself (the checkpoint, when the
// file is synced) not inside a minute's commit but after it, once the log
// has waited ten minutes: what a power cut can take stays bounded.
TEST_F(History, TheLogReachesTheFileWithinTenMinutes) {
    UsageHistory history(Options());
    const std::string copy = folder_.path() + "/alone.sqlite";
    history.Add(Sample(now_ / 60, "a", "192.0.2.1", 100));
    history.Flush();
    now_ += 60;
    history.Add(Sample(now_ / 60, "a", "192.0.2.1", 20));
    history.Flush();
    history.Flush();  // and whatever the writer does after a write
    EXPECT_LT(DayBytesInFileAlone(path_, copy), 120);
    now_ += 600;
    history.Flush();  // an idle minute, after which the checkpoint is due
    history.Flush();
    EXPECT_EQ(DayBytesInFileAlone(path_, copy), 120);
    EXPECT_EQ(history.State(), HistoryState::kRecording);
}

// Fills the history's disk: the file may grow by `room` bytes from now.
// What fills it is one minute of many hosts, in one transaction.
void Overfill(UsageHistory& history, int64_t minute) {
    for (int i = 0; i < 20000; ++i)
        history.Add(Sample(minute, "a", "2001:db8::" + std::to_string(i), 1));
    history.Flush();
}

// After a write refused for want of room, what was there before reads whole
// and the refused minute is not half there; the file opens and records again.
void ExpectWholeAfterRefusal(const std::string& path, const UsageHistory::Options& options) {
    EXPECT_EQ(ReadOne(path, "PRAGMA integrity_check"), "ok");
    const auto programs = UsageQuery(path).TopPrograms(0, INT64_MAX, 10);
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0].counts.bytesIn, 100u);
    UsageHistory again(options);
    EXPECT_EQ(again.State(), HistoryState::kRecording);
}

// A write refused past a file size limit (how a quota or a full disk looks
// to SQLite's writes) stops the history with one message that stays; the
// caller goes on adding without harm.
TEST_F(History, RefusedWriteStopsWithOneMessage) {
    auto history = std::make_unique<UsageHistory>(Options());
    history->Add(Sample(now_ / 60, "a", "192.0.2.1", 100));
    history->Flush();
    {
        struct stat db {
        }, wal{};
        stat(path_.c_str(), &db);
        stat((path_ + "-wal").c_str(), &wal);
        FileSizeLimit limit(static_cast<size_t>(std::max(db.st_size, wal.st_size)) + 8192);
        Overfill(*history, now_ / 60);
        EXPECT_EQ(history->State(), HistoryState::kStopped);
        const std::string message = history->StateMessage();
        EXPECT_FALSE(message.empty());
        const uint64_t dropped = history->Dropped();
        history->Add(Sample(now_ / 60, "a", "192.0.2.1", 100));
        history->Flush();
        EXPECT_EQ(history->Dropped(), dropped + 1);
        EXPECT_EQ(history->StateMessage(), message);
        history.reset();
    }
    ExpectWholeAfterRefusal(path_, Options());
}

// A disk that is really full (a small tmpfs in a mount namespace of this
// process's own) says so: SQLITE_FULL is the full-disk message.
TEST_F(History, FullTmpfsSaysTheDiskIsFull) {
    if (const std::string refused = MountSmallTmpfs(folder_.path(), 512 << 10); !refused.empty()) {
        ASSERT_FALSE(MustMountTmpfs()) << refused;
        GTEST_SKIP() << refused;
    }
    {
        UsageHistory history(Options());
        history.Add(Sample(now_ / 60, "a", "192.0.2.1", 100));
        history.Flush();
        Overfill(history, now_ / 60);
        EXPECT_EQ(history.State(), HistoryState::kStopped);
        EXPECT_EQ(history.StateMessage(), LoadStringUtf8(IDS_HISTORY_DISK_FULL));
    }
    ExpectWholeAfterRefusal(path_, Options());
    umount(folder_.path().c_str());
}

// The clock going back, forward, and samples from far off: every sample is
// counted once in its hour and day, retention deletes only what is past it
// by the clock of the moment, and a clock set back deletes nothing more.
TEST_F(History, ClockJumpsNeitherLoseNorDoubleCount) {
    UsageHistory history(Options());
    UsageQuery query(path_);
    std::map<int64_t, uint64_t> bytesOf;  // per minute
    uint64_t all = 0;
    auto step = [&](int64_t clock, std::initializer_list<int64_t> minutes) {
        now_ = clock;
        for (int64_t m : minutes) {
            const uint64_t bytes = 1000 + all % 97;
            history.Add(Sample(m, "a", "192.0.2." + std::to_string(bytes % 200), bytes));
            bytesOf[m] += bytes;
            all += bytes;
        }
        history.Flush();
    };
    auto dayTotal = [&] { return Sum(query.TopHosts(INT64_MIN, INT64_MAX, 1000)).bytesIn; };
    auto hourTotal = [&] {
        uint64_t sum = 0;
        for (const UsageBucket& b : query.Buckets(INT64_MIN, INT64_MAX, Granularity::kHour))
            sum += b.counts.bytesIn;
        return sum;
    };
    const int64_t start = now_;
    step(start, {start / 60, start / 60 - 1, start / 60 - 90});
    // Back three days: the samples carry the old clock's minutes.
    step(start - 3 * kDay, {(start - 3 * kDay) / 60, (start - 3 * kDay) / 60 + 1});
    EXPECT_EQ(dayTotal(), all);
    EXPECT_EQ(hourTotal(), all);
    // Forward five days: the minutes go, the hours and days stay whole.
    const int64_t later = start + 5 * kDay;
    step(later, {later / 60});
    EXPECT_EQ(dayTotal(), all);
    EXPECT_EQ(hourTotal(), all);
    EXPECT_EQ(query.Buckets(INT64_MIN, INT64_MAX, Granularity::kMinute).size(), 1u);
    // From far off: the year 2100, and 200 days ago, past the month of hours
    // (its hour goes at once, its day stays).
    const int64_t future = 4102444800 / 60;
    const int64_t past = (start - 200 * kDay) / 60;
    step(later, {future, past});
    EXPECT_EQ(dayTotal(), all);
    EXPECT_EQ(hourTotal(), all - bytesOf[past]);
    const auto futureDays =
        query.Buckets(future * 60 - kDay, future * 60 + kDay, Granularity::kDay);
    ASSERT_EQ(futureDays.size(), 1u);
    EXPECT_EQ(futureDays[0].start, DayOf(future * 60));
    EXPECT_EQ(futureDays[0].counts.bytesIn, bytesOf[future]);
    // Back again: nothing more is deleted, nothing counted twice.
    step(start, {start / 60});
    EXPECT_EQ(dayTotal(), all);
    EXPECT_EQ(hourTotal(), all - bytesOf[past]);
    // Two years on, every day past a year goes; the future's stays.
    const int64_t far = start + 730 * kDay;
    step(far, {far / 60});
    EXPECT_EQ(dayTotal(), bytesOf[future] + bytesOf[far / 60]);
}

}  // namespace

// The full-disk test runs as a test of its own: when all it selects are
// skipped, the run reports CTest's skip code.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    const auto* unit = testing::UnitTest::GetInstance();
    if (status == 0 && unit->test_to_run_count() > 0 &&
        unit->skipped_test_count() == unit->test_to_run_count())
        return 77;
    return status;
}
