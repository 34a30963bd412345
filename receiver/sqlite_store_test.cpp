// The SQLite store on a real file: its schema version, how reports become runs, and retention.
#include "receiver/sqlite_store.h"

#include <gtest/gtest.h>

#include "receiver/receiver_process.h"
#include "receiver/test_fixtures.h"

namespace {

using receiver::testing::ReportFields;

receiver::AnalyticsReport report(const ReportFields& fields) {
  return *receiver::parseAnalyticsReport(receiver::testing::reportDocument(fields)).report;
}

class SqliteStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = receiver::testing::freshFolder(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "/db.sqlite";
    std::string error;
    store_ = receiver::SqliteStore::open(path_, error);
    ASSERT_TRUE(store_) << error;
  }
  receiver::Summary summaryAt(std::int64_t now, std::int64_t abandonAfter = 1000) {
    receiver::SummaryQuery query;
    query.now = now;
    query.abandonAfter = abandonAfter;
    return *store_->summary(query);
  }
  std::string path_;
  std::unique_ptr<receiver::SqliteStore> store_;
};

TEST_F(SqliteStoreTest, AFreshFileHasTheNewestSchemaAndANewerOneIsRefused) {
  EXPECT_EQ(store_->schemaVersion(), 1);
  store_.reset();
  std::string error;
  {
    receiver::SqliteHandle db = receiver::openSqlite(path_, error);
    ASSERT_TRUE(receiver::sqliteExec(db.get(), "UPDATE schema_version SET version = 2", error));
  }
  EXPECT_FALSE(receiver::SqliteStore::open(path_, error));
  EXPECT_NE(error.find("newer"), std::string::npos) << error;
}

TEST_F(SqliteStoreTest, EveryStartedRunCountsUnderExactlyOneStatus) {
  const char* finals[] = {"completed", "error occurred", "canceled", "environment not supported", nullptr, nullptr};
  for (int i = 0; i < 6; ++i) {
    ReportFields fields;
    fields.token = "00000000-0000-0000-0000-00000000000" + std::to_string(i);
    ASSERT_EQ(store_->addReport(report(fields), i < 5 ? 1000 : 9500), receiver::StoreResult::Stored);
    if (finals[i]) {
      fields.status = finals[i];
      ASSERT_EQ(store_->addReport(report(fields), 2000), receiver::StoreResult::Stored);
    }
  }
  // Run 4 started at 1000 and is abandoned at 10000; run 5 started at 9500 is still under way.
  const receiver::Summary s = summaryAt(10000);
  EXPECT_EQ(s.runs, 6);
  EXPECT_EQ(s.status.at("completed"), 1);
  EXPECT_EQ(s.status.at("error occurred"), 1);
  EXPECT_EQ(s.status.at("canceled"), 1);
  EXPECT_EQ(s.status.at("environment not supported"), 1);
  EXPECT_EQ(s.status.at("abandoned"), 1);
  EXPECT_EQ(summaryAt(20000).status.at("abandoned"), 2);
  // The same by day, and the list of runs newest first.
  receiver::SummaryQuery query;
  query.now = 10000;
  query.abandonAfter = 1000;
  const auto days = store_->daily(query);
  ASSERT_TRUE(days);
  std::map<std::string, std::int64_t> byStatus;
  for (const receiver::DayCount& day : *days) byStatus[day.status] += day.runs;
  EXPECT_EQ(byStatus[""], 1);
  EXPECT_EQ(byStatus["abandoned"], 1);
  const auto recent = store_->recentRuns(query);
  ASSERT_TRUE(recent);
  ASSERT_EQ(recent->size(), 6u);
  EXPECT_EQ(recent->front().requestToken, "00000000-0000-0000-0000-000000000005");
}

TEST_F(SqliteStoreTest, RepeatedAndOrphanReportsDoNotMakeRuns) {
  ReportFields fields;
  store_->addReport(report(fields), 1000);
  store_->addReport(report(fields), 1100);  // the start report again: still one run
  // Placeholder tokens are never joined: each report is a run of its own.
  ReportFields anonymous;
  anonymous.token = "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
  store_->addReport(report(anonymous), 1000);
  store_->addReport(report(anonymous), 1000);
  // A final report whose start never came is kept, but is no started run.
  ReportFields lone;
  lone.token = "99999999-0000-0000-0000-000000000000";
  lone.status = "completed";
  store_->addReport(report(lone), 1000);
  const receiver::Summary s = summaryAt(1200, 100000);
  EXPECT_EQ(s.runs, 3);
  EXPECT_EQ(store_->rowCounts()["reports"], 5);
  EXPECT_EQ(store_->rowCounts()["runs"], 4);
}

TEST_F(SqliteStoreTest, RetentionDeletesOldRowsAndNamesFilesNoRowNeeds) {
  ReportFields old;
  store_->addReport(report(old), 1000);
  receiver::LogUpload log;
  log.requestToken = old.token;
  log.machineId = old.machineId;
  log.sha256 = "aa";
  ASSERT_EQ(store_->addLogUpload(log, 1000), receiver::StoreResult::Stored);
  receiver::DumpUpload oldDump;
  oldDump.sha256 = "bb";
  oldDump.signature = "s";
  ASSERT_EQ(store_->addDump(oldDump, 1000), receiver::StoreResult::Stored);
  receiver::DumpUpload newDump = oldDump;  // the same file, sent again later
  ASSERT_EQ(store_->addDump(newDump, 5000), receiver::StoreResult::Stored);
  const auto orphans = store_->deleteBefore(2000);
  ASSERT_TRUE(orphans);
  EXPECT_EQ(*orphans, std::vector<std::string>{"aa"});
  const auto counts = store_->rowCounts();
  EXPECT_EQ(counts.at("reports"), 0);
  EXPECT_EQ(counts.at("runs"), 0);
  EXPECT_EQ(counts.at("log_uploads"), 0);
  EXPECT_EQ(counts.at("dumps"), 1);
}

TEST_F(SqliteStoreTest, ASecondArchiveForARunIsAConflictAndLeavesTheFirst) {
  receiver::LogUpload log;
  log.requestToken = "0F8E2C4A-1B3D-4E5F-8A9B-0C1D2E3F4A5B";
  log.sha256 = "aa";
  EXPECT_EQ(store_->addLogUpload(log, 1), receiver::StoreResult::Stored);
  log.sha256 = "bb";
  EXPECT_EQ(store_->addLogUpload(log, 2), receiver::StoreResult::Conflict);
  log.requestToken = "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
  EXPECT_EQ(store_->addLogUpload(log, 3), receiver::StoreResult::Stored);
  EXPECT_EQ(store_->addLogUpload(log, 4), receiver::StoreResult::Stored);
  EXPECT_EQ(store_->rowCounts()["log_uploads"], 3);
}

}  // namespace
