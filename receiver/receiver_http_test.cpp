// The receiver program over real HTTP on loopback, with a real SQLite file: what a stub's requests
// do, what bad requests are refused with, and that nothing of a refused request is kept.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "receiver/receiver_process.h"
#include "receiver/test_fixtures.h"

namespace {

using receiver::testing::ReceiverProcess;
using receiver::testing::ReportFields;
using receiver::testing::reportDocument;

const char kMachine[] = "P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C";

// Rows in each table, read through a connection of the test's own.
std::map<std::string, long long> rows(const std::string& database) {
  std::map<std::string, long long> counts;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return counts;
  }
  for (const char* table : {"reports", "runs", "log_uploads", "dumps"}) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, (std::string("SELECT COUNT(*) FROM ") + table).c_str(), -1, &s, nullptr);
    counts[table] = s && sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return counts;
}

long long filesUnder(const std::string& folder) {
  long long count = 0;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info;
    const std::string path = folder + "/" + name;
    if (::stat(path.c_str(), &info) == 0) count += S_ISDIR(info.st_mode) ? filesUnder(path) : 1;
  }
  ::closedir(dir);
  return count;
}

// Sends `request` as it is on a connection of its own and returns the answer's status, or -1.
int rawStatus(int port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int status = -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char answer[64] = {};
    if (::recv(fd, answer, sizeof answer - 1, 0) > 12 && std::string(answer).rfind("HTTP/1.1 ", 0) == 0) {
      status = std::atoi(answer + 9);
    }
  }
  ::close(fd);
  return status;
}

class ReceiverHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    process_ = std::make_unique<ReceiverProcess>(receiver::testing::freshFolder(
        ::testing::UnitTest::GetInstance()->current_test_info()->name()));
    ASSERT_TRUE(process_->start());
  }
  void TearDown() override { EXPECT_EQ(process_->stop(), 0); }

  httplib::Client reports() const {
    httplib::Client client("127.0.0.1", process_->reportPort());
    client.set_read_timeout(10, 0);
    return client;
  }
  httplib::Client dashboard(bool withPassword = true) const {
    httplib::Client client("127.0.0.1", process_->dashboardPort());
    if (withPassword) client.set_basic_auth("vendor", process_->password().c_str());
    return client;
  }
  int post(const std::string& body) {
    const auto result = reports().Post("/v1/logAnalytics", body, "application/xml");
    return result ? result->status : -1;
  }
  int put(const std::string& token, const std::string& body, const std::string& machine = kMachine) {
    const auto result =
        reports().Put(("/v1/reportError?token=" + token + "&machineId=" + machine).c_str(), body, "application/xml");
    return result ? result->status : -1;
  }
  std::string summary(const std::string& query = "") {
    const auto result = dashboard().Get(("/api/summary" + query).c_str());
    return result && result->status == 200 ? result->body : "failed";
  }

  std::unique_ptr<ReceiverProcess> process_;
};

TEST_F(ReceiverHttp, AStartAndAFinalReportMakeOneRunInTheSummary) {
  ReportFields start;
  ReportFields final = start;
  final.status = "error occurred";
  final.wrapperError = 2;
  final.msiError = 3;
  ASSERT_EQ(post(reportDocument(start)), 200);
  ASSERT_EQ(post(reportDocument(final)), 200);
  ReportFields other;
  other.token = "11111111-2222-3333-4444-555555555555";
  ASSERT_EQ(post(reportDocument(other)), 200);
  other.status = "completed";
  other.version = "2.1.0.7";
  ASSERT_EQ(post(reportDocument(other)), 200);
  EXPECT_EQ(summary(),
            "{\"runs\": 2, \"status\": {\"completed\": 1, \"error occurred\": 1, \"canceled\": 0, "
            "\"environment not supported\": 0, \"abandoned\": 0}, \"stages\": [{\"wrapperError\": 0, \"msiError\": 0, "
            "\"runs\": 1}, {\"wrapperError\": 2, \"msiError\": 3, \"runs\": 1}], \"uploads\": {\"logs\": 0, \"dumps\": 0}}\n");
  // The filters: the final report's version, the channel, and a range that holds no start.
  EXPECT_NE(summary("?version=2.1.0.7").find("\"runs\": 1"), std::string::npos);
  EXPECT_NE(summary("?channel=web").find("\"runs\": 2"), std::string::npos);
  EXPECT_NE(summary("?from=2000-01-01&to=2000-01-02").find("\"runs\": 0"), std::string::npos);
  EXPECT_EQ(rows(process_->database())["reports"], 4);
  EXPECT_EQ(rows(process_->database())["runs"], 2);
  // The success rate by version: the final report's version, one of one completed; the failed run
  // installed nothing.
  EXPECT_EQ(dashboard().Get("/api/rates?by=version")->body,
            "[{\"value\": \"\", \"finished\": 1, \"completed\": 0}, "
            "{\"value\": \"2.1.0.7\", \"finished\": 1, \"completed\": 1}]\n");
  EXPECT_EQ(dashboard().Get("/api/rates?by=product_version")->status, 400);
  EXPECT_EQ(dashboard().Get("/api/rates?by=os;DROP")->status, 400);
}

