#include <mutex>

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

constexpr const char* kSums =
    "sum(f.bytes_in) AS bi, sum(f.bytes_out) AS bo, sum(f.datagrams_in) AS di,"
    " sum(f.datagrams_out) AS do_";

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

    std::vector<UsageTotal> Totals(int64_t from, int64_t to, const char* group, const char* join,
                                   const char* where, const std::string* filter, size_t limit) {
        // Summed per id first and joined to the names after the limit: the join
        // then runs for the rows shown only.
        const std::string sql = std::string("SELECT d.") + join + ", t.bi, t.bo, t.di, t.do_" +
                                " FROM (SELECT f." + group + " AS id, " + kSums +
                                " FROM usage_day f WHERE f.bucket >= ?1 AND f.bucket < ?2" + where +
                                " GROUP BY f." + group +
                                " ORDER BY bi + bo DESC, id LIMIT ?3) t JOIN " +
                                (std::string(group) == "program" ? "programs" : "hosts") +
                                " d ON d.id = t.id ORDER BY t.bi + t.bo DESC, d.id";
        std::vector<UsageTotal> out;
        Run(
            sql,
            [&](SqliteStmt& s) {
                s.Bind(1, from).Bind(2, to).Bind(3, Limit(limit));
                if (filter)
                    s.Bind(4, *filter);
            },
            [&](const SqliteStmt& s) {
                out.push_back({s.Text(0), s.Text(1), CountsAt(s, 2)});
            });
        return out;
    }
};

UsageQuery::UsageQuery(const std::string& path) : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
}

UsageQuery::~UsageQuery() = default;

std::vector<UsageBucket> UsageQuery::Buckets(int64_t from, int64_t to, Granularity g) const {
    const std::string sql = std::string("SELECT f.bucket, p.name, ") + kSums + " FROM " +
                            FactTable(g) +
                            " f JOIN programs p ON p.id = f.program"
                            " WHERE f.bucket >= ?1 AND f.bucket < ?2"
                            " GROUP BY f.bucket, p.name ORDER BY f.bucket, bi + bo DESC, p.name";
    std::vector<UsageBucket> out;
    impl_->Run(
        sql, [&](SqliteStmt& s) { s.Bind(1, from).Bind(2, to); },
        [&](const SqliteStmt& s) {
            out.push_back({s.Int(0), s.Text(1), CountsAt(s, 2)});
        });
    return out;
}

std::vector<UsageTotal> UsageQuery::TopPrograms(int64_t from, int64_t to, size_t limit) const {
    return impl_->Totals(from, to, "program", "name, d.executable", "", nullptr, limit);
}

std::vector<UsageTotal> UsageQuery::TopHosts(int64_t from, int64_t to, size_t limit) const {
    return impl_->Totals(from, to, "host", "address, d.name", "", nullptr, limit);
}

std::vector<UsageTotal> UsageQuery::HostsOfProgram(int64_t from, int64_t to,
                                                   const std::string& program, size_t limit) const {
    return impl_->Totals(from, to, "host", "address, d.name",
                         " AND f.program IN (SELECT id FROM programs WHERE name = ?4)", &program,
                         limit);
}

std::vector<UsageTotal> UsageQuery::ProgramsOfHost(int64_t from, int64_t to,
                                                   const std::string& address, size_t limit) const {
    return impl_->Totals(from, to, "program", "name, d.executable",
                         " AND f.host = (SELECT id FROM hosts WHERE address = ?4)", &address,
                         limit);
}

std::vector<std::string> UsageQuery::KnownPrograms() const {
    std::vector<std::string> out;
    impl_->Run(
        "SELECT DISTINCT name FROM programs ORDER BY name", [](SqliteStmt&) {},
        [&](const SqliteStmt& s) { out.push_back(s.Text(0)); });
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
