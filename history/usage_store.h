#pragma once
// The history file as the writer sees it: opening (and telling a fresh,
// damaged, foreign or newer file apart), the schema, and one minute's write
// in one transaction. Used by UsageHistory's writer thread only.
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "history/sqlite_handle.h"
#include "history/usage_history.h"

// What the file says it is: application_id and user_version.
inline constexpr int64_t kHistoryApplicationId = 0x51564855;  // "QVHU"
inline constexpr int64_t kHistorySchemaVersion = 1;

// One row waiting for the writer: a sample's dimensions and minute.
struct PendingKey {
    int64_t minute = 0;
    std::string program, executable, remote, local;
    uint8_t protocol = 0;
    bool operator==(const PendingKey&) const = default;
};
struct PendingKeyHash {
    size_t operator()(const PendingKey& k) const;
};
struct PendingValue {
    std::string remoteName;  // the last non-empty name given
    UsageCounts counts;
};
using PendingRows = std::unordered_map<PendingKey, PendingValue, PendingKeyHash>;

struct Retention {
    int keepDays = 365;  // zero or less: forever
    int keepHourDays = 31;
    int keepMinuteHours = 2;
};

class UsageStore {
  public:
    enum class Opened { kOk, kDamaged /*or foreign*/, kNewer, kFailed };
    // Creates the file (0600) when missing; sets WAL. kFailed leaves Error().
    Opened Open(const std::string& path);
    void Close();

    // Every row in one transaction, added to its minute, hour and day, then the
    // rows past the retention deleted; SQLite's result code, SQLITE_OK when
    // committed (nothing is kept of a failed write).
    int Write(const PendingRows& rows, int64_t now, const Retention& keep,
              const std::function<int64_t(int64_t)>& utcOffset);

    // The log's frames are copied into the file by the writer, between
    // minutes, never inside a commit: due when the log reaches
    // kCheckpointFrames or has waited kCheckpointSeconds.
    static constexpr int kCheckpointFrames = 1000;  // SQLite's own default
    static constexpr int64_t kCheckpointSeconds = 600;
    bool CheckpointDue(int64_t now) const;
    void Checkpoint(int64_t now);

    // Fills the caches of dimension ids from the file, so that the first
    // minutes after opening look nothing up one by one.
    void LoadKnown();

    std::string Error() const { return error_; }
    int SystemErrno() const { return db_ ? sqlite3_system_errno(db_.get()) : 0; }

  private:
    int CreateSchema();
    int Prepare();
    int ProgramId(const PendingKey& key, int64_t* id);
    int HostId(const PendingKey& key, const std::string& name, int64_t* id);
    int LocalId(const PendingKey& key, int64_t* id);
    void Forget();
    static int OnCommit(void* self, sqlite3*, const char*, int frames);

    SqliteDb db_;
    std::string error_;
    SqliteStmt begin_, commit_, rollback_;
    SqliteStmt selProgram_, insProgram_, selHost_, insHost_, nameHost_, selLocal_, insLocal_;
    SqliteStmt upsert_[3], prune_[3];  // minute, hour, day
    // The dimension ids already known, so that a busy minute does not look each
    // one up again. Bounded: emptied when large; emptied after a failed write,
    // whose new ids were rolled back.
    std::unordered_map<std::string, int64_t> programs_;
    std::unordered_map<std::string, std::pair<int64_t, std::string>> hosts_;
    std::unordered_map<std::string, int64_t> locals_;
    int logFrames_ = 0;  // in the write-ahead log after the last commit
    int64_t lastCheckpoint_ = INT64_MIN;
};

// Renames a damaged or foreign file (and its write-ahead log) to
// "<path>.damaged-<UTC time>", so that a new one can start; the new name, or
// empty when the rename failed (errno).
std::string MoveHistoryAside(const std::string& path, int64_t now);