TEST_F(ReceiverHttp, ALogArchiveAndADumpAreStoredByHashAndListed) {
  ReportFields start;
  ASSERT_EQ(post(reportDocument(start)), 200);
  const std::string zip =
      receiver::testing::zipArchive({{"log.txt", "verbose"}, {"installer_log.txt", receiver::testing::stubLog()}});
  ASSERT_EQ(put(start.token, zip), 200);
  EXPECT_EQ(put(start.token, zip), 409) << "a run has one archive";
  ASSERT_EQ(put("", receiver::testing::crashDump()), 200);
  ASSERT_EQ(put("", receiver::testing::crashDump(), "V-ABCDEFGH-1234-5678-9ABC-DEF012345678"), 200);
  EXPECT_EQ(filesUnder(process_->folder() + "/uploads"), 2) << "the same dump twice is one file";
  EXPECT_NE(summary().find("\"uploads\": {\"logs\": 1, \"dumps\": 2}"), std::string::npos);

  const auto signatures = dashboard().Get("/api/signatures");
  ASSERT_TRUE(signatures);
  EXPECT_EQ(signatures->body.rfind("[{\"signature\": \"C0000005 SorvaneProSetup.exe+0x1a2b\", \"dumps\": 2, \"machines\": 2,", 0),
            0u)
      << signatures->body;
  const auto run = dashboard().Get(("/api/run?token=" + start.token).c_str());
  ASSERT_TRUE(run);
  EXPECT_NE(run->body.find("\"errorLines\": [\"[20261209 18:20:39 412 ERROR] QJDownload: the download failed with 404\""),
            std::string::npos)
      << run->body;
  EXPECT_NE(run->body.find("\"logEntries\": [\"log.txt\\u00097\",\"installer_log.txt\\u0009"), std::string::npos) << run->body;
}

