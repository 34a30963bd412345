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

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
  if (statement_) sqlite3_bind_text(statement_.get(), index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::int64_t value) {
  if (statement_) sqlite3_bind_int64(statement_.get(), index, value);
  return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index) {
  if (statement_) sqlite3_bind_null(statement_.get(), index);
  return *this;
}

int SqliteStatement::step() { return statement_ ? sqlite3_step(statement_.get()) : SQLITE_MISUSE; }

bool SqliteStatement::run() {
  const int result = step();
  return result == SQLITE_DONE || result == SQLITE_ROW;
}

std::int64_t SqliteStatement::integer(int column) const { return sqlite3_column_int64(statement_.get(), column); }

std::string SqliteStatement::text(int column) const {
  const unsigned char* value = sqlite3_column_text(statement_.get(), column);
  return value ? std::string(reinterpret_cast<const char*>(value),
                             static_cast<std::size_t>(sqlite3_column_bytes(statement_.get(), column)))
               : std::string();
}

bool SqliteStatement::isNull(int column) const { return sqlite3_column_type(statement_.get(), column) == SQLITE_NULL; }

std::string SqliteStatement::error() const { return sqlite3_errmsg(db_); }

}  // namespace receiver
