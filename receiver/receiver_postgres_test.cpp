// The receiver on a real PostgreSQL server that the test starts itself: the store's rules, bad
// requests that leave nothing, a SIGKILL under load, and two receiver processes sharing the server.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <thread>

#include "receiver/pg_server.h"
#include "receiver/pg_store.h"
#include "receiver/receiver_process.h"
#include "receiver/test_fixtures.h"

namespace {

using receiver::testing::ReceiverProcess;
using receiver::testing::ReportFields;
using receiver::testing::reportDocument;

class Postgres : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new receiver::testing::PgServer;
    ready_ = server_->start();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (receiver::testing::PgServer::serverPrograms().empty()) {
      GTEST_SKIP() << "PostgreSQL's server is not installed (scripts/install-deps installs it)";
    }
    ASSERT_TRUE(ready_) << "PostgreSQL did not start (see build/native/receiver-tests/postgresql-*)";
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    uri_ = server_->newDatabase(name);
    ASSERT_FALSE(uri_.empty());
  }
  std::map<std::string, std::int64_t> rows() {
    std::string error;
    const auto store = receiver::PgStore::open(uri_, error);
    return store ? store->rowCounts() : std::map<std::string, std::int64_t>{};
  }
  static receiver::testing::PgServer* server_;
  static bool ready_;
  std::string uri_;
};

receiver::testing::PgServer* Postgres::server_ = nullptr;
bool Postgres::ready_ = false;

receiver::AnalyticsReport report(const ReportFields& fields) {
  return *receiver::parseAnalyticsReport(reportDocument(fields)).report;
}

TEST_F(Postgres, TheStoreKeepsTheRulesOfTheSqliteOne) {
  std::string error;
  auto store = receiver::PgStore::open(uri_, error);
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->schemaVersion(), 1);
  const char* finals[] = {"completed", "error occurred", "canceled", "environment not supported", nullptr};
  for (int i = 0; i < 5; ++i) {
    ReportFields fields;
    fields.token = "00000000-0000-0000-0000-00000000000" + std::to_string(i);
    ASSERT_EQ(store->addReport(report(fields), 1000), receiver::StoreResult::Stored);
    ASSERT_EQ(store->addReport(report(fields), 1001), receiver::StoreResult::Stored);  // repeated: one run
    if (finals[i]) {
      fields.status = finals[i];
      fields.wrapperError = i;
      ASSERT_EQ(store->addReport(report(fields), 2000), receiver::StoreResult::Stored);
    }
  }
  receiver::SummaryQuery query;
  query.now = 10000;
  query.abandonAfter = 1000;
  const receiver::Summary s = *store->summary(query);
  EXPECT_EQ(s.runs, 5);
  for (const char* status : {"completed", "error occurred", "canceled", "environment not supported", "abandoned"}) {
    EXPECT_EQ(s.status.at(status), 1) << status;
  }
  EXPECT_EQ(s.stages.size(), 4u);
  const auto rates = store->rates(query, "architecture");
  ASSERT_TRUE(rates);
  ASSERT_EQ(rates->size(), 1u);
  EXPECT_EQ((*rates)[0].value, "x64");
  EXPECT_EQ((*rates)[0].finished, 4);
  EXPECT_EQ((*rates)[0].completed, 1);
  EXPECT_FALSE(store->rates(query, "machine_id"));
  const auto days = store->daily(query);
  ASSERT_TRUE(days);
  std::int64_t started = 0;
  for (const receiver::DayCount& day : *days) {
    EXPECT_EQ(day.day, 0);  // 1000 ms after 1970 began
    started += day.runs;
  }
  EXPECT_EQ(started, 5);
  const auto recent = store->recentRuns(query);
  ASSERT_TRUE(recent);
  EXPECT_EQ(recent->size(), 5u);
  receiver::LogUpload log;
  log.requestToken = "00000000-0000-0000-0000-000000000001";
  log.sha256 = "aa";
  EXPECT_EQ(store->addLogUpload(log, 1000), receiver::StoreResult::Stored);
  EXPECT_EQ(store->addLogUpload(log, 1000), receiver::StoreResult::Conflict);
  const auto orphans = store->deleteBefore(1500);
  ASSERT_TRUE(orphans);
  EXPECT_EQ(*orphans, std::vector<std::string>{"aa"});
  EXPECT_EQ(store->rowCounts()["runs"], 0);
  store.reset();
  // Opening again migrates nothing and keeps the version.
  store = receiver::PgStore::open(uri_, error);
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->schemaVersion(), 1);
}

