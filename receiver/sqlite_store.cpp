#include "receiver/sqlite_store.h"

#include <set>

#include "receiver/json_text.h"
#include "receiver/schema.h"
#include "receiver/text_rules.h"

namespace receiver {
namespace {

// How many waiting requests one transaction takes at most.
constexpr std::size_t kMaxBatch = 512;

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
    text.replace(at, marker.size(), "INTEGER");
  }
  return text;
}

StoreResult storeReport(SqliteStatementCache& db, const AnalyticsReport& r, std::int64_t at) {
  const bool joinable = !isPlaceholderToken(r.requestToken);
  const bool start = r.isStartReport();
  std::int64_t runId = -1;
  bool haveStart = false;
  bool haveFinal = false;
  if (joinable) {
    SqliteStatement find(db, "SELECT id, started_at IS NOT NULL, finished_at IS NOT NULL FROM runs"
                             " WHERE request_token = ?1 AND joinable = 1");
    find.bind(1, std::string_view(r.requestToken));
    const int found = find.step();
    if (found == SQLITE_ROW) {
      runId = find.integer(0);
      haveStart = find.integer(1) != 0;
      haveFinal = find.integer(2) != 0;
    } else if (found != SQLITE_DONE) {
      return StoreResult::Failed;
    }
  }
  if (runId < 0) {
    SqliteStatement insert(db,
                           "INSERT INTO runs (request_token, joinable, machine_id, started_at, finished_at, status,"
                           " product_version, channel, os, architecture, install_language, country, wrapper_error,"
                           " msi_error) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
    insert.bind(1, std::string_view(r.requestToken)).bind(2, std::int64_t{joinable}).bind(3, std::string_view(r.machineId));
    if (start) {
      insert.bind(4, at).bindNull(5).bindNull(6).bindNull(13).bindNull(14);
    } else {
      insert.bindNull(4).bind(5, at).bind(6, std::string_view(r.status)).bind(13, std::int64_t{r.wrapperError})
          .bind(14, std::int64_t{r.msiError});
    }
    insert.bind(7, std::string_view(r.productVersion)).bind(8, std::string_view(r.channelId)).bind(9, std::string_view(r.os))
        .bind(10, std::string_view(r.architecture)).bind(11, std::string_view(r.installLanguage))
        .bind(12, std::string_view(r.country));
    if (!insert.run()) return StoreResult::Failed;
    runId = sqlite3_last_insert_rowid(db.db());
  } else if (start && !haveStart) {
    SqliteStatement update(db, "UPDATE runs SET started_at = ?1 WHERE id = ?2");
    if (!update.bind(1, at).bind(2, runId).run()) return StoreResult::Failed;
  } else if (!start && !haveFinal) {
    // The final report describes the run as it ended (the installed version among others).
    SqliteStatement update(db,
                           "UPDATE runs SET finished_at = ?1, status = ?2, wrapper_error = ?3, msi_error = ?4,"
                           " product_version = ?5, channel = ?6, os = ?7, architecture = ?8, install_language = ?9,"
                           " country = ?10 WHERE id = ?11");
    update.bind(1, at).bind(2, std::string_view(r.status)).bind(3, std::int64_t{r.wrapperError})
        .bind(4, std::int64_t{r.msiError}).bind(5, std::string_view(r.productVersion))
        .bind(6, std::string_view(r.channelId)).bind(7, std::string_view(r.os)).bind(8, std::string_view(r.architecture))
        .bind(9, std::string_view(r.installLanguage)).bind(10, std::string_view(r.country)).bind(11, runId);
    if (!update.run()) return StoreResult::Failed;
  }
  SqliteStatement report(db,
                         "INSERT INTO reports (run_id, received_at, request_token, country, product_id, product_version,"
                         " channel, install_language, status, serial_key, properties, wrapper_error, msi_error, os,"
                         " language, architecture, default_browser, stub_version, machine_id) VALUES (?1, ?2, ?3, ?4,"
                         " ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19)");
  report.bind(1, runId).bind(2, at).bind(3, std::string_view(r.requestToken)).bind(4, std::string_view(r.country))
      .bind(5, std::string_view(r.productId)).bind(6, std::string_view(r.productVersion))
      .bind(7, std::string_view(r.channelId)).bind(8, std::string_view(r.installLanguage))
      .bind(9, std::string_view(r.status)).bind(10, std::string_view(r.serialKey)).bind(11, propertiesJson(r))
      .bind(12, std::int64_t{r.wrapperError}).bind(13, std::int64_t{r.msiError}).bind(14, std::string_view(r.os))
      .bind(15, std::string_view(r.language)).bind(16, std::string_view(r.architecture))
      .bind(17, std::string_view(r.defaultBrowser)).bind(18, std::string_view(r.stubVersion))
      .bind(19, std::string_view(r.machineId));
  return report.run() ? StoreResult::Stored : StoreResult::Failed;
}

}  // namespace

