#pragma once
// Usage remembered across runs: bytes and datagrams per program, remote host,
// local address, protocol and minute, kept in one SQLite file and rolled up
// into hours and days. One writer per file (UsageHistory, a thread of its
// own); any number of readers (UsageQuery). No Qt.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct UsageCounts {
    uint64_t bytesIn = 0, bytesOut = 0, datagramsIn = 0, datagramsOut = 0;
    UsageCounts& operator+=(const UsageCounts& o) {
        bytesIn += o.bytesIn;
        bytesOut += o.bytesOut;
        datagramsIn += o.datagramsIn;
        datagramsOut += o.datagramsOut;
        return *this;
    }
    bool operator==(const UsageCounts&) const = default;
};

// The remote address of the row that takes a minute's traffic past the cap
// of distinct rows (see UsageHistory::Options::maxKeysPerMinute): one such
// row per program. Its name is the string table's "其他".
inline constexpr std::string_view kOtherHosts = "*";

struct UsageSample {            // traffic of one minute for one (program, host, local, protocol)
    int64_t minute = 0;         // UTC seconds since the epoch / 60
    std::string program;        // shown name; empty when unknown
    std::string executable;     // path; empty when unknown
    std::string remoteAddress;  // text, IPv4 or IPv6
    std::string remoteName;     // best name known; empty when none
    std::string localAddress;
    uint8_t protocol = 0;
    UsageCounts counts;
};

enum class HistoryState {
    kRecording,
    kReadOnly,  // another instance writes the file; samples are dropped here
    kStopped,   // disk full or write error; samples are dropped from then on
    kClosed
};

class UsageHistory {  // the one writer; owns a writer thread
  public:
    struct Options {
        std::string path;  // empty: DefaultHistoryPath()
        int keepDays = 365;
        int keepHourDays = 31;
        int keepMinuteHours = 2;
        // Distinct rows one minute may hold before the rest of each program's
        // traffic goes to its kOtherHosts row.
        size_t maxKeysPerMinute = 4096;
        // All rows waiting for the writer, every minute together; past it a
        // sample is dropped (and counted) rather than memory grown.
        size_t maxPendingKeys = 65536;
        std::function<int64_t()> clock;  // UTC seconds; tests. Default: the system clock.
        // Seconds east of UTC at a UTC time: where local hours and days begin.
        // Default: the local time zone.
        std::function<int64_t(int64_t)> utcOffset;
    };
    struct OpenResult {
        bool ok = false;         // recording, or reading what another instance writes
        std::string movedAside;  // where a damaged or foreign file went; empty when none
        std::string message;     // UTF-8, for the user; empty when there is nothing to say
    };

    // Opens (or makes) the file on the calling thread and starts the writer;
    // never throws. Zero or less for keepDays or keepHourDays: kept for ever.
    explicit UsageHistory(Options);
    ~UsageHistory();  // writes what is pending, then closes
    UsageHistory(const UsageHistory&) = delete;
    UsageHistory& operator=(const UsageHistory&) = delete;

    const OpenResult& Opened() const;
    const std::string& Path() const;

    void Add(const UsageSample&);  // interface thread; cheap, never blocks on the disk; bounded
    void Flush();  // write what is pending now and wait for it (exit); at once when not recording
    HistoryState State() const;
    // The message of the present state, UTF-8: read-only, stopped (disk full,
    // write error), or a file found damaged while writing and moved aside;
    // empty when there is nothing to say. It changes at most once a write.
    std::string StateMessage() const;
    // Samples not kept (past the bound, read-only, stopped), and the rows of a
    // minute lost whole (the file busy past the timeout, or the write refused).
    uint64_t Dropped() const;
    // The retention, changed while running (the settings); used at the next write.
    void SetRetention(int keepDays, int keepHourDays);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

enum class Granularity { kMinute, kHour, kDay };

struct UsageBucket {
    int64_t start;  // UTC seconds; an hour or day begins at its local start
    std::string program;
    UsageCounts counts;
};
struct UsageTotal {
    std::string key;     // program or host address
    std::string detail;  // executable or name
    UsageCounts counts;
};

// Read-only connection of its own; any thread (calls are serialised). Every
// text is as recorded, from outside: show it escaped. A range [from, to)
// takes the buckets that begin in it; totals come from the day buckets, so
// pass local midnights.
class UsageQuery {
  public:
    explicit UsageQuery(const std::string& path);
    ~UsageQuery();
    UsageQuery(const UsageQuery&) = delete;
    UsageQuery& operator=(const UsageQuery&) = delete;

    // Per bucket, per program name; buckets in order, each bucket's programs by
    // bytes (in + out), most first.
    std::vector<UsageBucket> Buckets(int64_t from, int64_t to, Granularity) const;
    // Most bytes (in + out) first.
    std::vector<UsageTotal> TopPrograms(int64_t from, int64_t to, size_t limit) const;
    std::vector<UsageTotal> TopHosts(int64_t from, int64_t to, size_t limit) const;
    std::vector<UsageTotal> HostsOfProgram(int64_t from, int64_t to, const std::string& program,
                                           size_t limit) const;
    std::vector<UsageTotal> ProgramsOfHost(int64_t from, int64_t to, const std::string& address,
                                           size_t limit) const;
    // Every program ever recorded, as the alerts tell programs apart: by its
    // executable's path, by its name where the path was not known.
    std::vector<std::string> KnownPrograms() const;
    std::vector<std::string> KnownHosts(size_t limit) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

std::string DefaultHistoryPath();  // $XDG_DATA_HOME/quorvelan/usage.sqlite
