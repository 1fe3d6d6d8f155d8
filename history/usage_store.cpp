#include "history/usage_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <tuple>
#include <vector>

namespace {

// Facts are keyed by their bucket's start (UTC seconds) and the dimension ids;
// WITHOUT ROWID keeps each table one b-tree in key order, so a range of
// buckets is one contiguous read and no second index is stored.
constexpr const char* kSchema = R"sql(
CREATE TABLE programs(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  executable TEXT NOT NULL,
  first_seen INTEGER NOT NULL,
  UNIQUE(name, executable));
CREATE TABLE hosts(
  id INTEGER PRIMARY KEY,
  address TEXT NOT NULL UNIQUE,
  name TEXT NOT NULL,
  first_seen INTEGER NOT NULL);
CREATE TABLE locals(
  id INTEGER PRIMARY KEY,
  address TEXT NOT NULL UNIQUE,
  first_seen INTEGER NOT NULL);
CREATE TABLE usage_minute(
  bucket INTEGER NOT NULL, program INTEGER NOT NULL, host INTEGER NOT NULL,
  local INTEGER NOT NULL, protocol INTEGER NOT NULL,
  bytes_in INTEGER NOT NULL, bytes_out INTEGER NOT NULL,
  datagrams_in INTEGER NOT NULL, datagrams_out INTEGER NOT NULL,
  PRIMARY KEY(bucket, program, host, local, protocol)) WITHOUT ROWID;
CREATE TABLE usage_hour(
  bucket INTEGER NOT NULL, program INTEGER NOT NULL, host INTEGER NOT NULL,
  local INTEGER NOT NULL, protocol INTEGER NOT NULL,
  bytes_in INTEGER NOT NULL, bytes_out INTEGER NOT NULL,
  datagrams_in INTEGER NOT NULL, datagrams_out INTEGER NOT NULL,
  PRIMARY KEY(bucket, program, host, local, protocol)) WITHOUT ROWID;
CREATE TABLE usage_day(
  bucket INTEGER NOT NULL, program INTEGER NOT NULL, host INTEGER NOT NULL,
  local INTEGER NOT NULL, protocol INTEGER NOT NULL,
  bytes_in INTEGER NOT NULL, bytes_out INTEGER NOT NULL,
  datagrams_in INTEGER NOT NULL, datagrams_out INTEGER NOT NULL,
  PRIMARY KEY(bucket, program, host, local, protocol)) WITHOUT ROWID;
PRAGMA application_id = 1364609109;
PRAGMA user_version = 1;
)sql";
static_assert(kHistoryApplicationId == 1364609109 && kHistorySchemaVersion == 1);

constexpr const char* kTables[3] = {"usage_minute", "usage_hour", "usage_day"};

// The caches' bound: a year's hosts fit; a flood of new ones empties them.
constexpr size_t kCacheLimit = 100000;

int64_t FloorTo(int64_t t, int64_t step) {
    const int64_t q = t / step;
    return (t % step < 0 ? q - 1 : q) * step;
}

using FactKey = std::tuple<int64_t, int64_t, int64_t, int64_t, int>;
struct Fact {
    FactKey key;
    UsageCounts counts;
};

// In key order, one fact per key: the upserts then walk each table's b-tree
// forward. A sort of the minute's rows costs less than a tree of them.
void SortAndMerge(std::vector<Fact>& facts) {
    std::sort(facts.begin(), facts.end(),
              [](const Fact& a, const Fact& b) { return a.key < b.key; });
    size_t out = 0;
    for (size_t i = 0; i < facts.size(); ++i) {
        if (out > 0 && facts[out - 1].key == facts[i].key)
            facts[out - 1].counts += facts[i].counts;
        else
            facts[out++] = facts[i];
    }
    facts.resize(out);
}

}  // namespace

size_t PendingKeyHash::operator()(const PendingKey& k) const {
    std::hash<std::string> h;
    size_t seed = std::hash<int64_t>()(k.minute) ^ (size_t{k.protocol} << 7);
    for (const std::string* s : {&k.program, &k.executable, &k.remote, &k.local})
        seed ^= h(*s) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    return seed;
}

