// The PostgreSQL store's questions: what the dashboard and the API read, on the read connection.
#include "receiver/pg_store.h"

#include "receiver/json_text.h"

namespace receiver {
namespace {

// The common filter of the dashboard's questions: $1 from, $2 to, $3 version, $4 channel.
constexpr char kRunFilter[] =
    " started_at IS NOT NULL AND started_at >= $1 AND started_at < $2"
    " AND ($3 = '' OR product_version = $3) AND ($4 = '' OR channel = $4)";

std::vector<PgValue> filter(const SummaryQuery& q) { return {q.from, q.to, q.version, q.channel}; }

}  // namespace

std::optional<Summary> PgStore::summary(const SummaryQuery& q) {
  std::lock_guard<std::mutex> lock(readLock_);
  PGconn* db = reader_.get();
  std::string error;
  // One snapshot for every count.
  if (!pgExec(db, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", error)) return std::nullopt;
  Summary s;
  for (const char* status : kFinalStatuses) s.status[status] = 0;
  s.status["abandoned"] = 0;
  std::vector<PgValue> withCut = filter(q);
  withCut.emplace_back(q.now - q.abandonAfter);
  const PgResult runs = pgQuery(db,
                                std::string("SELECT CASE WHEN finished_at IS NOT NULL THEN status WHEN started_at < $5"
                                            " THEN 'abandoned' ELSE '' END, COUNT(*) FROM runs WHERE") +
                                    kRunFilter + " GROUP BY 1",
                                withCut);
  const PgResult stages = pgQuery(db,
                                  std::string("SELECT wrapper_error, msi_error, COUNT(*) FROM runs WHERE") + kRunFilter +
                                      " AND finished_at IS NOT NULL GROUP BY 1, 2 ORDER BY 3 DESC, 1, 2",
                                  filter(q));
  const PgResult logs = pgQuery(db,
                                std::string("SELECT COUNT(*) FROM log_uploads WHERE received_at >= $1 AND received_at < $2"
                                            " AND ($3 = '' AND $4 = '' OR request_token IN (SELECT request_token FROM runs"
                                            " WHERE") + kRunFilter + "))",
                                filter(q));
  const PgResult dumps = pgQuery(db, "SELECT COUNT(*) FROM dumps WHERE received_at >= $1 AND received_at < $2", {q.from, q.to});
  pgExec(db, "COMMIT", error);
  if (!runs.ok() || !stages.ok() || !logs.ok() || !dumps.ok()) return std::nullopt;
  for (int i = 0; i < runs.rows(); ++i) {
    s.runs += runs.integer(i, 1);
    const std::string status = runs.text(i, 0);
    if (!status.empty()) s.status[status] += runs.integer(i, 1);
  }
  for (int i = 0; i < stages.rows(); ++i) {
    s.stages.push_back({static_cast<std::int32_t>(stages.integer(i, 0)), static_cast<std::int32_t>(stages.integer(i, 1)),
                        stages.integer(i, 2)});
  }
  s.logs = logs.integer(0, 0);
  s.dumps = dumps.integer(0, 0);
  return s;
}

std::optional<std::vector<SignatureCount>> PgStore::signatures(const SummaryQuery& q) {
  std::lock_guard<std::mutex> lock(readLock_);
  const PgResult r = pgQuery(reader_.get(),
                             "SELECT signature, COUNT(*), COUNT(DISTINCT machine_id), MAX(received_at) FROM dumps"
                             " WHERE received_at >= $1 AND received_at < $2 GROUP BY 1 ORDER BY 2 DESC, 1",
                             {q.from, q.to});
  if (!r.ok()) return std::nullopt;
  std::vector<SignatureCount> out;
  for (int i = 0; i < r.rows(); ++i) out.push_back({r.text(i, 0), r.integer(i, 1), r.integer(i, 2), r.integer(i, 3)});
  return out;
}

std::optional<RunRecord> PgStore::run(const std::string& token) {
  std::lock_guard<std::mutex> lock(readLock_);
  PGconn* db = reader_.get();
  const PgResult found = pgQuery(db,
                                 "SELECT id, machine_id, started_at, finished_at, COALESCE(status, '') FROM runs"
                                 " WHERE request_token = $1 ORDER BY id LIMIT 1",
                                 {token});
  if (!found.ok() || found.rows() != 1) return std::nullopt;
  RunRecord record;
  record.requestToken = token;
  record.machineId = found.text(0, 1);
  if (!found.isNull(0, 2)) record.startedAt = found.integer(0, 2);
  if (!found.isNull(0, 3)) record.finishedAt = found.integer(0, 3);
  record.status = found.text(0, 4);
  const PgResult reports = pgQuery(db,
                                   "SELECT received_at, status, product_version, channel, install_language, wrapper_error,"
                                   " msi_error, os, language, architecture, default_browser, stub_version, country,"
                                   " properties FROM reports WHERE run_id = $1 ORDER BY id",
                                   {found.integer(0, 0)});
  const char* names[] = {"receivedAt", "status", "productVersion", "channelId", "installLanguage", "wrapperError",
                         "msiError", "OS", "language", "architecture", "defaultBrowser", "QXDLMVersion", "country",
                         "properties"};
  for (int i = 0; i < reports.rows(); ++i) {
    std::map<std::string, std::string> fields;
    for (int c = 0; c < 14; ++c) fields[names[c]] = reports.text(i, c);
    record.reports.push_back(std::move(fields));
  }
  const PgResult logs = pgQuery(db, "SELECT entries, error_lines FROM log_uploads WHERE request_token = $1", {token});
  if (logs.ok() && logs.rows() >= 1) {
    record.logEntries = parseJsonStringArray(logs.text(0, 0));
    record.errorLines = parseJsonStringArray(logs.text(0, 1));
  }
  return record;
}

std::optional<std::vector<RateRow>> PgStore::rates(const SummaryQuery& q, const std::string& dimension) {
  const char* column = rateColumn(dimension);
  if (!column) return std::nullopt;
  std::lock_guard<std::mutex> lock(readLock_);
  const PgResult r = pgQuery(reader_.get(),
                             std::string("SELECT ") + column +
                                 ", COUNT(*), SUM(CASE WHEN status = 'completed' THEN 1 ELSE 0 END) FROM runs WHERE" +
                                 kRunFilter + " AND finished_at IS NOT NULL GROUP BY 1 ORDER BY 2 DESC, 1 LIMIT 50",
                             filter(q));
  if (!r.ok()) return std::nullopt;
  std::vector<RateRow> out;
  for (int i = 0; i < r.rows(); ++i) out.push_back({r.text(i, 0), r.integer(i, 1), r.integer(i, 2)});
  return out;
}

std::optional<std::vector<DayCount>> PgStore::daily(const SummaryQuery& q) {
  std::lock_guard<std::mutex> lock(readLock_);
  std::vector<PgValue> parameters = filter(q);
  parameters.emplace_back(q.now - q.abandonAfter);
  const PgResult r = pgQuery(reader_.get(),
                             std::string("SELECT started_at / 86400000, CASE WHEN finished_at IS NOT NULL THEN status WHEN started_at < $5 THEN 'abandoned' ELSE '' END, COUNT(*) FROM runs WHERE") +
                                 kRunFilter + " GROUP BY 1, 2 ORDER BY 1, 2",
                             parameters);
  if (!r.ok()) return std::nullopt;
  std::vector<DayCount> out;
  for (int i = 0; i < r.rows(); ++i) out.push_back({r.integer(i, 0), r.text(i, 1), r.integer(i, 2)});
  return out;
}

std::optional<std::vector<RunListing>> PgStore::recentRuns(const SummaryQuery& q) {
  std::lock_guard<std::mutex> lock(readLock_);
  std::vector<PgValue> parameters = filter(q);
  parameters.emplace_back(q.now - q.abandonAfter);
  const PgResult r = pgQuery(reader_.get(),
                             std::string("SELECT request_token, started_at, CASE WHEN finished_at IS NOT NULL THEN status WHEN started_at < $5 THEN 'abandoned' ELSE '' END FROM runs WHERE") +
                                 kRunFilter + " ORDER BY started_at DESC, id DESC LIMIT 50",
                             parameters);
  if (!r.ok()) return std::nullopt;
  std::vector<RunListing> out;
  for (int i = 0; i < r.rows(); ++i) out.push_back({r.text(i, 0), r.integer(i, 1), r.text(i, 2)});
  return out;
}

}  // namespace receiver