TEST_F(Postgres, BadRequestsLeaveNothing) {
  ReceiverProcess process(receiver::testing::freshFolder("pg-bad"), {}, uri_);
  ASSERT_TRUE(process.start());
  httplib::Client client("127.0.0.1", process.reportPort());
  ReportFields unknown;
  unknown.status = "finished";
  const std::string machine = "&machineId=P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C";
  EXPECT_EQ(client.Post("/v1/logAnalytics", reportDocument({}).substr(0, 80), "application/xml")->status, 400);
  EXPECT_EQ(client.Post("/v1/logAnalytics", reportDocument(unknown), "application/xml")->status, 400);
  EXPECT_EQ(client.Put(("/v1/reportError?token=0F8E2C4A-1B3D-4E5F-8A9B-0C1D2E3F4A5B" + machine).c_str(), "not a zip",
                       "application/xml")->status, 422);
  EXPECT_EQ(client.Put(("/v1/reportError?token=" + machine).c_str(), "MDMP", "application/xml")->status, 422);
  EXPECT_EQ(client.Put("/v1/reportError?token=&machineId=bad", receiver::testing::crashDump(), "application/xml")->status,
            400);
  for (const auto& [table, count] : rows()) EXPECT_EQ(count, 0) << table;
  EXPECT_EQ(process.stop(), 0);
}

TEST_F(Postgres, NothingAnsweredIsLostToASigkill) {
  const std::string folder = receiver::testing::freshFolder("pg-sigkill");
  ReceiverProcess process(folder, {}, uri_);
  ASSERT_TRUE(process.start());
  std::atomic<long long> answered{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c, port = process.reportPort()] {
      httplib::Client client("127.0.0.1", port);
      client.set_read_timeout(5, 0);
      for (int i = 0; !stop; ++i) {
        ReportFields fields;
        char token[40];
        std::snprintf(token, sizeof token, "%08X-0000-4000-8000-%012X", c, i);
        fields.token = token;
        const auto result = client.Post("/v1/logAnalytics", reportDocument(fields), "application/xml");
        if (!result) break;
        if (result->status == 200) ++answered;
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  process.kill();
  stop = true;
  for (std::thread& t : clients) t.join();
  ASSERT_GT(answered.load(), 50);
  EXPECT_GE(rows()["reports"], answered.load());
  EXPECT_LE(rows()["reports"], answered.load() + 8 * 512);
}

TEST_F(Postgres, TwoReceiversShareOneDatabase) {
  ReceiverProcess first(receiver::testing::freshFolder("pg-first"), {}, uri_);
  ReceiverProcess second(receiver::testing::freshFolder("pg-second"), {}, uri_);
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(second.start());
  httplib::Client a("127.0.0.1", first.reportPort());
  httplib::Client b("127.0.0.1", second.reportPort());
  for (int i = 0; i < 20; ++i) {
    ReportFields fields;
    char token[40];
    std::snprintf(token, sizeof token, "20000000-0000-4000-8000-%012d", i);
    fields.token = token;
    // The start report reaches one process, the final report the other.
    ASSERT_EQ((i % 2 ? a : b).Post("/v1/logAnalytics", reportDocument(fields), "application/xml")->status, 200);
    fields.status = "completed";
    ASSERT_EQ((i % 2 ? b : a).Post("/v1/logAnalytics", reportDocument(fields), "application/xml")->status, 200);
  }
  httplib::Client board("127.0.0.1", second.dashboardPort());
  board.set_basic_auth("vendor", second.password().c_str());
  EXPECT_EQ(board.Get("/api/summary")->body.rfind("{\"runs\": 20, \"status\": {\"completed\": 20,", 0), 0u);
  EXPECT_EQ(rows()["runs"], 20);
  EXPECT_EQ(first.stop(), 0);
  EXPECT_EQ(second.stop(), 0);
}

}  // namespace