// Every one of these is refused with a 4xx, and afterwards the database and the upload folder hold
// nothing at all.
TEST_F(ReceiverHttp, BadRequestsAreRefusedAndLeaveNothing) {
  ReportFields good;
  ReportFields unknownStatus = good;
  unknownStatus.status = "done";
  ReportFields badId = good;
  badId.machineId = "P-001A2B3C";
  httplib::Client client = reports();
  const std::string zip = receiver::testing::zipArchive({{"installer_log.txt", "x"}});
  const std::string dump = receiver::testing::crashDump();
  std::vector<std::pair<const char*, int>> answers;
  auto status = [](const httplib::Result& r) { return r ? r->status : -1; };
  answers.push_back({"malformed", post(reportDocument(good).substr(0, 100))});
  answers.push_back({"unknown status", post(reportDocument(unknownStatus))});
  answers.push_back({"bad machine id in the document", post(reportDocument(badId))});
  answers.push_back({"report over 64 KiB",
                     post(reportDocument(good) + "<!--" + std::string(64 * 1024, 'a') + "-->")});
  answers.push_back({"report with a query", status(client.Post("/v1/logAnalytics?x=1", reportDocument(good), "application/xml"))});
  answers.push_back({"report as text/plain", status(client.Post("/v1/logAnalytics", reportDocument(good), "text/plain"))});
  answers.push_back({"report by GET", status(client.Get("/v1/logAnalytics"))});
  answers.push_back({"report by PUT", status(client.Put("/v1/logAnalytics", reportDocument(good), "application/xml"))});
  answers.push_back({"unknown path", status(client.Post("/v1/other", reportDocument(good), "application/xml"))});
  answers.push_back({"lowercase token", put("0f8e2c4a-1b3d-4e5f-8a9b-0c1d2e3f4a5b", zip)});
  answers.push_back({"bad machine id", put(good.token, zip, "P-1")});
  answers.push_back({"machine id with a quote", put(good.token, zip, "P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3%27")});
  answers.push_back({"no machine id", status(client.Put(("/v1/reportError?token=" + good.token).c_str(), zip, "application/xml"))});
  answers.push_back({"extra parameter",
                     status(client.Put(("/v1/reportError?token=" + good.token + "&machineId=" + kMachine + "&x=1").c_str(),
                                       zip, "application/xml"))});
  answers.push_back({"a dump with a token", put(good.token, dump)});
  answers.push_back({"an archive without a token", put("", zip)});
  answers.push_back({"a text file as archive", put(good.token, "hello")});
  answers.push_back({"a truncated dump", put("", dump.substr(0, 60))});
  // Only the head of an oversized body is sent: the answer must come before the rest is read.
  answers.push_back({"upload over the cap",
                     rawStatus(process_->reportPort(), "PUT /v1/reportError?token=" + good.token + "&machineId=" + kMachine +
                                                           " HTTP/1.1\r\nHost: x\r\nContent-Type:application/xml\r\n"
                                                           "Content-Length: 17000000\r\n\r\nPK\x03\x04")});
  answers.push_back({"chunked report", rawStatus(process_->reportPort(),
                                                 "POST /v1/logAnalytics HTTP/1.1\r\nHost: x\r\nContent-Type:application/xml"
                                                 "\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n<QXDL\r\n0\r\n\r\n")});
  answers.push_back({"gzip report", rawStatus(process_->reportPort(),
                                              "POST /v1/logAnalytics HTTP/1.1\r\nHost: x\r\nContent-Type:application/xml"
                                              "\r\nContent-Encoding: gzip\r\nContent-Length: 4\r\n\r\nabcd")});
  for (const auto& [what, code] : answers) {
    EXPECT_GE(code, 400) << what;
    EXPECT_LT(code, 500) << what;
  }
  const auto counts = rows(process_->database());
  for (const auto& [table, count] : counts) EXPECT_EQ(count, 0) << table;
  EXPECT_EQ(filesUnder(process_->folder() + "/uploads"), 0);
  // And it still takes a good report afterwards.
  EXPECT_EQ(post(reportDocument(good)), 200);
}

