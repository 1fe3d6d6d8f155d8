#pragma once
// What the history tests share: a private folder, samples, and a look at the
// file through SQLite itself.
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>

#include "history/usage_history.h"

// Failures name the four counts, not the bytes of the struct.
inline void PrintTo(const UsageCounts& c, std::ostream* os) {
    *os << "{in " << c.bytesIn << " B/" << c.datagramsIn << ", out " << c.bytesOut << " B/"
        << c.datagramsOut << "}";
}

class TempFolder {
  public:
    TempFolder() {
        char dir[] = "/tmp/qvhistoryXXXXXX";
        if (mkdtemp(dir))
            path_ = dir;
    }
    ~TempFolder() {
        if (!path_.empty())
            std::system(("rm -rf " + path_).c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

inline UsageSample Sample(int64_t minute, std::string program, std::string remote, uint64_t bytesIn,
                          uint64_t bytesOut = 0, std::string name = {}) {
    UsageSample s;
    s.minute = minute;
    s.program = std::move(program);
    s.executable = s.program.empty() ? std::string() : "/usr/bin/" + s.program;
    s.remoteAddress = std::move(remote);
    s.remoteName = std::move(name);
    s.localAddress = "10.0.0.2";
    s.protocol = 6;
    s.counts = {bytesIn, bytesOut, bytesIn ? 1u : 0u, bytesOut ? 1u : 0u};
    return s;
}

// The first column of the first row of `sql` on the file, read-only; "" when
// it cannot be read.
inline std::string ReadOne(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    std::string out;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0))
            out = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return out;
}

inline UsageCounts Sum(const std::vector<UsageTotal>& totals) {
    UsageCounts sum;
    for (const UsageTotal& t : totals)
        sum += t.counts;
    return sum;
}
