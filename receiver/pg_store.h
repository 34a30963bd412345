// The server database: PostgreSQL, which several receiver processes on one machine share. Each
// process commits what arrives meanwhile in one transaction, as the SQLite store does; rows that two processes may make at once (a run's first report, a run's archive) are
// made with ON CONFLICT, so that neither fails the other.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "receiver/pg_db.h"
#include "receiver/store.h"

namespace receiver {

class PgStore : public ReportStore {
 public:
  // Connects (twice: a writer and a reader) and brings the schema up to date under an advisory
  // lock, so that receivers starting together migrate once.
  static std::unique_ptr<PgStore> open(const std::string& uri, std::string& error);
  ~PgStore() override;

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
  int schemaVersion();

 private:
  using Job = std::function<StoreResult(PGconn*)>;
  struct Pending {
    Job job;
    std::promise<StoreResult> done;
  };
  PgStore(PgConnection writer, PgConnection reader);
  StoreResult submit(Job job);
  void writeLoop();

  PgConnection writer_;
  std::mutex readLock_;
  PgConnection reader_;
  std::mutex queueLock_;
  std::condition_variable queueSignal_;
  std::deque<Pending> queue_;
  bool stopping_ = false;
  std::thread writerThread_;
};

}  // namespace receiver