UsageStore::Opened UsageStore::Open(const std::string& path) {
    Close();
    // Made here, not by SQLite, so that it is private from the start; its
    // journal and shared-memory files take the same mode.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return Opened::kFailed;
    }
    fchmod(fd, 0600);
    // A file that is not SQLite at all is told apart before SQLite opens it:
    // SQLite would take a log beside it for its own and delete it on closing.
    char magic[16] = {};
    const ssize_t got = pread(fd, magic, sizeof magic, 0);
    close(fd);
    if (got != 0 && (got != sizeof magic || std::memcmp(magic, "SQLite format 3", 16) != 0))
        return Opened::kDamaged;

    int rc = db_.Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    if (rc != SQLITE_OK) {
        error_ = sqlite3_errstr(rc);
        return Opened::kFailed;
    }
    sqlite3_busy_timeout(db_.get(), 5000);
    const int64_t objects = db_.Int("SELECT count(*) FROM sqlite_master", &rc);
    if ((rc & 0xff) == SQLITE_NOTADB || (rc & 0xff) == SQLITE_CORRUPT)
        return Opened::kDamaged;
    if (rc != SQLITE_OK) {
        error_ = db_.Error();
        return Opened::kFailed;
    }
    const int64_t app = db_.Int("PRAGMA application_id");
    const int64_t version = db_.Int("PRAGMA user_version");
    // A crash before the schema's transaction committed leaves an empty file:
    // that is a new file, not a damaged one.
    const bool fresh = objects == 0 && app == 0 && version == 0;
    if (!fresh && app != kHistoryApplicationId)
        return Opened::kDamaged;
    if (!fresh && version > kHistorySchemaVersion)
        return Opened::kNewer;
    if (!fresh && version < 1)
        return Opened::kDamaged;

    // WAL: the windows' readers never wait for the writer, nor it for them.
    // synchronous=NORMAL syncs at checkpoints only, not at each commit (FULL
    // would add a sync of the log to every minute's write): a killed process
    // loses nothing committed, its log being in the kernel's hands; a power
    // cut may lose what was committed since the last checkpoint (at most
    // kCheckpointSeconds), never the database (the log is checksummed and
    // replayed up to its last whole transaction).
    if (db_.Text("PRAGMA journal_mode=WAL", &rc) != "wal" && (rc & 0xff) == SQLITE_NOTADB)
        return Opened::kDamaged;
    db_.Exec("PRAGMA synchronous=NORMAL");
    // The log grows to the largest transaction; this much is kept after a
    // checkpoint, the rest given back.
    db_.Exec("PRAGMA journal_size_limit=4194304");
    // SQLite's own checkpoint would run inside the commit of every few busy
    // minutes and double that minute's write; the writer runs it instead
    // once the minute is committed (CheckpointDue, Checkpoint). The hook
    // replaces the automatic one and only counts the log's frames.
    sqlite3_wal_autocheckpoint(db_.get(), 0);
    sqlite3_wal_hook(db_.get(), &UsageStore::OnCommit, this);
    logFrames_ = 0;
    lastCheckpoint_ = INT64_MIN;
    if (fresh) {
        rc = CreateSchema();
        if ((rc & 0xff) == SQLITE_NOTADB || (rc & 0xff) == SQLITE_CORRUPT)
            return Opened::kDamaged;
        if (rc != SQLITE_OK) {
            error_ = db_.Error();
            return Opened::kFailed;
        }
    }
    rc = Prepare();
    if (rc != SQLITE_OK) {
        // Our id and version but not our tables.
        if ((rc & 0xff) == SQLITE_ERROR || (rc & 0xff) == SQLITE_CORRUPT)
            return Opened::kDamaged;
        error_ = db_.Error();
        return Opened::kFailed;
    }
    return Opened::kOk;
}

int UsageStore::OnCommit(void* self, sqlite3*, const char*, int frames) {
    static_cast<UsageStore*>(self)->logFrames_ = frames;
    return SQLITE_OK;
}

bool UsageStore::CheckpointDue(int64_t now) const {
    // Not before the first write since opening, from which the log's age counts.
    if (!db_ || logFrames_ <= 0 || lastCheckpoint_ == INT64_MIN)
        return false;
    // A full log, or one that has waited long: with synchronous=NORMAL the
    // checkpoint is when the file is synced, so this bounds what a power cut
    // can take.
    return logFrames_ >= kCheckpointFrames || now - lastCheckpoint_ >= kCheckpointSeconds ||
           now < lastCheckpoint_;
}

