#include <algorithm>
#include <map>
#include <mutex>
#include <unordered_map>

#include "history/sqlite_handle.h"
#include "history/usage_history.h"
#include "history/usage_store.h"

namespace {

const char* FactTable(Granularity g) {
    switch (g) {
        case Granularity::kMinute:
            return "usage_minute";
        case Granularity::kHour:
            return "usage_hour";
        case Granularity::kDay:
            break;
    }
    return "usage_day";
}

UsageCounts CountsAt(const SqliteStmt& s, int first) {
    return {static_cast<uint64_t>(s.Int(first)), static_cast<uint64_t>(s.Int(first + 1)),
            static_cast<uint64_t>(s.Int(first + 2)), static_cast<uint64_t>(s.Int(first + 3))};
}

int64_t Limit(size_t limit) {
    return limit > static_cast<size_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(limit);
}

}  // namespace

struct UsageQuery::Impl {
    std::string path;
    std::mutex mutex;
    SqliteDb db;

    // Opened on first use and again after a failure, so that a window opened
    // before the first write, or while the file was moved aside, reads later.
    bool Ready() {
        if (db)
            return true;
        if (db.Open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX) != SQLITE_OK)
            return false;
        sqlite3_busy_timeout(db.get(), 2000);
        int rc = SQLITE_OK;
        const int64_t app = db.Int("PRAGMA application_id", &rc);
        if (rc != SQLITE_OK || app != kHistoryApplicationId) {
            db.Close();
            return false;
        }
        return true;
    }

    // Runs `sql`, binding (from, to) as ?1, ?2 and `bind` the rest; `row` per row.
    template <class Bind, class Row>
    void Run(const std::string& sql, Bind bind, Row row) {
        std::lock_guard lock(mutex);
        if (!Ready())
            return;
        SqliteStmt stmt;
        int rc = stmt.Prepare(db.get(), sql.c_str());
        if (rc != SQLITE_OK) {
            // Not ours after all (replaced under us): try again next time.
            db.Close();
            return;
        }
        bind(stmt);
        while ((rc = stmt.Step()) == SQLITE_ROW)
            row(stmt);
        if (rc != SQLITE_DONE && (rc & 0xff) != SQLITE_BUSY)
            db.Close();
    }

    // Totals per program or host id, summed here in one pass over the range
    // in the table's key order: SQLite's GROUP BY would sort every row of the
    // range first. Names are read for the rows kept only.
    std::vector<UsageTotal> Totals(int64_t from, int64_t to, bool programs, const char* where,
                                   const std::string* filter, size_t limit) {
        const std::string sql = std::string("SELECT f.") + (programs ? "program" : "host") +
                                ", f.bytes_in, f.bytes_out, f.datagrams_in, f.datagrams_out"
                                " FROM usage_day f WHERE f.bucket >= ?1 AND f.bucket < ?2" +
                                where;
        std::unordered_map<int64_t, UsageCounts> sums;
        Run(
            sql,
            [&](SqliteStmt& s) {
                s.Bind(1, from).Bind(2, to);
                if (filter)
                    s.Bind(3, *filter);
            },
            [&](const SqliteStmt& s) { sums[s.Int(0)] += CountsAt(s, 1); });
        std::vector<std::pair<int64_t, UsageCounts>> ranked(sums.begin(), sums.end());
        const auto most = [](const auto& a, const auto& b) {
            const uint64_t x = a.second.bytesIn + a.second.bytesOut;
            const uint64_t y = b.second.bytesIn + b.second.bytesOut;
            return x != y ? x > y : a.first < b.first;
        };
        const size_t kept = std::min(limit, ranked.size());
        std::partial_sort(ranked.begin(), ranked.begin() + static_cast<ptrdiff_t>(kept),
                          ranked.end(), most);
        ranked.resize(kept);
        std::vector<UsageTotal> out;
        out.reserve(kept);
        const char* names = programs ? "SELECT name, executable FROM programs WHERE id = ?1"
                                     : "SELECT address, name FROM hosts WHERE id = ?1";
        for (const auto& ranks : ranked) {
            const auto id = ranks.first;  // named: clang 14 cannot capture a structured binding
            UsageTotal total{{}, {}, ranks.second};
            Run(
                names, [&](SqliteStmt& s) { s.Bind(1, id); },
                [&](const SqliteStmt& s) {
                    total.key = s.Text(0);
                    total.detail = s.Text(1);
                });
            out.push_back(std::move(total));
        }
        return out;
    }
};

