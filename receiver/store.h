// What the receiver keeps, behind one interface for both databases. Every add is answered only
// after its transaction has committed: Stored means the row is on disk.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "receiver/analytics_report.h"
#include "receiver/log_archive.h"
#include "receiver/minidump.h"

namespace receiver {

enum class StoreResult {
  Stored,
  Conflict,  // refused by a rule of the data: a second log archive for one run
  Failed,    // the database could not take it (full disk, I/O error, closed)
};

struct LogUpload {
  std::string requestToken;
  std::string machineId;
  std::string sha256;  // of the archive's bytes, lowercase hex: its file name in the upload folder
  std::uint64_t size = 0;
  LogArchive archive;
};

struct DumpUpload {
  std::string machineId;
  std::string sha256;
  std::uint64_t size = 0;
  DumpSummary dump;
  std::string signature;
};

// Times are milliseconds since 1970 (UTC). A run falls in a range by its start report.
struct SummaryQuery {
  std::int64_t from = 0;
  std::int64_t to = INT64_MAX;
  std::string version;  // empty: any
  std::string channel;  // empty: any
  std::int64_t now = 0;
  std::int64_t abandonAfter = 0;  // a started run without a final report this long is "abandoned"
};

struct StageCount {
  std::int32_t wrapperError = 0;
  std::int32_t msiError = 0;
  std::int64_t runs = 0;
};

struct Summary {
  std::int64_t runs = 0;
  std::map<std::string, std::int64_t> status;  // the four final statuses and "abandoned", all present
  std::vector<StageCount> stages;               // most runs first
  std::int64_t logs = 0;
  std::int64_t dumps = 0;
};

struct SignatureCount {
  std::string signature;
  std::int64_t dumps = 0;
  std::int64_t machines = 0;
  std::int64_t lastSeen = 0;
};

// Runs with a final report, by one value of one dimension, and how many of them completed.
struct RateRow {
  std::string value;
  std::int64_t finished = 0;
  std::int64_t completed = 0;
};

// The dimensions the success rate is shown by, with their column: the only names a rates query may
// use (the column never comes from the request).
const char* rateColumn(const std::string& dimension);

// Started runs of one UTC day (days since 1970) under one status: a final status, "abandoned", or
// "" while a run is still under way.
struct DayCount {
  std::int64_t day = 0;
  std::string status;
  std::int64_t runs = 0;
};

// One row of the list of recent runs.
struct RunListing {
  std::string requestToken;
  std::int64_t startedAt = 0;
  std::string status;  // as in DayCount
};

// One run as its own page shows it.
struct RunRecord {
  std::string requestToken;
  std::string machineId;
  std::optional<std::int64_t> startedAt;
  std::optional<std::int64_t> finishedAt;
  std::string status;  // the final report's, empty without one
  std::vector<std::map<std::string, std::string>> reports;  // field name to value, in arrival order
  std::vector<std::string> logEntries;
  std::vector<std::string> errorLines;
};

class ReportStore {
 public:
  virtual ~ReportStore() = default;
  // `receivedAt` in milliseconds. A start and a final report with the same request token are one
  // run; each placeholder token's report is a run of its own.
  virtual StoreResult addReport(const AnalyticsReport& report, std::int64_t receivedAt) = 0;
  virtual StoreResult addLogUpload(const LogUpload& upload, std::int64_t receivedAt) = 0;
  virtual StoreResult addDump(const DumpUpload& upload, std::int64_t receivedAt) = 0;
  virtual std::optional<Summary> summary(const SummaryQuery& query) = 0;
  virtual std::optional<std::vector<SignatureCount>> signatures(const SummaryQuery& query) = 0;
  virtual std::optional<RunRecord> run(const std::string& requestToken) = 0;
  // The funnel over time, by day of the start report, oldest first.
  virtual std::optional<std::vector<DayCount>> daily(const SummaryQuery& query) = 0;
  // The 50 runs with the latest start reports in the range, newest first.
  virtual std::optional<std::vector<RunListing>> recentRuns(const SummaryQuery& query) = 0;
  // At most 50 values, most runs first; `dimension` must have a rateColumn.
  virtual std::optional<std::vector<RateRow>> rates(const SummaryQuery& query, const std::string& dimension) = 0;
  // Deletes runs, reports and uploads received before `cutoff`; the content hashes that no upload
  // refers to any more, whose files the caller removes. Nothing on failure.
  virtual std::optional<std::vector<std::string>> deleteBefore(std::int64_t cutoff) = 0;
  // Every row counted, for tests and the bench: "reports", "runs", "log_uploads", "dumps".
  virtual std::map<std::string, std::int64_t> rowCounts() = 0;
};

}  // namespace receiver