bool migrateSqlite(sqlite3* db, std::string& error) {
  if (!sqliteExec(db, "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", error)) return false;
  const std::vector<const char*> steps = schemaMigrations();
  for (;;) {
    if (!sqliteExec(db, "BEGIN IMMEDIATE", error)) return false;
    SqliteStatement current(db, "SELECT COALESCE(MAX(version), 0) FROM schema_version");
    const std::int64_t version = current.step() == SQLITE_ROW ? current.integer(0) : -1;
    if (version < 0 || version > static_cast<std::int64_t>(steps.size())) {
      error = version < 0 ? "cannot read the schema version"
                          : "the database has schema version " + std::to_string(version) + ", newer than this receiver's " +
                                std::to_string(steps.size());
      std::string ignored;
      sqliteExec(db, "ROLLBACK", ignored);
      return false;
    }
    if (version == static_cast<std::int64_t>(steps.size())) return sqliteExec(db, "COMMIT", error);
    const std::string sql = withSerial(steps[static_cast<std::size_t>(version)]) +
                            ";DELETE FROM schema_version; INSERT INTO schema_version VALUES (" +
                            std::to_string(version + 1) + ")";
    if (!sqliteExec(db, sql.c_str(), error) || !sqliteExec(db, "COMMIT", error)) {
      std::string ignored;
      sqliteExec(db, "ROLLBACK", ignored);
      return false;
    }
  }
}

std::unique_ptr<SqliteStore> SqliteStore::open(const std::string& path, std::string& error) {
  SqliteHandle writer = openSqlite(path, error);
  if (!writer || !migrateSqlite(writer.get(), error)) return nullptr;
  SqliteHandle reader = openSqlite(path, error);
  if (!reader) return nullptr;
  return std::unique_ptr<SqliteStore>(new SqliteStore(std::move(writer), std::move(reader)));
}

SqliteStore::SqliteStore(SqliteHandle writer, SqliteHandle reader)
    : writer_(std::move(writer)), reader_(std::move(reader)) {
  writerThread_ = std::thread([this] { writeLoop(); });
}

SqliteStore::~SqliteStore() {
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    stopping_ = true;
  }
  queueSignal_.notify_all();
  writerThread_.join();
}

int SqliteStore::schemaVersion() {
  std::lock_guard<std::mutex> lock(readLock_);
  SqliteStatement s(reader_.get(), "SELECT MAX(version) FROM schema_version");
  return s.step() == SQLITE_ROW ? static_cast<int>(s.integer(0)) : -1;
}

StoreResult SqliteStore::submit(Job job) {
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

void SqliteStore::writeLoop() {
  SqliteStatementCache cache(writer_.get());
  const auto exec = [&cache](const char* sql) { return SqliteStatement(cache, sql).run(); };
  for (;;) {
    std::deque<Pending> batch;
    {
      std::unique_lock<std::mutex> lock(queueLock_);
      queueSignal_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and everything taken has been answered
      while (!queue_.empty() && batch.size() < kMaxBatch) {
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
    }
    std::vector<StoreResult> results(batch.size(), StoreResult::Failed);
    if (exec("BEGIN IMMEDIATE")) {
      for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!exec("SAVEPOINT request")) break;
        results[i] = batch[i].job(cache);
        if (results[i] != StoreResult::Stored) exec("ROLLBACK TO request");
        exec("RELEASE request");
      }
      if (!exec("COMMIT")) {
        exec("ROLLBACK");
        for (StoreResult& result : results) {
          if (result == StoreResult::Stored) result = StoreResult::Failed;
        }
      }
    }
    // Answered only now: whatever says Stored is in a committed transaction.
    for (std::size_t i = 0; i < batch.size(); ++i) batch[i].done.set_value(results[i]);
  }
}

