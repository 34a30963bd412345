#include "receiver/pg_store.h"

#include <set>

#include "receiver/json_text.h"
#include "receiver/schema.h"
#include "receiver/text_rules.h"

namespace receiver {
namespace {

constexpr std::size_t kMaxBatch = 512;
// Any number: the receiver's own key for the advisory lock around migrations.
constexpr char kMigrationLock[] = "SELECT pg_advisory_xact_lock(7411302)";

std::string propertiesJson(const AnalyticsReport& report) {
  std::string out = "{";
  for (std::size_t i = 0; i < report.properties.size(); ++i) {
    out += (i ? "," : "") + jsonString(report.properties[i].first) + ":" + jsonString(report.properties[i].second);
  }
  return out + "}";
}

std::string withSerial(const char* sql) {
  std::string text = sql;
  const std::string marker = "%SERIAL%";
  for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker)) {
    text.replace(at, marker.size(), "BIGSERIAL");
  }
  return text;
}

StoreResult storeReport(PGconn* db, const AnalyticsReport& r, std::int64_t at) {
  const bool joinable = !isPlaceholderToken(r.requestToken);
  const bool start = r.isStartReport();
  const PgValue none;
  const std::vector<PgValue> run = {r.requestToken, std::int64_t{joinable}, r.machineId, start ? PgValue(at) : none,
                                    start ? none : PgValue(at), start ? none : PgValue(r.status), r.productVersion,
                                    r.channelId, r.os, r.architecture, r.installLanguage, r.country,
                                    start ? none : PgValue(std::int64_t{r.wrapperError}),
                                    start ? none : PgValue(std::int64_t{r.msiError})};
  const std::string insert =
      "INSERT INTO runs (request_token, joinable, machine_id, started_at, finished_at, status, product_version, channel,"
      " os, architecture, install_language, country, wrapper_error, msi_error) VALUES ($1, $2, $3, $4, $5, $6, $7, $8,"
      " $9, $10, $11, $12, $13, $14)";
  std::int64_t runId = -1;
  if (joinable) {
    // Another receiver may be making the same run now: its row wins, and this report joins it.
    const PgResult made = pgQuery(db, insert + " ON CONFLICT DO NOTHING RETURNING id", run);
    if (!made.ok()) return StoreResult::Failed;
    if (made.rows() == 1) {
      runId = made.integer(0, 0);
    } else {
      const PgResult found = pgQuery(db, "SELECT id FROM runs WHERE request_token = $1 AND joinable = 1", {r.requestToken});
      if (!found.ok() || found.rows() != 1) return StoreResult::Failed;
      runId = found.integer(0, 0);
      const PgResult updated =
          start ? pgQuery(db, "UPDATE runs SET started_at = $1 WHERE id = $2 AND started_at IS NULL", {at, runId})
                : pgQuery(db,
                          "UPDATE runs SET finished_at = $1, status = $2, wrapper_error = $3, msi_error = $4,"
                          " product_version = $5, channel = $6, os = $7, architecture = $8, install_language = $9,"
                          " country = $10 WHERE id = $11 AND finished_at IS NULL",
                          {at, r.status, std::int64_t{r.wrapperError}, std::int64_t{r.msiError}, r.productVersion,
                           r.channelId, r.os, r.architecture, r.installLanguage, r.country, runId});
      if (!updated.ok()) return StoreResult::Failed;
    }
  } else {
    const PgResult made = pgQuery(db, insert + " RETURNING id", run);
    if (!made.ok() || made.rows() != 1) return StoreResult::Failed;
    runId = made.integer(0, 0);
  }
  const PgResult report = pgQuery(
      db,
      "INSERT INTO reports (run_id, received_at, request_token, country, product_id, product_version, channel,"
      " install_language, status, serial_key, properties, wrapper_error, msi_error, os, language, architecture,"
      " default_browser, stub_version, machine_id) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14,"
      " $15, $16, $17, $18, $19)",
      {runId, at, r.requestToken, r.country, r.productId, r.productVersion, r.channelId, r.installLanguage, r.status,
       r.serialKey, propertiesJson(r), std::int64_t{r.wrapperError}, std::int64_t{r.msiError}, r.os, r.language,
       r.architecture, r.defaultBrowser, r.stubVersion, r.machineId});
  return report.ok() ? StoreResult::Stored : StoreResult::Failed;
}

