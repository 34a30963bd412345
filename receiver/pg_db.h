// Owners for libpq's handles and a small query helper: every PGconn* and PGresult* is finished or
// cleared by its owner. Parameters go as text, separately from the SQL (never spliced into it).
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace receiver {

struct PgConnectionCloser {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct PgResultClearer {
  void operator()(PGresult* result) const { PQclear(result); }
};
using PgConnection = std::unique_ptr<PGconn, PgConnectionCloser>;
using PgResultHandle = std::unique_ptr<PGresult, PgResultClearer>;

// Connects with a postgresql:// URI; nothing with `error` set.
PgConnection connectPostgres(const std::string& uri, std::string& error);

// One parameter: a text value or SQL NULL.
struct PgValue {
  bool null = false;
  std::string text;
  PgValue() : null(true) {}
  PgValue(std::string value) : text(std::move(value)) {}  // NOLINT: a value reads as itself
  PgValue(const char* value) : text(value) {}              // NOLINT
  PgValue(std::int64_t value) : text(std::to_string(value)) {}  // NOLINT
};

class PgResult {
 public:
  explicit PgResult(PGresult* result) : result_(result) {}
  // Whether the command succeeded (with or without rows).
  bool ok() const;
  int rows() const { return result_ ? PQntuples(result_.get()) : 0; }
  std::string text(int row, int column) const;
  std::int64_t integer(int row, int column) const;
  bool isNull(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
  std::string error() const;

 private:
  PgResultHandle result_;
};

// Runs `sql` (with $1, $2... for the parameters).
PgResult pgQuery(PGconn* connection, const std::string& sql, const std::vector<PgValue>& parameters = {});
// Runs statements without parameters; false with `error` set.
bool pgExec(PGconn* connection, const std::string& sql, std::string& error);

}  // namespace receiver
