// The built server as the Wine tests' fixture runs it: a child process on port 0 that announces its
// port in a file, each route checked with a real HTTP client, and stopped by SIGTERM.
#include "test-http-server/test_server.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// One server process in a folder of its own; killed and removed at the end.
class ServerProcess {
 public:
  ServerProcess() {
    std::string pattern = (fs::temp_directory_path() / "test-server-XXXXXX").string();
    folder_ = ::mkdtemp(pattern.data());
    fs::create_directories(folder_ / "root");
    const char* exe = std::getenv("SORVANE_TEST_SERVER_EXE");
    if (exe == nullptr) return;
    const std::string root = (folder_ / "root").string(), portFile = (folder_ / "port").string();
    const char* arguments[] = {exe, "--root", root.c_str(), "--port-file", portFile.c_str(), nullptr};
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

  static Seen get(const std::string& path, int readTimeoutSeconds = 10) {
    httplib::Client client("127.0.0.1", server_->port());
    client.set_read_timeout(readTimeoutSeconds, 0);
    Seen seen;
    auto result = client.Get(
        path,
        [&](const httplib::Response& response) {
          seen.status = response.status;
          seen.contentLength = response.get_header_value("Content-Length");
          seen.chunked = response.get_header_value("Transfer-Encoding") == "chunked";
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

TEST_F(TestServerTest, SigtermEndsTheServerWhileAResponseStalls) {
  ServerProcess own;
  ASSERT_GT(own.port(), 0);
  std::thread client([&] {
    httplib::Client stalled("127.0.0.1", own.port());
    stalled.set_read_timeout(30, 0);
    stalled.Get("/stall/gen-100000.bin");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(own.stop(), 0);
  EXPECT_FALSE(fs::exists(own.folder() / "port"));
  client.join();
}

}  // namespace
