#include "receiver/pg_db.h"

#include <cstdlib>

namespace receiver {

PgConnection connectPostgres(const std::string& uri, std::string& error) {
  PgConnection connection(PQconnectdb(uri.c_str()));
  if (!connection || PQstatus(connection.get()) != CONNECTION_OK) {
    error = connection ? PQerrorMessage(connection.get()) : "out of memory";
    return nullptr;
  }
  // Notices (such as "relation already exists, skipping") are not the log's business.
  PQsetNoticeProcessor(connection.get(), [](void*, const char*) {}, nullptr);
  return connection;
}

bool PgResult::ok() const {
  if (!result_) return false;
  const ExecStatusType status = PQresultStatus(result_.get());
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

std::string PgResult::text(int row, int column) const {
  return std::string(PQgetvalue(result_.get(), row, column),
                     static_cast<std::size_t>(PQgetlength(result_.get(), row, column)));
}

std::int64_t PgResult::integer(int row, int column) const {
  return std::strtoll(PQgetvalue(result_.get(), row, column), nullptr, 10);
}

std::string PgResult::error() const { return result_ ? PQresultErrorMessage(result_.get()) : "no result"; }

PgResult pgQuery(PGconn* connection, const std::string& sql, const std::vector<PgValue>& parameters) {
  std::vector<const char*> values;
  for (const PgValue& value : parameters) values.push_back(value.null ? nullptr : value.text.c_str());
  return PgResult(PQexecParams(connection, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                               nullptr, 0));
}

bool pgExec(PGconn* connection, const std::string& sql, std::string& error) {
  const PgResult result(PQexec(connection, sql.c_str()));
  if (result.ok()) return true;
  error = result.error();
  return false;
}

}  // namespace receiver
