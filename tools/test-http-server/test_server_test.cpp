// The built server as the Wine tests' fixture runs it: a child process on port 0 that announces its
// port in a file, each route checked with a real HTTP client, and stopped by SIGTERM.
#include "test-http-server/test_server.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string generated(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(testserver::generatedByte(i));
  return bytes;
}

// One server process in a folder of its own; killed and removed at the end. A collector keeps its
// state in that folder.
class ServerProcess {
 public:
  enum Mode { kServeFiles, kCollect };
  explicit ServerProcess(Mode mode = kServeFiles) {
    std::string pattern = (fs::temp_directory_path() / "test-server-XXXXXX").string();
    folder_ = ::mkdtemp(pattern.data());
    fs::create_directories(folder_ / "root");
    const char* exe = std::getenv("SORVANE_TEST_SERVER_EXE");
    if (exe == nullptr) return;
    const std::string root = (folder_ / "root").string(), portFile = (folder_ / "port").string();
    const std::string state = folder_.string();
    const char* arguments[] = {exe,   mode == kCollect ? "--collect" : "--root",
                               mode == kCollect ? state.c_str() : root.c_str(),
                               "--port-file", portFile.c_str(), nullptr};
    if (::posix_spawn(&pid_, exe, nullptr, nullptr, const_cast<char**>(arguments), environ) != 0) pid_ = -1;
    for (int i = 0; i < 100 && port_ == 0 && pid_ > 0; ++i) {
      std::ifstream(portFile) >> port_;
      if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~ServerProcess() {
    stop();
    fs::remove_all(folder_);
  }
  // SIGTERM; the exit status, or -1 when the process was not running or did not end within 5 s.
  int stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
  }
  int port() const { return port_; }
  const fs::path& folder() const { return folder_; }

 private:
  fs::path folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// What a client saw of one GET, also when the body broke off.
struct Seen {
  bool complete = false;
  int status = 0;
  std::string contentLength;
  bool chunked = false;
  std::string location;
  std::string etag;
  std::string lastModified;
  std::string contentRange;
  std::string body;
};

class TestServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new ServerProcess(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (std::getenv("SORVANE_TEST_SERVER_EXE") == nullptr) GTEST_SKIP() << "SORVANE_TEST_SERVER_EXE is not set";
    ASSERT_GT(server_->port(), 0) << "the server did not announce its port";
  }

  static Seen get(const std::string& path, int readTimeoutSeconds = 10, const httplib::Headers& headers = {}) {
    httplib::Client client("127.0.0.1", server_->port());
    client.set_read_timeout(readTimeoutSeconds, 0);
    Seen seen;
    auto result = client.Get(
        path, headers,
        [&](const httplib::Response& response) {
          seen.etag = response.get_header_value("ETag");
          seen.lastModified = response.get_header_value("Last-Modified");
          seen.contentRange = response.get_header_value("Content-Range");
          seen.status = response.status;
          seen.contentLength = response.get_header_value("Content-Length");
          seen.chunked = response.get_header_value("Transfer-Encoding") == "chunked";
          seen.location = response.get_header_value("Location");
          return true;
        },
        [&](const char* data, std::size_t size) {
          seen.body.append(data, size);
          return true;
        });
    seen.complete = static_cast<bool>(result);
    return seen;
  }

  static ServerProcess* server_;
};
ServerProcess* TestServerTest::server_ = nullptr;

TEST_F(TestServerTest, RoutesAnswerAsTheirFaultPrescribes) {
  std::ofstream(server_->folder() / "root" / "pkg.zip", std::ios::binary) << "PK-real-file-bytes";
  const std::string gen1000 = generated(1000);
  struct Case {
    std::string path;
    bool complete;
    int status;
    std::string contentLength;
    bool chunked;
    std::string body;
  };
  const Case cases[] = {
      {"/files/gen-1000.bin", true, 200, "1000", false, gen1000},
      {"/files/pkg.zip", true, 200, "18", false, "PK-real-file-bytes"},
      {"/files/gen-0.bin", true, 200, "0", false, ""},
      {"/nolength/gen-1000.bin", true, 200, "", true, gen1000},
      {"/nolength/gen-0.bin", true, 200, "", true, ""},
      {"/short/gen-0.bin", true, 200, "0", false, ""},
      {"/short/gen-1000.bin", false, 200, "1000", false, gen1000.substr(0, 600)},
      {"/short/gen-999.bin", false, 200, "999", false, gen1000.substr(0, 599)},
      {"/stall/gen-5000.bin", false, 200, "5000", false, gen1000},
      {"/stall/gen-10.bin", false, 200, "10", false, gen1000.substr(0, 9)},
      {"/slow/4000/gen-1000.bin", true, 200, "1000", false, gen1000},
      {"/biglength/gen-1000.bin", false, 200, "10737418240", false, gen1000},
      {"/biglength/gen-0.bin", false, 200, "10737418240", false, ""},
      {"/hang/SorvanePro.zip", false, 0, "", false, ""},  // no answer at all within the second
      {"/files/missing.bin", true, 404, "", false, ""},
      {"/files/..", true, 404, "", false, ""},
      {"/files/%2e%2e%2fetc%2fpasswd", true, 404, "", false, ""},
      {"/short/missing.bin", true, 404, "", false, ""},
      {"/nowhere", true, 404, "", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const Seen seen = get(c.path, 1);
    EXPECT_EQ(seen.complete, c.complete);
    EXPECT_EQ(seen.status, c.status);
    if (c.status != 200) continue;
    EXPECT_EQ(seen.contentLength, c.contentLength);
    EXPECT_EQ(seen.chunked, c.chunked);
    EXPECT_EQ(seen.body, c.body);
  }
}

std::string hex(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string spelled;
  for (unsigned char c : text) spelled += {digits[c >> 4], digits[c & 15]};
  return spelled;
}

TEST_F(TestServerTest, RedirectsAnswerWithTheSpelledLocation) {
  struct Case {
    std::string path;
    int status;
    std::string location;
  };
  const std::string elsewhere = "http://localhost:1/files/gen-10.bin", local = "file:///C:/users/secret.txt";
  const Case cases[] = {
      {"/redirect/302/" + hex(elsewhere) + "/pkg.zip", 302, elsewhere},
      {"/redirect/301/" + hex(local) + "/pkg.zip", 301, local},
      {"/redirect/307/" + hex(elsewhere) + "/pkg.zip", 307, elsewhere},
      {"/redirect/308/" + hex(local).substr(0, 8) + "/pkg.zip", 308, "file"},
      {"/redirect/200/" + hex(elsewhere) + "/pkg.zip", 400, ""},  // not a redirect status
      {"/redirect/302/abc/pkg.zip", 400, ""},                     // half a byte
      {"/redirect/302/xyz/pkg.zip", 404, ""},                     // not hex: no route
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const Seen seen = get(c.path);
    EXPECT_TRUE(seen.complete);
    EXPECT_EQ(seen.status, c.status);
    EXPECT_EQ(seen.location, c.location);
  }
}

// What a raw client read before the connection ended, and how it ended.
struct RawEnd {
  std::string received;
  int error = 0;  // errno of the last recv, 0 for an orderly end
};

RawEnd rawGet(int port, const std::string& path) {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  RawEnd end;
  if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ::send(socket, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[4096];
    ssize_t got;
    while ((got = ::recv(socket, buffer, sizeof buffer, 0)) > 0) end.received.append(buffer, got);
    end.error = got < 0 ? errno : 0;
  }
  ::close(socket);
  return end;
}

TEST_F(TestServerTest, ResetRoutesBreakTheBodyOffWithAReset) {
  const RawEnd reset = rawGet(server_->port(), "/reset/gen-1000.bin");
  EXPECT_EQ(reset.error, ECONNRESET);
  const std::size_t headEnd = reset.received.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos);
  EXPECT_NE(reset.received.find("Content-Length: 1000\r\n"), std::string::npos);
  EXPECT_EQ(reset.received.substr(headEnd + 4), generated(600));

  EXPECT_EQ(rawGet(server_->port(), "/resetonce/r/gen-1000.bin").error, ECONNRESET);
  const Seen whole = get("/resetonce/r/gen-1000.bin");
  EXPECT_TRUE(whole.complete);
  EXPECT_EQ(whole.body, generated(1000));
  // A plain short body ends in order: the reset is the route's own doing.
  EXPECT_EQ(rawGet(server_->port(), "/short/gen-1000.bin").error, 0);
}

TEST_F(TestServerTest, KeyedFaultsCountRequestsPerKey) {
  EXPECT_EQ(get("/flaky/a/2/gen-100.bin").status, 500);
  EXPECT_EQ(get("/flaky/b/1/gen-100.bin").status, 500);
  EXPECT_EQ(get("/flaky/a/2/gen-100.bin").status, 500);
  const Seen third = get("/flaky/a/2/gen-100.bin");
  EXPECT_EQ(third.status, 200);
  EXPECT_EQ(third.body, generated(100));
  EXPECT_EQ(get("/flaky/b/1/gen-100.bin").status, 200);

  const Seen broken = get("/breakonce/k/gen-1000.bin");
  EXPECT_FALSE(broken.complete);
  EXPECT_EQ(broken.body.size(), 600u);
  const Seen whole = get("/breakonce/k/gen-1000.bin");
  EXPECT_TRUE(whole.complete);
  EXPECT_EQ(whole.body, generated(1000));
}

TEST_F(TestServerTest, RootFilesAreServedPlainOrThroughTheirRouteFile) {
  const auto root = server_->folder() / "root";
  std::ofstream(root / "Plain.zip", std::ios::binary) << "PK-plain";
  std::ofstream(root / "Broken.zip", std::ios::binary) << "never served as such";
  std::ofstream(root / "Broken.zip.route") << "/breakonce/root-route/gen-1000.bin\r\n";
  std::ofstream(root / "Missing.zip.route") << "/status/404/anything.zip\n";
  std::ofstream(root / "Bad.zip.route") << "/nowhere/at/all\n";

  const Seen plain = get("/Plain.zip");
  EXPECT_EQ(plain.status, 200);
  EXPECT_EQ(plain.body, "PK-plain");
  // The route file's fault, including its per-key count.
  const Seen first = get("/Broken.zip");
  EXPECT_FALSE(first.complete);
  EXPECT_EQ(first.body.size(), 600u);
  const Seen second = get("/Broken.zip");
  EXPECT_TRUE(second.complete);
  EXPECT_EQ(second.body, generated(1000));
  EXPECT_EQ(get("/Missing.zip").status, 404);
  EXPECT_EQ(get("/Bad.zip").status, 500);
  // Nothing that is not a regular file at the root.
  EXPECT_EQ(get("/Absent.zip").status, 404);
  EXPECT_EQ(get("/..").status, 404);
}

TEST_F(TestServerTest, RefusesConnectionsForTheTimeAskedThenServesAgain) {
  EXPECT_EQ(get("/_refuse?ms=0").status, 400);
  const Seen refusing = get("/_refuse?ms=1500");
  EXPECT_EQ(refusing.status, 200);
  EXPECT_EQ(refusing.body, "refusing");
  const Seen meanwhile = get("/files/gen-10.bin");
  EXPECT_FALSE(meanwhile.complete);
  EXPECT_EQ(meanwhile.status, 0);  // no answer at all: the connection was refused
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  const Seen after = get("/files/gen-10.bin");
  EXPECT_EQ(after.status, 200);
  EXPECT_EQ(after.body, generated(10));
}

TEST_F(TestServerTest, HitsCountExactPathsUntilReset) {
  ASSERT_TRUE(get("/_reset").complete);
  get("/short/gen-10.bin");
  get("/short/gen-10.bin");
  get("/files/nothing-here.bin");
  EXPECT_EQ(get("/_hits?path=/short/gen-10.bin").body, "2");
  EXPECT_EQ(get("/_hits?path=/files/nothing-here.bin").body, "1");
  EXPECT_EQ(get("/_hits?path=/short/gen-1.bin").body, "0");
  get("/_reset");
  EXPECT_EQ(get("/_hits?path=/short/gen-10.bin").body, "0");
}

TEST_F(TestServerTest, ResumeRoutesAnswerRangesUnderTheirValidators) {
  const std::string rest = generated(1000).substr(600);
  const auto ranged = [](const std::string& ifRange) {
    return httplib::Headers{{"Range", "bytes=600-"}, {"If-Range", ifRange}};
  };
  const Seen cut = get("/resume/a/60/etag/gen-1000.bin");
  EXPECT_FALSE(cut.complete);
  EXPECT_EQ(cut.body, generated(600));
  EXPECT_EQ(cut.etag, "\"a-1\"");
  const Seen partial = get("/resume/a/60/etag/gen-1000.bin", 10, ranged("\"a-1\""));
  EXPECT_EQ(partial.status, 206);
  EXPECT_EQ(partial.contentRange, "bytes 600-999/1000");
  EXPECT_EQ(partial.body, rest);
  const Seen stale = get("/resume/a/60/etag/gen-1000.bin", 10, ranged("\"a-0\""));
  EXPECT_EQ(stale.status, 200);
  EXPECT_EQ(stale.body, generated(1000));
  EXPECT_EQ(get("/_requests?path=/resume/a/60/etag/gen-1000.bin").body,
            "-\t-\t200\t600\nbytes=600-\t\"a-1\"\t206\t400\nbytes=600-\t\"a-0\"\t200\t1000\n");

  get("/resume/d/50/date/gen-1000.bin");
  const Seen dated = get("/resume/d/50/date/gen-1000.bin", 10, ranged("Tue, 01 Dec 2026 10:00:00 GMT"));
  EXPECT_EQ(dated.status, 206);
  EXPECT_EQ(dated.lastModified, "Tue, 01 Dec 2026 10:00:00 GMT");
  EXPECT_TRUE(dated.etag.empty());

  // No If-Range can match a weak validator; a server that ignores Range always sends it all.
  get("/resume/w/60/weak/gen-1000.bin");
  EXPECT_EQ(get("/resume/w/60/weak/gen-1000.bin", 10, ranged("W/\"w-1\"")).status, 200);
  get("/resume/n/60/norange/gen-1000.bin");
  const Seen ignored = get("/resume/n/60/norange/gen-1000.bin", 10, ranged("\"n-1\""));
  EXPECT_EQ(ignored.status, 200);
  EXPECT_EQ(ignored.body, generated(1000));

  get("/resume/b/60/badrange/gen-1000.bin");
  const Seen wrongPart = get("/resume/b/60/badrange/gen-1000.bin", 10, ranged("\"b-1\""));
  EXPECT_EQ(wrongPart.status, 206);
  EXPECT_EQ(wrongPart.contentRange, "bytes 0-999/1000");

  // A changed package: another validator and other bytes, whole.
  get("/resume/c/60/changed/gen-1000.bin");
  const Seen changed = get("/resume/c/60/changed/gen-1000.bin", 10, ranged("\"c-1\""));
  EXPECT_EQ(changed.status, 200);
  EXPECT_EQ(changed.etag, "\"c-2\"");
  ASSERT_EQ(changed.body.size(), 1000u);
  EXPECT_EQ(static_cast<char>(~changed.body[5]), generated(1000)[5]);
}

TEST_F(TestServerTest, SigtermEndsTheServerWhileResponsesStallOrHang) {
  ServerProcess own;
  ASSERT_GT(own.port(), 0);
  std::vector<std::thread> clients;
  for (const char* path : {"/stall/gen-100000.bin", "/hang/gen-1.bin"}) {
    clients.emplace_back([&own, path] {
      httplib::Client waiting("127.0.0.1", own.port());
      waiting.set_read_timeout(30, 0);
      waiting.Get(path);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(own.stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(3));
  EXPECT_FALSE(fs::exists(own.folder() / "port"));
  for (std::thread& client : clients) client.join();
}

// What a raw client got back: everything the collector sent before it closed (or before
// `waitSeconds` passed without a byte), or "refused".
std::string exchange(int port, const std::string& request, bool halfClose = false, int waitSeconds = 10) {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  const timeval wait{waitSeconds, 0};
  ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(socket);
    return "refused";
  }
  ::send(socket, request.data(), request.size(), MSG_NOSIGNAL);
  if (halfClose) ::shutdown(socket, SHUT_WR);
  std::string answer;
  char buffer[4096];
  for (ssize_t got; (got = ::recv(socket, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, got);
  ::close(socket);
  return answer;
}

std::string fileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> recordedRequests(const fs::path& state) {
  std::vector<fs::path> names;
  for (const auto& entry : fs::directory_iterator(state / "requests")) names.push_back(entry.path());
  std::sort(names.begin(), names.end());
  std::vector<std::string> requests;
  for (const fs::path& name : names) {
    EXPECT_EQ(name.extension(), ".request") << name;
    requests.push_back(fileText(name));
  }
  return requests;
}

bool waitForFile(const fs::path& path, bool present) {
  for (int i = 0; i < 100; ++i) {
    if (fs::exists(path) == present) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

class ReportCollectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("SORVANE_TEST_SERVER_EXE") == nullptr) GTEST_SKIP() << "SORVANE_TEST_SERVER_EXE is not set";
    ASSERT_GT(collector_.port(), 0) << "the collector did not announce its port";
  }
  ServerProcess collector_{ServerProcess::kCollect};
};

TEST_F(ReportCollectorTest, RecordsEachRequestAsReceivedAndAnswersAtOnce) {
  const std::string binary("PK\x03\x04\0\xff\r\n\r\nend", 14);
  const std::string requests[] = {
      // Header order and spelling kept; the body exactly as sent, even one that looks like a head.
      "POST /v1/logAnalytics HTTP/1.1\r\nUser-Agent: A\r\nContent-Type:application/xml\r\nHost: h\r\n"
      "Content-Length: 14\r\n\r\n" + binary,
      // A proxy's absolute target and an empty body.
      "PUT http://127.0.0.1/v1/reportError?token=&machineId=X-1 HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
      "GET /anything HTTP/1.1\r\nHost: h\r\n\r\n",
  };
  for (const std::string& request : requests) {
    EXPECT_EQ(exchange(collector_.port(), request), "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  }
  // A chunked body is recorded without its framing.
  exchange(collector_.port(), "PUT /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\nA;x=1\r\n0123456789\r\n0\r\n\r\n");

  const std::vector<std::string> recorded = recordedRequests(collector_.folder());
  ASSERT_EQ(recorded.size(), 4u);
  EXPECT_EQ(recorded[0], requests[0]);
  EXPECT_EQ(recorded[1], requests[1]);
  EXPECT_EQ(recorded[2], requests[2]);
  EXPECT_EQ(recorded[3], "PUT /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nabc0123456789");
  EXPECT_TRUE(fs::exists(collector_.folder() / "requests" / "000004.request"));
}

TEST_F(ReportCollectorTest, AnswersWithTheStatusInItsStateFolder) {
  const std::string request = "POST / HTTP/1.1\r\nContent-Length: 1\r\n\r\nx";
  std::ofstream(collector_.folder() / "answer-status") << "500\n";
  EXPECT_EQ(exchange(collector_.port(), request).substr(0, 36), "HTTP/1.1 500 Internal Server Error\r\n");
  std::ofstream(collector_.folder() / "answer-status") << "nonsense";
  EXPECT_EQ(exchange(collector_.port(), request).substr(0, 17), "HTTP/1.1 200 OK\r\n");
  fs::remove(collector_.folder() / "answer-status");
  EXPECT_EQ(exchange(collector_.port(), request).substr(0, 17), "HTTP/1.1 200 OK\r\n");
  EXPECT_EQ(recordedRequests(collector_.folder()).size(), 3u);
}

TEST_F(ReportCollectorTest, RefusesConnectionsWhileTheRefuseFileExists) {
  const fs::path refuse = collector_.folder() / "refuse", refusing = collector_.folder() / "refusing";
  std::ofstream(refuse).flush();
  ASSERT_TRUE(waitForFile(refusing, true));
  EXPECT_EQ(exchange(collector_.port(), "GET / HTTP/1.1\r\n\r\n"), "refused");
  fs::remove(refuse);
  ASSERT_TRUE(waitForFile(refusing, false));
  EXPECT_EQ(exchange(collector_.port(), "GET /again HTTP/1.1\r\n\r\n").substr(0, 17), "HTTP/1.1 200 OK\r\n");
  const std::vector<std::string> recorded = recordedRequests(collector_.folder());
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0], "GET /again HTTP/1.1\r\n\r\n");
}

TEST_F(ReportCollectorTest, RecordsButNeverAnswersWhileTheHangFileExists) {
  const std::string request = "POST /v1/logAnalytics HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc";
  std::ofstream(collector_.folder() / "hang").flush();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(exchange(collector_.port(), request, false, 1), "");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  fs::remove(collector_.folder() / "hang");
  EXPECT_EQ(exchange(collector_.port(), request).substr(0, 17), "HTTP/1.1 200 OK\r\n");
  const std::vector<std::string> recorded = recordedRequests(collector_.folder());
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0], request);
}

TEST_F(ReportCollectorTest, StopsPromptlyWhileItHoldsARequest) {
  std::ofstream(collector_.folder() / "hang").flush();
  std::thread client([port = collector_.port()] { exchange(port, "GET / HTTP/1.1\r\n\r\n", false, 30); });
  ASSERT_TRUE(waitForFile(collector_.folder() / "requests" / "000001.request", true));
  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(collector_.stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(3));
  client.join();
}

TEST_F(ReportCollectorTest, RequestCutShortIsNotRecorded) {
  EXPECT_EQ(exchange(collector_.port(), "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc", true), "");
  EXPECT_EQ(exchange(collector_.port(), "POST / HTTP/1.1\r\nContent-Le", true), "");
  EXPECT_TRUE(recordedRequests(collector_.folder()).empty());
}

}  // namespace
