// Owners for SQLite's handles and a small statement wrapper: every sqlite3* and sqlite3_stmt* is
// closed or finalised by its owner, on every path. Failures are return values with the library's
// message kept for the log.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace receiver {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct SqliteFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStatementHandle = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

// Opens (and creates) the database file, with the settings every connection of the receiver uses:
// WAL, a full sync at every commit (an answered report is on disk), foreign keys, a busy wait.
SqliteHandle openSqlite(const std::string& path, std::string& error);

// Runs statements that return no rows.
bool sqliteExec(sqlite3* db, const char* sql, std::string& error);

// Prepared statements kept for one connection's whole life, by their SQL: the writer runs the same
// few statements for every request, and preparing them is a good part of a request's cost.
class SqliteStatementCache {
 public:
  explicit SqliteStatementCache(sqlite3* db) : db_(db) {}
  sqlite3* db() const { return db_; }
  // The statement for `sql`, prepared on first use; null when it does not prepare.
  sqlite3_stmt* get(std::string_view sql);

 private:
  sqlite3* db_;
  std::map<std::string, SqliteStatementHandle, std::less<>> statements_;
};

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, std::string_view sql);
  // A statement of the cache, reset and its bindings cleared when this object ends.
  SqliteStatement(SqliteStatementCache& cache, std::string_view sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;
  bool ok() const { return statement() != nullptr; }
  SqliteStatement& bind(int index, std::string_view text);
  SqliteStatement& bind(int index, std::int64_t value);
  SqliteStatement& bindNull(int index);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step();
  // Runs a statement that returns no rows; false on any error.
  bool run();
  std::int64_t integer(int column) const;
  std::string text(int column) const;
  bool isNull(int column) const;
  std::string error() const;

 private:
  sqlite3_stmt* statement() const { return borrowed_ ? borrowed_ : statement_.get(); }
  sqlite3* db_;
  SqliteStatementHandle statement_;
  sqlite3_stmt* borrowed_ = nullptr;
};

}  // namespace receiver
