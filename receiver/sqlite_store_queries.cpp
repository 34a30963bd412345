// The SQLite store's questions: what the dashboard and the API read, on the read connection.
#include "receiver/sqlite_store.h"

#include "receiver/json_text.h"

namespace receiver {
namespace {

// The common filter of the dashboard's questions: ?1 from, ?2 to, ?3 version, ?4 channel.
constexpr char kRunFilter[] =
    " started_at IS NOT NULL AND started_at >= ?1 AND started_at < ?2"
    " AND (?3 = '' OR product_version = ?3) AND (?4 = '' OR channel = ?4)";

SqliteStatement& bindFilter(SqliteStatement& s, const SummaryQuery& q) {
  return s.bind(1, q.from).bind(2, q.to).bind(3, std::string_view(q.version)).bind(4, std::string_view(q.channel));
}

}  // namespace

std::optional<Summary> SqliteStore::summary(const SummaryQuery& q) {
  std::lock_guard<std::mutex> lock(readLock_);
  sqlite3* db = reader_.get();
  std::string error;
  if (!sqliteExec(db, "BEGIN", error)) return std::nullopt;  // one snapshot for every count
  Summary s;
  for (const char* status : kFinalStatuses) s.status[status] = 0;
  s.status["abandoned"] = 0;
  bool ok = true;
  {
    SqliteStatement runs(db, std::string("SELECT CASE WHEN finished_at IS NOT NULL THEN status"
                                         " WHEN started_at < ?5 THEN 'abandoned' ELSE '' END, COUNT(*) FROM runs WHERE") +
                                 kRunFilter + " GROUP BY 1");
    bindFilter(runs, q).bind(5, q.now - q.abandonAfter);
    int step;
    while ((step = runs.step()) == SQLITE_ROW) {
      s.runs += runs.integer(1);
      const std::string status = runs.text(0);
      if (!status.empty()) s.status[status] += runs.integer(1);
    }
    ok = ok && step == SQLITE_DONE;
  }
  {
    SqliteStatement stages(db, std::string("SELECT wrapper_error, msi_error, COUNT(*) FROM runs WHERE") + kRunFilter +
                                   " AND finished_at IS NOT NULL GROUP BY 1, 2 ORDER BY 3 DESC, 1, 2");
    bindFilter(stages, q);
    int step;
    while ((step = stages.step()) == SQLITE_ROW) {
      s.stages.push_back({static_cast<std::int32_t>(stages.integer(0)), static_cast<std::int32_t>(stages.integer(1)),
                          stages.integer(2)});
    }
    ok = ok && step == SQLITE_DONE;
  }
  {
    // Logs belong to runs and follow their filters; dumps carry no token and count by time alone.
    SqliteStatement logs(db, std::string("SELECT COUNT(*) FROM log_uploads WHERE received_at >= ?1 AND received_at < ?2"
                                         " AND (?3 = '' AND ?4 = '' OR request_token IN (SELECT request_token FROM runs"
                                         " WHERE") + kRunFilter + "))");
    bindFilter(logs, q);
    ok = ok && logs.step() == SQLITE_ROW;
    if (ok) s.logs = logs.integer(0);
    SqliteStatement dumps(db, "SELECT COUNT(*) FROM dumps WHERE received_at >= ?1 AND received_at < ?2");
    dumps.bind(1, q.from).bind(2, q.to);
    ok = ok && dumps.step() == SQLITE_ROW;
    if (ok) s.dumps = dumps.integer(0);
  }
  sqliteExec(db, "COMMIT", error);
  if (!ok) return std::nullopt;
  return s;
}

std::optional<std::vector<SignatureCount>> SqliteStore::signatures(const SummaryQuery& q) {
  std::lock_guard<std::mutex> lock(readLock_);
  SqliteStatement s(reader_.get(), "SELECT signature, COUNT(*), COUNT(DISTINCT machine_id), MAX(received_at) FROM dumps"
                                   " WHERE received_at >= ?1 AND received_at < ?2 GROUP BY 1 ORDER BY 2 DESC, 1");
  s.bind(1, q.from).bind(2, q.to);
  std::vector<SignatureCount> out;
  int step;
  while ((step = s.step()) == SQLITE_ROW) out.push_back({s.text(0), s.integer(1), s.integer(2), s.integer(3)});
  if (step != SQLITE_DONE) return std::nullopt;
  return out;
}

std::optional<RunRecord> SqliteStore::run(const std::string& token) {
  std::lock_guard<std::mutex> lock(readLock_);
  sqlite3* db = reader_.get();
  SqliteStatement find(db, "SELECT id, machine_id, started_at, finished_at, COALESCE(status, '') FROM runs"
                           " WHERE request_token = ?1 ORDER BY id LIMIT 1");
  if (find.bind(1, std::string_view(token)).step() != SQLITE_ROW) return std::nullopt;
  RunRecord record;
  record.requestToken = token;
  record.machineId = find.text(1);
  if (!find.isNull(2)) record.startedAt = find.integer(2);
  if (!find.isNull(3)) record.finishedAt = find.integer(3);
  record.status = find.text(4);
  SqliteStatement reports(db, "SELECT received_at, status, product_version, channel, install_language, wrapper_error,"
                              " msi_error, os, language, architecture, default_browser, stub_version, country, properties"
                              " FROM reports WHERE run_id = ?1 ORDER BY id");
  reports.bind(1, find.integer(0));
  const char* names[] = {"receivedAt", "status", "productVersion", "channelId", "installLanguage", "wrapperError",
                         "msiError", "OS", "language", "architecture", "defaultBrowser", "QXDLMVersion", "country",
                         "properties"};
  while (reports.step() == SQLITE_ROW) {
    std::map<std::string, std::string> fields;
    for (int c = 0; c < 14; ++c) fields[names[c]] = reports.text(c);
    record.reports.push_back(std::move(fields));
  }
  SqliteStatement logs(db, "SELECT entries, error_lines FROM log_uploads WHERE request_token = ?1");
  if (logs.bind(1, std::string_view(token)).step() == SQLITE_ROW) {
    record.logEntries = parseJsonStringArray(logs.text(0));
    record.errorLines = parseJsonStringArray(logs.text(1));
  }
  return record;
}

std::optional<std::vector<RateRow>> SqliteStore::rates(const SummaryQuery& q, const std::string& dimension) {
  const char* column = rateColumn(dimension);
  if (!column) return std::nullopt;
  std::lock_guard<std::mutex> lock(readLock_);
  SqliteStatement s(reader_.get(), std::string("SELECT ") + column +
                                       ", COUNT(*), SUM(CASE WHEN status = 'completed' THEN 1 ELSE 0 END) FROM runs WHERE" +
                                       kRunFilter + " AND finished_at IS NOT NULL GROUP BY 1 ORDER BY 2 DESC, 1 LIMIT 50");
  bindFilter(s, q);
  std::vector<RateRow> out;
  int step;
  while ((step = s.step()) == SQLITE_ROW) out.push_back({s.text(0), s.integer(1), s.integer(2)});
  if (step != SQLITE_DONE) return std::nullopt;
  return out;
}

std::optional<std::vector<DayCount>> SqliteStore::daily(const SummaryQuery& q) {
  std::lock_guard<std::mutex> lock(readLock_);
  SqliteStatement s(reader_.get(), std::string("SELECT started_at / 86400000, CASE WHEN finished_at IS NOT NULL THEN status WHEN started_at < ?5 THEN 'abandoned' ELSE '' END, COUNT(*) FROM runs"
                                               " WHERE") + kRunFilter + " GROUP BY 1, 2 ORDER BY 1, 2");
  bindFilter(s, q).bind(5, q.now - q.abandonAfter);
  std::vector<DayCount> out;
  int step;
  while ((step = s.step()) == SQLITE_ROW) out.push_back({s.integer(0), s.text(1), s.integer(2)});
  if (step != SQLITE_DONE) return std::nullopt;
  return out;
}

std::optional<std::vector<RunListing>> SqliteStore::recentRuns(const SummaryQuery& q) {
  std::lock_guard<std::mutex> lock(readLock_);
  SqliteStatement s(reader_.get(), std::string("SELECT request_token, started_at, CASE WHEN finished_at IS NOT NULL THEN status WHEN started_at < ?5 THEN 'abandoned' ELSE '' END FROM runs"
                                               " WHERE") + kRunFilter + " ORDER BY started_at DESC, id DESC LIMIT 50");
  bindFilter(s, q).bind(5, q.now - q.abandonAfter);
  std::vector<RunListing> out;
  int step;
  while ((step = s.step()) == SQLITE_ROW) out.push_back({s.text(0), s.integer(1), s.text(2)});
  if (step != SQLITE_DONE) return std::nullopt;
  return out;
}

}  // namespace receiver