TEST_F(ReceiverHttp, TheDashboardAndItsApiNeedThePassword) {
  struct stat info;
  ASSERT_EQ(::stat((process_->folder() + "/password").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_GE(process_->password().size(), 24u);
  for (const char* path : {"/", "/api/summary", "/api/signatures", "/api/run?token=X", "/chart.js"}) {
    const auto anonymous = dashboard(false).Get(path);
    ASSERT_TRUE(anonymous) << path;
    EXPECT_EQ(anonymous->status, 401) << path;
    EXPECT_EQ(anonymous->get_header_value("WWW-Authenticate").rfind("Basic ", 0), 0u);
    httplib::Client wrong("127.0.0.1", process_->dashboardPort());
    wrong.set_basic_auth("vendor", (process_->password() + "x").c_str());
    EXPECT_EQ(wrong.Get(path)->status, 401) << path;
    httplib::Client otherUser("127.0.0.1", process_->dashboardPort());
    otherUser.set_basic_auth("admin", process_->password().c_str());
    EXPECT_EQ(otherUser.Get(path)->status, 401) << path;
  }
  EXPECT_EQ(dashboard().Get("/api/summary")->status, 200);
  EXPECT_EQ(dashboard().Get("/api/summary?from=yesterday")->status, 400);
  // The report address serves no dashboard.
  httplib::Client wrongPort("127.0.0.1", process_->reportPort());
  wrongPort.set_basic_auth("vendor", process_->password().c_str());
  EXPECT_EQ(wrongPort.Get("/api/summary")->status, 404);
}

TEST(ReceiverRestart, ReportsSurviveARestartAndThePasswordStays) {
  const std::string folder = receiver::testing::freshFolder("restart");
  std::string password;
  {
    ReceiverProcess first(folder);
    ASSERT_TRUE(first.start());
    password = first.password();
    httplib::Client client("127.0.0.1", first.reportPort());
    ASSERT_EQ(client.Post("/v1/logAnalytics", reportDocument({}), "application/xml")->status, 200);
    EXPECT_EQ(first.stop(), 0);
  }
  ReceiverProcess second(folder);
  ASSERT_TRUE(second.start());
  EXPECT_EQ(second.password(), password);
  EXPECT_EQ(rows(second.database())["reports"], 1);
  EXPECT_EQ(second.stop(), 0);
}

TEST(ReceiverRestart, ARunWithoutItsFinalReportIsAbandonedAfterTheWait) {
  const std::string folder = receiver::testing::freshFolder("abandoned");
  ReceiverProcess process(folder, {"--abandon-after", "1"});
  ASSERT_TRUE(process.start());
  httplib::Client client("127.0.0.1", process.reportPort());
  ASSERT_EQ(client.Post("/v1/logAnalytics", reportDocument({}), "application/xml")->status, 200);
  httplib::Client board("127.0.0.1", process.dashboardPort());
  board.set_basic_auth("vendor", process.password().c_str());
  EXPECT_NE(board.Get("/api/summary")->body.find("\"abandoned\": 0"), std::string::npos);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_NE(board.Get("/api/summary")->body.find("\"runs\": 1, \"status\": {\"completed\": 0, \"error occurred\": 0, "
                                                "\"canceled\": 0, \"environment not supported\": 0, \"abandoned\": 1}"),
            std::string::npos);
  EXPECT_EQ(process.stop(), 0);
}

// Many clients post at once; the receiver is killed with SIGKILL in the middle. After a restart,
// every report that was answered 200 is in the database.
TEST(ReceiverKill, NothingAnsweredIsLostToASigkill) {
  const std::string folder = receiver::testing::freshFolder("sigkill");
  ReceiverProcess process(folder);
  ASSERT_TRUE(process.start());
  const int port = process.reportPort();
  std::atomic<long long> answered{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", port);
      client.set_connection_timeout(1, 0);
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
  ReceiverProcess again(folder);
  ASSERT_TRUE(again.start());
  const long long stored = rows(again.database())["reports"];
  EXPECT_GE(stored, answered.load());
  // At most the requests in flight at the kill were stored without their answer.
  EXPECT_LE(stored, answered.load() + 8 * 512);
  EXPECT_EQ(again.stop(), 0);
}

}  // namespace

namespace {

// With --hash-machine-ids the database never holds the id a client sent, only its keyed hash, the
// same for the same machine.
TEST(ReceiverPrivacy, MachineIdsAreKeptOnlyAsAKeyedHash) {
  const std::string folder = receiver::testing::freshFolder("keyed");
  ReceiverProcess process(folder, {"--hash-machine-ids", folder + "/machine-id-key"});
  ASSERT_TRUE(process.start());
  httplib::Client client("127.0.0.1", process.reportPort());
  ReportFields start;
  ASSERT_EQ(client.Post("/v1/logAnalytics", reportDocument(start), "application/xml")->status, 200);
  ASSERT_EQ(client.Put(("/v1/reportError?token=&machineId=" + start.machineId).c_str(), receiver::testing::crashDump(),
                       "application/xml")->status, 200);
  EXPECT_EQ(process.stop(), 0);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(process.database().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  std::vector<std::string> ids;
  for (const char* sql : {"SELECT machine_id FROM runs", "SELECT machine_id FROM reports", "SELECT machine_id FROM dumps"}) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW) ids.push_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  ASSERT_EQ(ids.size(), 3u);
  for (const std::string& id : ids) {
    EXPECT_EQ(id.size(), 34u) << id;
    EXPECT_EQ(id.rfind("H-", 0), 0u) << id;
    EXPECT_EQ(id, ids[0]);
  }
  struct stat info;
  ASSERT_EQ(::stat((folder + "/machine-id-key").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace

namespace {

// Where the disk is short of the free space the receiver keeps, nothing more is taken.
TEST(ReceiverDisk, BelowTheFreeSpaceItKeepsNothingIsTaken) {
  const std::string folder = receiver::testing::freshFolder("disk");
  // A floor of 1 PiB: no test machine has that much free.
  ReceiverProcess process(folder, {"--min-free-mb", "1000000000"});
  ASSERT_TRUE(process.start());
  httplib::Client client("127.0.0.1", process.reportPort());
  EXPECT_EQ(client.Post("/v1/logAnalytics", reportDocument({}), "application/xml")->status, 507);
  EXPECT_EQ(client.Put("/v1/reportError?token=&machineId=P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C",
                       receiver::testing::crashDump(), "application/xml")->status, 507);
  EXPECT_EQ(process.stop(), 0);
  for (const auto& [table, count] : rows(process.database())) EXPECT_EQ(count, 0) << table;
  EXPECT_EQ(filesUnder(folder + "/uploads"), 0);
}

// --retain-days removes, at start, the rows older than the retention and the upload files that no
// row needs any more.
TEST(ReceiverRetention, OldRunsAndTheirFilesAreRemovedAtStart) {
  const std::string folder = receiver::testing::freshFolder("retention");
  {
    ReceiverProcess process(folder);
    ASSERT_TRUE(process.start());
    httplib::Client client("127.0.0.1", process.reportPort());
    ASSERT_EQ(client.Post("/v1/logAnalytics", reportDocument({}), "application/xml")->status, 200);
    ASSERT_EQ(client.Put("/v1/reportError?token=&machineId=P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C",
                         receiver::testing::crashDump(), "application/xml")->status, 200);
    EXPECT_EQ(process.stop(), 0);
  }
  ASSERT_EQ(filesUnder(folder + "/uploads"), 1);
  {
    // Ten days older than they came.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder + "/receiver.sqlite").c_str(), &db), SQLITE_OK);
    for (const char* sql : {"UPDATE runs SET started_at = started_at - 864000000",
                            "UPDATE reports SET received_at = received_at - 864000000",
                            "UPDATE dumps SET received_at = received_at - 864000000"}) {
      ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    }
    sqlite3_close(db);
  }
  ReceiverProcess again(folder, {"--retain-days", "7"});
  ASSERT_TRUE(again.start());
  for (int i = 0; i < 100 && filesUnder(folder + "/uploads") > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(filesUnder(folder + "/uploads"), 0);
  for (const auto& [table, count] : rows(again.database())) EXPECT_EQ(count, 0) << table;
  EXPECT_EQ(again.stop(), 0);
}

}  // namespace

namespace {

// Sends one recorded request (a file of testdata, the exact bytes a stub sent) on its own
// connection; the answer's status.
int sendRecordedRequest(int port, const std::string& name) {
  const char* data = std::getenv("SORVANE_RECEIVER_TESTDATA");
  std::ifstream file(std::string(data ? data : "") + name, std::ios::binary);
  const std::string request((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (request.empty()) return 0;
  return rawStatus(port, request);
}

// The requests of six runs of the real stub under Wine (a success, a cancel, a failed installer, a
// failed download, a package without setup.exe, a refused signature), each file the exact bytes
// the stub sent as the tests' collector recorded them: every one is taken, and the summary counts
// what the runs were.
TEST(ReceiverReplay, TheRealStubsRequestsAreTakenAndCounted) {
  const char* data = std::getenv("SORVANE_RECEIVER_TESTDATA");
  ASSERT_TRUE(data);
  const std::string folder = receiver::testing::freshFolder("replay");
  ReceiverProcess process(folder);
  ASSERT_TRUE(process.start());
  for (int i = 1; i <= 16; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/stub-runs/%02d.request", i);
    EXPECT_EQ(sendRecordedRequest(process.reportPort(), name), 200) << name;
  }
  httplib::Client board("127.0.0.1", process.dashboardPort());
  board.set_basic_auth("vendor", process.password().c_str());
  EXPECT_EQ(board.Get("/api/summary")->body,
            "{\"runs\": 6, \"status\": {\"completed\": 1, \"error occurred\": 4, \"canceled\": 1, "
            "\"environment not supported\": 0, \"abandoned\": 0}, \"stages\": [{\"wrapperError\": 0, \"msiError\": 0, "
            "\"runs\": 2}, {\"wrapperError\": 1, \"msiError\": 2, \"runs\": 1}, {\"wrapperError\": 2, \"msiError\": 3, "
            "\"runs\": 1}, {\"wrapperError\": 5, \"msiError\": 0, \"runs\": 1}, {\"wrapperError\": 8, \"msiError\": "
            "-2146762496, \"runs\": 1}], \"uploads\": {\"logs\": 4, \"dumps\": 0}}\n");
  const auto run = board.Get("/api/run?token=841A98BC-05A5-4395-8B5F-D48D7E56F044");
  ASSERT_TRUE(run);
  EXPECT_NE(run->body.find("ERROR] Download fail, download path : C:\\\\windows"), std::string::npos) << run->body;
  EXPECT_EQ(process.stop(), 0);
}

// A crash of the real stub under Wine (its crash filter's minidump, uploaded with an empty token, and
// the start report before it), as the tests' collector recorded them: the dump is read into its
// signature (exception code, faulting module, offset in it), not just stored.
TEST(ReceiverReplay, TheRealStubsCrashDumpIsReadIntoItsSignature) {
  const char* data = std::getenv("SORVANE_RECEIVER_TESTDATA");
  ASSERT_TRUE(data);
  const std::string folder = receiver::testing::freshFolder("replay-crash");
  ReceiverProcess process(folder);
  ASSERT_TRUE(process.start());
  for (const char* name : {"/stub-crash/01.request", "/stub-crash/02.request"}) {
    EXPECT_EQ(sendRecordedRequest(process.reportPort(), name), 200) << name;
  }
  httplib::Client board("127.0.0.1", process.dashboardPort());
  board.set_basic_auth("vendor", process.password().c_str());
  const auto signatures = board.Get("/api/signatures");
  ASSERT_TRUE(signatures);
  // An access violation in the crash-test stub's own image, at the offset the dump's stream gives.
  EXPECT_NE(signatures->body.find("{\"signature\": \"C0000005 SorvaneProSetup-crashtest-packed.exe+0x31b47\", "
                                  "\"dumps\": 1, \"machines\": 1"),
            std::string::npos)
      << signatures->body;
  EXPECT_NE(board.Get("/api/summary")->body.find("\"dumps\": 1}"), std::string::npos);
  EXPECT_EQ(process.stop(), 0);
}

// The helper a demo uses to send a collector's recorded requests on: from the 13th file on, the
// last run (a refused signature) alone, and the summary printed after.
TEST(ReceiverReplay, SendRecordedForwardsFromTheFirstFileItIsGiven) {
  const char* data = std::getenv("SORVANE_RECEIVER_TESTDATA");
  ASSERT_TRUE(data);
  const std::string folder = receiver::testing::freshFolder("send-recorded");
  ReceiverProcess process(folder);
  ASSERT_TRUE(process.start());
  const std::string command = std::string(data) + "/../send-recorded " + data + "/stub-runs 127.0.0.1:" +
                              std::to_string(process.reportPort()) + " 127.0.0.1:" +
                              std::to_string(process.dashboardPort()) + " " + folder + "/password 14 > " + folder +
                              "/out.txt";
  EXPECT_EQ(std::system(command.c_str()), 0);
  std::ifstream out(folder + "/out.txt");
  const std::string printed((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
  EXPECT_NE(printed.find("16.request  PUT /v1/reportError?token="), std::string::npos) << printed;
  EXPECT_EQ(printed.find("13.request"), std::string::npos) << printed;
  EXPECT_NE(printed.find("\"runs\": 1,"), std::string::npos) << printed;
  EXPECT_NE(printed.find("\"logs\": 1,"), std::string::npos) << printed;
  EXPECT_EQ(process.stop(), 0);
}

}  // namespace