StoreResult SqliteStore::addReport(const AnalyticsReport& report, std::int64_t receivedAt) {
  return submit([&report, receivedAt](SqliteStatementCache& db) { return storeReport(db, report, receivedAt); });
}

StoreResult SqliteStore::addLogUpload(const LogUpload& u, std::int64_t receivedAt) {
  return submit([&u, receivedAt](SqliteStatementCache& db) {
    SqliteStatement exists(db, "SELECT 1 FROM log_uploads WHERE request_token = ?1"
                               " AND request_token <> 'XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX'");
    const int found = exists.bind(1, std::string_view(u.requestToken)).step();
    if (found == SQLITE_ROW) return StoreResult::Conflict;
    if (found != SQLITE_DONE) return StoreResult::Failed;
    std::vector<std::string> entries;
    for (const ArchiveEntry& entry : u.archive.entries) entries.push_back(entry.name + "\t" + std::to_string(entry.size));
    SqliteStatement insert(db, "INSERT INTO log_uploads (received_at, request_token, machine_id, sha256, size, entries,"
                               " error_lines) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    insert.bind(1, receivedAt).bind(2, std::string_view(u.requestToken)).bind(3, std::string_view(u.machineId))
        .bind(4, std::string_view(u.sha256)).bind(5, static_cast<std::int64_t>(u.size)).bind(6, jsonStringArray(entries))
        .bind(7, jsonStringArray(u.archive.errorLines));
    return insert.run() ? StoreResult::Stored : StoreResult::Failed;
  });
}

StoreResult SqliteStore::addDump(const DumpUpload& u, std::int64_t receivedAt) {
  return submit([&u, receivedAt](SqliteStatementCache& db) {
    SqliteStatement insert(db, "INSERT INTO dumps (received_at, machine_id, sha256, size, exception_code, faulting_module,"
                               " module_offset, signature) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    insert.bind(1, receivedAt).bind(2, std::string_view(u.machineId)).bind(3, std::string_view(u.sha256))
        .bind(4, static_cast<std::int64_t>(u.size)).bind(5, std::int64_t{u.dump.exceptionCode})
        .bind(6, std::string_view(u.dump.faultingModule)).bind(7, static_cast<std::int64_t>(u.dump.offset))
        .bind(8, std::string_view(u.signature));
    return insert.run() ? StoreResult::Stored : StoreResult::Failed;
  });
}

std::optional<std::vector<std::string>> SqliteStore::deleteBefore(std::int64_t cutoff) {
  std::vector<std::string> orphans;
  const StoreResult result = submit([cutoff, &orphans](SqliteStatementCache& db) {
    std::set<std::string> candidates;
    for (const char* sql : {"SELECT sha256 FROM log_uploads WHERE received_at < ?1",
                            "SELECT sha256 FROM dumps WHERE received_at < ?1"}) {
      SqliteStatement s(db, sql);
      s.bind(1, cutoff);
      while (s.step() == SQLITE_ROW) candidates.insert(s.text(0));
    }
    for (const char* sql : {"DELETE FROM runs WHERE COALESCE(started_at, finished_at) < ?1",
                            "DELETE FROM log_uploads WHERE received_at < ?1", "DELETE FROM dumps WHERE received_at < ?1"}) {
      SqliteStatement s(db, sql);
      if (!s.bind(1, cutoff).run()) return StoreResult::Failed;
    }
    orphans.clear();
    for (const std::string& hash : candidates) {
      SqliteStatement s(db, "SELECT 1 FROM log_uploads WHERE sha256 = ?1 UNION ALL SELECT 1 FROM dumps WHERE sha256 = ?1");
      if (s.bind(1, std::string_view(hash)).step() == SQLITE_DONE) orphans.push_back(hash);
    }
    return StoreResult::Stored;
  });
  if (result != StoreResult::Stored) return std::nullopt;
  return orphans;
}

std::map<std::string, std::int64_t> SqliteStore::rowCounts() {
  std::lock_guard<std::mutex> lock(readLock_);
  std::map<std::string, std::int64_t> counts;
  for (const char* table : {"reports", "runs", "log_uploads", "dumps"}) {
    SqliteStatement s(reader_.get(), std::string("SELECT COUNT(*) FROM ") + table);
    counts[table] = s.step() == SQLITE_ROW ? s.integer(0) : -1;
  }
  return counts;
}

}  // namespace receiver
