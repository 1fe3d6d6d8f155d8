#pragma once
// Small owners of SQLite's connection and statement handles, so that every
// path out of a function (an error half way through a write) closes and
// finalizes what it opened.
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

class SqliteDb {
  public:
    SqliteDb() = default;
    ~SqliteDb() { Close(); }
    SqliteDb(SqliteDb&& o) noexcept : db_(o.db_) { o.db_ = nullptr; }
    SqliteDb& operator=(SqliteDb&& o) noexcept;
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // sqlite3_open_v2's result code; on failure the handle is closed.
    int Open(const std::string& path, int flags);
    void Close();
    sqlite3* get() const { return db_; }
    explicit operator bool() const { return db_ != nullptr; }

    int Exec(const char* sql);
    // The first column of the first row of `sql` (a pragma); `rc` its result.
    int64_t Int(const char* sql, int* rc = nullptr);
    std::string Text(const char* sql, int* rc = nullptr);
    std::string Error() const { return db_ ? sqlite3_errmsg(db_) : "no database"; }

  private:
    sqlite3* db_ = nullptr;
};

// A prepared statement, reset and reused; binds refer to the caller's text
// until the next Reset(), so the text must outlive the step.
class SqliteStmt {
  public:
    SqliteStmt() = default;
    ~SqliteStmt() { sqlite3_finalize(stmt_); }
    SqliteStmt(SqliteStmt&& o) noexcept : stmt_(o.stmt_) { o.stmt_ = nullptr; }
    SqliteStmt& operator=(SqliteStmt&& o) noexcept;
    SqliteStmt(const SqliteStmt&) = delete;
    SqliteStmt& operator=(const SqliteStmt&) = delete;

    int Prepare(sqlite3* db, const char* sql);
    explicit operator bool() const { return stmt_ != nullptr; }

    SqliteStmt& Bind(int index, int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    SqliteStmt& Bind(int index, std::string_view text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
        return *this;
    }
    int Step() { return sqlite3_step(stmt_); }
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string Text(int column) const;

  private:
    sqlite3_stmt* stmt_ = nullptr;
};
