#include "history/sqlite_handle.h"

SqliteDb& SqliteDb::operator=(SqliteDb&& o) noexcept {
    if (this != &o) {
        Close();
        db_ = o.db_;
        o.db_ = nullptr;
    }
    return *this;
}

int SqliteDb::Open(const std::string& path, int flags) {
    Close();
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    } else {
        sqlite3_extended_result_codes(db_, 1);
    }
    return rc;
}

void SqliteDb::Close() {
    // v2: statements still alive (a member destroyed later) do not keep it open by error.
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

int SqliteDb::Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
}

int64_t SqliteDb::Int(const char* sql, int* rc) {
    SqliteStmt stmt;
    int r = stmt.Prepare(db_, sql);
    int64_t value = 0;
    if (r == SQLITE_OK) {
        r = stmt.Step();
        if (r == SQLITE_ROW) {
            value = stmt.Int(0);
            r = SQLITE_OK;
        } else if (r == SQLITE_DONE) {
            r = SQLITE_OK;
        }
    }
    if (rc)
        *rc = r;
    return value;
}

std::string SqliteDb::Text(const char* sql, int* rc) {
    SqliteStmt stmt;
    int r = stmt.Prepare(db_, sql);
    std::string value;
    if (r == SQLITE_OK) {
        r = stmt.Step();
        if (r == SQLITE_ROW) {
            value = stmt.Text(0);
            r = SQLITE_OK;
        } else if (r == SQLITE_DONE) {
            r = SQLITE_OK;
        }
    }
    if (rc)
        *rc = r;
    return value;
}

SqliteStmt& SqliteStmt::operator=(SqliteStmt&& o) noexcept {
    if (this != &o) {
        sqlite3_finalize(stmt_);
        stmt_ = o.stmt_;
        o.stmt_ = nullptr;
    }
    return *this;
}

int SqliteStmt::Prepare(sqlite3* db, const char* sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
}

std::string SqliteStmt::Text(int column) const {
    const auto* p = sqlite3_column_text(stmt_, column);
    const int n = sqlite3_column_bytes(stmt_, column);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n))
             : std::string();
}
