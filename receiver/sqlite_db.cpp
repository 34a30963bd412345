#include "receiver/sqlite_db.h"

namespace receiver {

SqliteHandle openSqlite(const std::string& path, std::string& error) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                     nullptr);
  SqliteHandle db(raw);
  if (opened != SQLITE_OK) {
    error = raw ? sqlite3_errmsg(raw) : "out of memory";
    return nullptr;
  }
  sqlite3_busy_timeout(db.get(), 10000);
  if (!sqliteExec(db.get(), "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;", error)) {
    return nullptr;
  }
  return db;
}

bool sqliteExec(sqlite3* db, const char* sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return false;
}

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) == SQLITE_OK) {
    statement_.reset(raw);
  }
}

sqlite3_stmt* SqliteStatementCache::get(std::string_view sql) {
  const auto found = statements_.find(sql);
  if (found != statements_.end()) return found->second.get();
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &raw, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(raw);
    return nullptr;
  }
  statements_.emplace(std::string(sql), SqliteStatementHandle(raw));
  return raw;
}

SqliteStatement::SqliteStatement(SqliteStatementCache& cache, std::string_view sql)
    : db_(cache.db()), borrowed_(cache.get(sql)) {}

SqliteStatement::~SqliteStatement() {
  if (borrowed_) {
    sqlite3_reset(borrowed_);
    sqlite3_clear_bindings(borrowed_);
  }
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
  if (statement()) sqlite3_bind_text(statement(), index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::int64_t value) {
  if (statement()) sqlite3_bind_int64(statement(), index, value);
  return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index) {
  if (statement()) sqlite3_bind_null(statement(), index);
  return *this;
}

int SqliteStatement::step() { return statement() ? sqlite3_step(statement()) : SQLITE_MISUSE; }

bool SqliteStatement::run() {
  const int result = step();
  return result == SQLITE_DONE || result == SQLITE_ROW;
}

std::int64_t SqliteStatement::integer(int column) const { return sqlite3_column_int64(statement(), column); }

std::string SqliteStatement::text(int column) const {
  const unsigned char* value = sqlite3_column_text(statement(), column);
  return value ? std::string(reinterpret_cast<const char*>(value),
                             static_cast<std::size_t>(sqlite3_column_bytes(statement(), column)))
               : std::string();
}

bool SqliteStatement::isNull(int column) const { return sqlite3_column_type(statement(), column) == SQLITE_NULL; }

std::string SqliteStatement::error() const { return sqlite3_errmsg(db_); }

}  // namespace receiver