void UsageStore::Checkpoint(int64_t now) {
    if (!db_)
        return;
    int logged = 0, copied = 0;
    // PASSIVE: a reader's snapshot is never waited for; what it still needs
    // stays in the log for the next time.
    const int rc =
        sqlite3_wal_checkpoint_v2(db_.get(), "main", SQLITE_CHECKPOINT_PASSIVE, &logged, &copied);
    lastCheckpoint_ = now;
    // A failure (disk full) leaves the log as it was; the next write says so.
    if (rc == SQLITE_OK)
        logFrames_ = logged == copied ? 0 : logged;
}

void UsageStore::Close() {
    for (SqliteStmt* s : {&begin_, &commit_, &rollback_, &selProgram_, &insProgram_, &selHost_,
                          &insHost_, &nameHost_, &selLocal_, &insLocal_})
        *s = SqliteStmt();
    for (int i = 0; i < 3; ++i) {
        upsert_[i] = SqliteStmt();
        prune_[i] = SqliteStmt();
    }
    db_.Close();
    Forget();
}

int UsageStore::CreateSchema() {
    int rc = db_.Exec("BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return rc;
    rc = db_.Exec(kSchema);
    if (rc == SQLITE_OK)
        rc = db_.Exec("COMMIT");
    if (rc != SQLITE_OK)
        db_.Exec("ROLLBACK");
    return rc;
}

int UsageStore::Prepare() {
    sqlite3* db = db_.get();
    struct {
        SqliteStmt* stmt;
        const char* sql;
    } const plain[] = {
        {&begin_, "BEGIN IMMEDIATE"},
        {&commit_, "COMMIT"},
        {&rollback_, "ROLLBACK"},
        {&selProgram_, "SELECT id FROM programs WHERE name = ?1 AND executable = ?2"},
        {&insProgram_, "INSERT INTO programs(name, executable, first_seen) VALUES(?1, ?2, ?3)"},
        {&selHost_, "SELECT id, name FROM hosts WHERE address = ?1"},
        {&insHost_, "INSERT INTO hosts(address, name, first_seen) VALUES(?1, ?2, ?3)"},
        {&nameHost_, "UPDATE hosts SET name = ?2 WHERE id = ?1"},
        {&selLocal_, "SELECT id FROM locals WHERE address = ?1"},
        {&insLocal_, "INSERT INTO locals(address, first_seen) VALUES(?1, ?2)"},
    };
    for (const auto& p : plain) {
        const int rc = p.stmt->Prepare(db, p.sql);
        if (rc != SQLITE_OK)
            return rc;
    }
    for (int i = 0; i < 3; ++i) {
        const std::string table = kTables[i];
        const std::string upsert =
            "INSERT INTO " + table +
            "(bucket, program, host, local, protocol, bytes_in, bytes_out, datagrams_in,"
            " datagrams_out) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"
            " ON CONFLICT(bucket, program, host, local, protocol) DO UPDATE SET"
            " bytes_in = bytes_in + excluded.bytes_in, bytes_out = bytes_out + excluded.bytes_out,"
            " datagrams_in = datagrams_in + excluded.datagrams_in,"
            " datagrams_out = datagrams_out + excluded.datagrams_out";
        const std::string prune = "DELETE FROM " + table + " WHERE bucket < ?1";
        int rc = upsert_[i].Prepare(db, upsert.c_str());
        if (rc == SQLITE_OK)
            rc = prune_[i].Prepare(db, prune.c_str());
        if (rc != SQLITE_OK)
            return rc;
    }
    return SQLITE_OK;
}

void UsageStore::LoadKnown() {
    if (!db_)
        return;
    // Up to half the caches' bound, the newest first, leaving room for new
    // ones before a cache is emptied; what is left out is looked up when met.
    constexpr size_t kLoad = kCacheLimit / 2;
    SqliteStmt programs, hosts, locals;
    if (programs.Prepare(db_.get(), "SELECT id, name, executable FROM programs ORDER BY id DESC") ==
        SQLITE_OK) {
        while (programs_.size() < kLoad && programs.Step() == SQLITE_ROW) {
            std::string key = programs.Text(1);
            key += '\0';
            key += programs.Text(2);
            programs_.emplace(std::move(key), programs.Int(0));
        }
    }
    if (hosts.Prepare(db_.get(), "SELECT id, address, name FROM hosts ORDER BY id DESC") ==
        SQLITE_OK) {
        while (hosts_.size() < kLoad && hosts.Step() == SQLITE_ROW)
            hosts_.emplace(hosts.Text(1), std::make_pair(hosts.Int(0), hosts.Text(2)));
    }
    if (locals.Prepare(db_.get(), "SELECT id, address FROM locals ORDER BY id DESC") == SQLITE_OK) {
        while (locals_.size() < kLoad && locals.Step() == SQLITE_ROW)
            locals_.emplace(locals.Text(1), locals.Int(0));
    }
}

void UsageStore::Forget() {
    programs_.clear();
    hosts_.clear();
    locals_.clear();
}

int UsageStore::ProgramId(const PendingKey& key, int64_t* id) {
    std::string cacheKey = key.program;
    cacheKey += '\0';
    cacheKey += key.executable;
    if (auto it = programs_.find(cacheKey); it != programs_.end()) {
        *id = it->second;
        return SQLITE_OK;
    }
    selProgram_.Bind(1, key.program).Bind(2, key.executable);
    int rc = selProgram_.Step();
    if (rc == SQLITE_ROW) {
        *id = selProgram_.Int(0);
        rc = SQLITE_OK;
    } else if (rc == SQLITE_DONE) {
        insProgram_.Bind(1, key.program).Bind(2, key.executable).Bind(3, key.minute * 60);
        rc = insProgram_.Step();
        insProgram_.Reset();
        if (rc == SQLITE_DONE) {
            *id = sqlite3_last_insert_rowid(db_.get());
            rc = SQLITE_OK;
        }
    }
    selProgram_.Reset();
    if (rc == SQLITE_OK) {
        if (programs_.size() >= kCacheLimit)
            programs_.clear();
        programs_.emplace(std::move(cacheKey), *id);
    }
    return rc;
}

int UsageStore::HostId(const PendingKey& key, const std::string& name, int64_t* id) {
    auto it = hosts_.find(key.remote);
    int rc = SQLITE_OK;
    if (it == hosts_.end()) {
        selHost_.Bind(1, key.remote);
        rc = selHost_.Step();
        if (rc == SQLITE_ROW) {
            if (hosts_.size() >= kCacheLimit)
                hosts_.clear();
            it =
                hosts_.emplace(key.remote, std::make_pair(selHost_.Int(0), selHost_.Text(1))).first;
            rc = SQLITE_OK;
        } else if (rc == SQLITE_DONE) {
            insHost_.Bind(1, key.remote).Bind(2, name).Bind(3, key.minute * 60);
            rc = insHost_.Step();
            insHost_.Reset();
            if (rc == SQLITE_DONE) {
                if (hosts_.size() >= kCacheLimit)
                    hosts_.clear();
                it = hosts_
                         .emplace(key.remote,
                                  std::make_pair(sqlite3_last_insert_rowid(db_.get()), name))
                         .first;
                rc = SQLITE_OK;
            }
        }
        selHost_.Reset();
        if (rc != SQLITE_OK)
            return rc;
    }
    *id = it->second.first;
    // The best name is the latest one resolved: a name beats none, and a
    // host that moved to another name is shown by the one it has now.
    if (!name.empty() && name != it->second.second) {
        nameHost_.Bind(1, *id).Bind(2, name);
        rc = nameHost_.Step();
        nameHost_.Reset();
        if (rc != SQLITE_DONE)
            return rc;
        it->second.second = name;
    }
    return SQLITE_OK;
}

int UsageStore::LocalId(const PendingKey& key, int64_t* id) {
    if (auto it = locals_.find(key.local); it != locals_.end()) {
        *id = it->second;
        return SQLITE_OK;
    }
    selLocal_.Bind(1, key.local);
    int rc = selLocal_.Step();
    if (rc == SQLITE_ROW) {
        *id = selLocal_.Int(0);
        rc = SQLITE_OK;
    } else if (rc == SQLITE_DONE) {
        insLocal_.Bind(1, key.local).Bind(2, key.minute * 60);
        rc = insLocal_.Step();
        insLocal_.Reset();
        if (rc == SQLITE_DONE) {
            *id = sqlite3_last_insert_rowid(db_.get());
            rc = SQLITE_OK;
        }
    }
    selLocal_.Reset();
    if (rc == SQLITE_OK) {
        if (locals_.size() >= kCacheLimit)
            locals_.clear();
        locals_.emplace(key.local, *id);
    }
    return rc;
}

int UsageStore::Write(const PendingRows& rows, int64_t now, const Retention& keep,
                      const std::function<int64_t(int64_t)>& utcOffset) {
    if (!db_)
        return SQLITE_MISUSE;
    int rc = begin_.Step();
    begin_.Reset();
    if (rc != SQLITE_DONE)
        return rc;
    // An idle minute has no rows and is written all the same: its retention.
    rc = SQLITE_OK;
    // The log's age counts from the first write after opening.
    if (lastCheckpoint_ == INT64_MIN)
        lastCheckpoint_ = now;

    // Every minute is added to its hour and its day in the same transaction as
    // the minute itself: the rollup can neither miss a minute nor count one
    // twice, whatever the clock does between writes.
    const int64_t minuteCutoff = now - int64_t{keep.keepMinuteHours} * 3600;
    std::vector<Fact> facts[3];
    for (std::vector<Fact>& f : facts)
        f.reserve(rows.size());
    std::unordered_map<int64_t, std::pair<int64_t, int64_t>> starts;  // minute -> hour, day
    for (const auto& [key, value] : rows) {
        int64_t program = 0, host = 0, local = 0;
        rc = ProgramId(key, &program);
        if (rc == SQLITE_OK)
            rc = HostId(key, value.remoteName, &host);
        if (rc == SQLITE_OK)
            rc = LocalId(key, &local);
        if (rc != SQLITE_OK)
            break;
        const int64_t t = key.minute * 60;
        auto [at, added] = starts.try_emplace(key.minute);
        if (added) {
            // Local hours and days: a zone of half hours shifts the hour too.
            const int64_t offset = utcOffset ? utcOffset(t) : 0;
            at->second = {FloorTo(t + offset, 3600) - offset, FloorTo(t + offset, 86400) - offset};
        }
        if (t >= minuteCutoff)
            facts[0].push_back({{t, program, host, local, key.protocol}, value.counts});
        facts[1].push_back({{at->second.first, program, host, local, key.protocol}, value.counts});
        facts[2].push_back({{at->second.second, program, host, local, key.protocol}, value.counts});
    }
    for (int i = 0; i < 3 && rc == SQLITE_OK; ++i) {
        SortAndMerge(facts[i]);
        SqliteStmt& up = upsert_[i];
        for (const auto& [k, c] : facts[i]) {
            up.Bind(1, std::get<0>(k)).Bind(2, std::get<1>(k)).Bind(3, std::get<2>(k));
            up.Bind(4, std::get<3>(k)).Bind(5, int64_t{std::get<4>(k)});
            up.Bind(6, static_cast<int64_t>(c.bytesIn)).Bind(7, static_cast<int64_t>(c.bytesOut));
            up.Bind(8, static_cast<int64_t>(c.datagramsIn));
            up.Bind(9, static_cast<int64_t>(c.datagramsOut));
            rc = up.Step();
            up.Reset();
            if (rc != SQLITE_DONE)
                break;
            rc = SQLITE_OK;
        }
    }
    // Retention follows the clock: a clock set back deletes nothing a later
    // one had not, and a bucket from the future is kept until its time.
    const int64_t cutoffs[3] = {
        minuteCutoff,
        now - int64_t{keep.keepHourDays} * 86400,
        keep.keepDays > 0 ? now - int64_t{keep.keepDays} * 86400 : INT64_MIN,
    };
    for (int i = 0; i < 3 && rc == SQLITE_OK; ++i) {
        if (i == 1 && keep.keepHourDays <= 0)
            continue;
        prune_[i].Bind(1, cutoffs[i]);
        rc = prune_[i].Step();
        prune_[i].Reset();
        rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    if (rc == SQLITE_OK) {
        rc = commit_.Step();
        commit_.Reset();
        rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    if (rc != SQLITE_OK) {
        error_ = db_.Error();
        if (!sqlite3_get_autocommit(db_.get())) {
            rollback_.Step();
            rollback_.Reset();
        }
        // Ids made in the rolled-back transaction are gone.
        Forget();
    }
    return rc;
}

std::string MoveHistoryAside(const std::string& path, int64_t now) {
    const time_t t = static_cast<time_t>(now);
    tm utc{};
    gmtime_r(&t, &utc);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    std::string aside = path + ".damaged-" + stamp;
    struct stat st {};
    for (int n = 2; lstat(aside.c_str(), &st) == 0 && n < 1000; ++n)
        aside = path + ".damaged-" + stamp + "-" + std::to_string(n);
    if (rename(path.c_str(), aside.c_str()) != 0)
        return {};
    // The log belongs to the damaged file: left in place, SQLite would replay
    // it into the new one.
    rename((path + "-wal").c_str(), (aside + "-wal").c_str());
    unlink((path + "-shm").c_str());
    return aside;
}