UsageQuery::UsageQuery(const std::string& path) : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
}

UsageQuery::~UsageQuery() = default;

std::vector<UsageBucket> UsageQuery::Buckets(int64_t from, int64_t to, Granularity g) const {
    // One pass over the range in the key's order (bucket, program, ...): the
    // rows of one bucket and program follow each other and are summed as they
    // come; then named, and one name's executables summed as one program.
    struct Part {
        int64_t bucket, program;
        UsageCounts counts;
    };
    std::vector<Part> parts;
    const std::string sql = std::string(
                                "SELECT f.bucket, f.program, f.bytes_in, f.bytes_out,"
                                " f.datagrams_in, f.datagrams_out FROM ") +
                            FactTable(g) + " f WHERE f.bucket >= ?1 AND f.bucket < ?2";
    impl_->Run(
        sql, [&](SqliteStmt& s) { s.Bind(1, from).Bind(2, to); },
        [&](const SqliteStmt& s) {
            const int64_t bucket = s.Int(0), program = s.Int(1);
            if (parts.empty() || parts.back().bucket != bucket || parts.back().program != program)
                parts.push_back({bucket, program, {}});
            parts.back().counts += CountsAt(s, 2);
        });
    if (parts.empty())
        return {};
    std::unordered_map<int64_t, std::string> names;
    impl_->Run(
        "SELECT id, name FROM programs", [](SqliteStmt&) {},
        [&](const SqliteStmt& s) { names.emplace(s.Int(0), s.Text(1)); });

    std::vector<UsageBucket> out;
    std::map<std::string, UsageCounts> bucket;
    const auto most = [](const UsageBucket& a, const UsageBucket& b) {
        const uint64_t x = a.counts.bytesIn + a.counts.bytesOut;
        const uint64_t y = b.counts.bytesIn + b.counts.bytesOut;
        return x != y ? x > y : a.program < b.program;
    };
    for (size_t i = 0; i < parts.size(); ++i) {
        bucket[names[parts[i].program]] += parts[i].counts;
        if (i + 1 == parts.size() || parts[i + 1].bucket != parts[i].bucket) {
            const size_t first = out.size();
            for (auto& [name, counts] : bucket)
                out.push_back({parts[i].bucket, name, counts});
            std::sort(out.begin() + static_cast<ptrdiff_t>(first), out.end(), most);
            bucket.clear();
        }
    }
    return out;
}

std::vector<UsageTotal> UsageQuery::TopPrograms(int64_t from, int64_t to, size_t limit) const {
    return impl_->Totals(from, to, true, "", nullptr, limit);
}

std::vector<UsageTotal> UsageQuery::TopHosts(int64_t from, int64_t to, size_t limit) const {
    return impl_->Totals(from, to, false, "", nullptr, limit);
}

std::vector<UsageTotal> UsageQuery::HostsOfProgram(int64_t from, int64_t to,
                                                   const std::string& program, size_t limit) const {
    return impl_->Totals(from, to, false,
                         " AND f.program IN (SELECT id FROM programs WHERE name = ?3)", &program,
                         limit);
}

std::vector<UsageTotal> UsageQuery::ProgramsOfHost(int64_t from, int64_t to,
                                                   const std::string& address, size_t limit) const {
    return impl_->Totals(from, to, true, " AND f.host = (SELECT id FROM hosts WHERE address = ?3)",
                         &address, limit);
}

std::vector<std::string> UsageQuery::KnownPrograms() const {
    std::vector<std::string> out;
    impl_->Run(
        "SELECT DISTINCT CASE WHEN executable <> '' THEN executable ELSE name END AS program "
        "FROM programs ORDER BY program",
        [](SqliteStmt&) {}, [&](const SqliteStmt& s) { out.push_back(s.Text(0)); });
    return out;
}

std::vector<std::string> UsageQuery::KnownHosts(size_t limit) const {
    std::vector<std::string> out;
    impl_->Run(
        "SELECT address FROM hosts WHERE address <> '*' ORDER BY first_seen DESC, id DESC LIMIT ?1",
        [&](SqliteStmt& s) { s.Bind(1, Limit(limit)); },
        [&](const SqliteStmt& s) { out.push_back(s.Text(0)); });
    return out;
}