bool migrate(PGconn* db, std::string& error) {
  const std::vector<const char*> steps = schemaMigrations();
  std::string ignored;
  if (!pgExec(db, "BEGIN", error)) return false;
  const PgResult locked = pgQuery(db, kMigrationLock);
  if (!locked.ok() || !pgExec(db, "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", error)) {
    if (error.empty()) error = locked.error();
    pgExec(db, "ROLLBACK", ignored);
    return false;
  }
  const PgResult current = pgQuery(db, "SELECT COALESCE(MAX(version), 0) FROM schema_version");
  const std::int64_t version = current.ok() && current.rows() == 1 ? current.integer(0, 0) : -1;
  if (version < 0 || version > static_cast<std::int64_t>(steps.size())) {
    error = version < 0 ? "cannot read the schema version"
                        : "the database has schema version " + std::to_string(version) + ", newer than this receiver's " +
                              std::to_string(steps.size());
    pgExec(db, "ROLLBACK", ignored);
    return false;
  }
  for (std::size_t step = static_cast<std::size_t>(version); step < steps.size(); ++step) {
    if (!pgExec(db, withSerial(steps[step]), error)) {
      pgExec(db, "ROLLBACK", ignored);
      return false;
    }
  }
  const std::string mark = "DELETE FROM schema_version; INSERT INTO schema_version VALUES (" +
                           std::to_string(steps.size()) + ")";
  if (!pgExec(db, mark, error) || !pgExec(db, "COMMIT", error)) {
    pgExec(db, "ROLLBACK", ignored);
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<PgStore> PgStore::open(const std::string& uri, std::string& error) {
  PgConnection writer = connectPostgres(uri, error);
  if (!writer || !migrate(writer.get(), error)) return nullptr;
  PgConnection reader = connectPostgres(uri, error);
  if (!reader) return nullptr;
  return std::unique_ptr<PgStore>(new PgStore(std::move(writer), std::move(reader)));
}

PgStore::PgStore(PgConnection writer, PgConnection reader) : writer_(std::move(writer)), reader_(std::move(reader)) {
  writerThread_ = std::thread([this] { writeLoop(); });
}

PgStore::~PgStore() {
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    stopping_ = true;
  }
  queueSignal_.notify_all();
  writerThread_.join();
}

int PgStore::schemaVersion() {
  std::lock_guard<std::mutex> lock(readLock_);
  const PgResult r = pgQuery(reader_.get(), "SELECT MAX(version) FROM schema_version");
  return r.ok() && r.rows() == 1 ? static_cast<int>(r.integer(0, 0)) : -1;
}

StoreResult PgStore::submit(Job job) {
  std::future<StoreResult> result;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    if (stopping_) return StoreResult::Failed;
    queue_.push_back({std::move(job), {}});
    result = queue_.back().done.get_future();
  }
  queueSignal_.notify_one();
  return result.get();
}

