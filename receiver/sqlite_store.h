// The embedded database: one SQLite file. One writer thread owns the write connection and commits
// what arrives meanwhile in one transaction (each request in a savepoint of its own, so that one
// refused request does not undo the others): every request still waits for the commit that holds
// it, but a burst costs one sync instead of one each. Reads use a connection of their own, which
// WAL lets run beside the writer.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "receiver/sqlite_db.h"
#include "receiver/store.h"

namespace receiver {

class SqliteStore : public ReportStore {
 public:
  // Opens or creates the file and brings its schema up to date; nothing with `error` set when the
  // file cannot be opened or was made by a newer receiver.
  static std::unique_ptr<SqliteStore> open(const std::string& path, std::string& error);
  ~SqliteStore() override;

  StoreResult addReport(const AnalyticsReport& report, std::int64_t receivedAt) override;
  StoreResult addLogUpload(const LogUpload& upload, std::int64_t receivedAt) override;
  StoreResult addDump(const DumpUpload& upload, std::int64_t receivedAt) override;
  std::optional<Summary> summary(const SummaryQuery& query) override;
  std::optional<std::vector<SignatureCount>> signatures(const SummaryQuery& query) override;
  std::optional<RunRecord> run(const std::string& requestToken) override;
  std::optional<std::vector<DayCount>> daily(const SummaryQuery& query) override;
  std::optional<std::vector<RunListing>> recentRuns(const SummaryQuery& query) override;
  std::optional<std::vector<RateRow>> rates(const SummaryQuery& query, const std::string& dimension) override;
  std::optional<std::vector<std::string>> deleteBefore(std::int64_t cutoff) override;
  std::map<std::string, std::int64_t> rowCounts() override;

  // The schema version of the open file.
  int schemaVersion();

 private:
  using Job = std::function<StoreResult(SqliteStatementCache&)>;
  struct Pending {
    Job job;
    std::promise<StoreResult> done;
  };
  SqliteStore(SqliteHandle writer, SqliteHandle reader);
  StoreResult submit(Job job);
  void writeLoop();

  SqliteHandle writer_;
  std::mutex readLock_;
  SqliteHandle reader_;
  std::mutex queueLock_;
  std::condition_variable queueSignal_;
  std::deque<Pending> queue_;
  bool stopping_ = false;
  std::thread writerThread_;
};

// Brings a connection's schema up to the newest version; false with `error` set otherwise.
bool migrateSqlite(sqlite3* db, std::string& error);

}  // namespace receiver