void PgStore::writeLoop() {
  PGconn* db = writer_.get();
  for (;;) {
    std::deque<Pending> batch;
    {
      std::unique_lock<std::mutex> lock(queueLock_);
      queueSignal_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      while (!queue_.empty() && batch.size() < kMaxBatch) {
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
    }
    // A connection the server dropped is made again once, before the batch.
    if (PQstatus(db) != CONNECTION_OK) PQreset(db);
    // Each statement is a round trip to the server, so the batch first goes without savepoints; only
    // when one request is refused (rare: a second archive) is it undone and redone one request a
    // transaction, so that the refused one undoes only itself.
    std::vector<StoreResult> results(batch.size(), StoreResult::Failed);
    std::string error;
    bool whole = pgExec(db, "BEGIN", error);
    for (std::size_t i = 0; whole && i < batch.size(); ++i) {
      results[i] = batch[i].job(db);
      whole = results[i] == StoreResult::Stored;
    }
    if (whole && pgExec(db, "COMMIT", error)) {
      for (std::size_t i = 0; i < batch.size(); ++i) batch[i].done.set_value(StoreResult::Stored);
      continue;
    }
    pgExec(db, "ROLLBACK", error);
    for (std::size_t i = 0; i < batch.size(); ++i) {
      results[i] = StoreResult::Failed;
      if (!pgExec(db, "BEGIN", error)) continue;
      const StoreResult result = batch[i].job(db);
      if (result == StoreResult::Stored && pgExec(db, "COMMIT", error)) {
        results[i] = StoreResult::Stored;
      } else {
        pgExec(db, "ROLLBACK", error);
        results[i] = result == StoreResult::Stored ? StoreResult::Failed : result;
      }
    }
    for (std::size_t i = 0; i < batch.size(); ++i) batch[i].done.set_value(results[i]);
  }
}

StoreResult PgStore::addReport(const AnalyticsReport& report, std::int64_t receivedAt) {
  return submit([&report, receivedAt](PGconn* db) { return storeReport(db, report, receivedAt); });
}

StoreResult PgStore::addLogUpload(const LogUpload& u, std::int64_t receivedAt) {
  return submit([&u, receivedAt](PGconn* db) {
    std::vector<std::string> entries;
    for (const ArchiveEntry& entry : u.archive.entries) entries.push_back(entry.name + "\t" + std::to_string(entry.size));
    const PgResult made = pgQuery(db,
                                  "INSERT INTO log_uploads (received_at, request_token, machine_id, sha256, size, entries,"
                                  " error_lines) VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT DO NOTHING RETURNING id",
                                  {receivedAt, u.requestToken, u.machineId, u.sha256, static_cast<std::int64_t>(u.size),
                                   jsonStringArray(entries), jsonStringArray(u.archive.errorLines)});
    if (!made.ok()) return StoreResult::Failed;
    return made.rows() == 1 ? StoreResult::Stored : StoreResult::Conflict;
  });
}

StoreResult PgStore::addDump(const DumpUpload& u, std::int64_t receivedAt) {
  return submit([&u, receivedAt](PGconn* db) {
    const PgResult made = pgQuery(db,
                                  "INSERT INTO dumps (received_at, machine_id, sha256, size, exception_code, faulting_module,"
                                  " module_offset, signature) VALUES ($1, $2, $3, $4, $5, $6, $7, $8)",
                                  {receivedAt, u.machineId, u.sha256, static_cast<std::int64_t>(u.size),
                                   std::int64_t{u.dump.exceptionCode}, u.dump.faultingModule,
                                   static_cast<std::int64_t>(u.dump.offset), u.signature});
    return made.ok() ? StoreResult::Stored : StoreResult::Failed;
  });
}

std::optional<std::vector<std::string>> PgStore::deleteBefore(std::int64_t cutoff) {
  std::vector<std::string> orphans;
  const StoreResult result = submit([cutoff, &orphans](PGconn* db) {
    std::set<std::string> candidates;
    for (const char* sql : {"SELECT sha256 FROM log_uploads WHERE received_at < $1",
                            "SELECT sha256 FROM dumps WHERE received_at < $1"}) {
      const PgResult r = pgQuery(db, sql, {cutoff});
      if (!r.ok()) return StoreResult::Failed;
      for (int i = 0; i < r.rows(); ++i) candidates.insert(r.text(i, 0));
    }
    for (const char* sql : {"DELETE FROM runs WHERE COALESCE(started_at, finished_at) < $1",
                            "DELETE FROM log_uploads WHERE received_at < $1", "DELETE FROM dumps WHERE received_at < $1"}) {
      if (!pgQuery(db, sql, {cutoff}).ok()) return StoreResult::Failed;
    }
    orphans.clear();
    for (const std::string& hash : candidates) {
      const PgResult r =
          pgQuery(db, "SELECT 1 FROM log_uploads WHERE sha256 = $1 UNION ALL SELECT 1 FROM dumps WHERE sha256 = $1", {hash});
      if (r.ok() && r.rows() == 0) orphans.push_back(hash);
    }
    return StoreResult::Stored;
  });
  if (result != StoreResult::Stored) return std::nullopt;
  return orphans;
}

std::map<std::string, std::int64_t> PgStore::rowCounts() {
  std::lock_guard<std::mutex> lock(readLock_);
  std::map<std::string, std::int64_t> counts;
  for (const char* table : {"reports", "runs", "log_uploads", "dumps"}) {
    const PgResult r = pgQuery(reader_.get(), std::string("SELECT COUNT(*) FROM ") + table);
    counts[table] = r.ok() && r.rows() == 1 ? r.integer(0, 0) : -1;
  }
  return counts;
}

}  // namespace receiver
