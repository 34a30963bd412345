#include <windows.h>
#include <urlmon.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "downloadmanagercore/download_rules.h"
#include "downloadmanagercore/html_external_win.h"
#include "support/test_http_server_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/scope_exit.h"

namespace downloadmanagercore {

struct HtmlExternalTestAccess {
  static std::wstring exchangeWorkFolder(HtmlExternal& external, std::wstring folder) {
    return std::exchange(external.workFolder_, std::move(folder));
  }
};

namespace {

using testsupport::readFileBytes;
using testsupport::resetTestServerHits;
using testsupport::testServerHits;
using testsupport::testServerUrl;

// What the server sends for "gen-<size>.bin".
std::string generatedBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
  return bytes;
}

// A script object of its own (the property map is not shared between downloads), released at the end.
struct ScriptObject {
  explicit ScriptObject(app::Logger* logger) : external(new HtmlExternal(&record, nullptr, logger)) {}
  ~ScriptObject() { external->Release(); }
  ScriptObject(const ScriptObject&) = delete;
  ScriptObject& operator=(const ScriptObject&) = delete;

  std::int32_t numericProperty(const wchar_t* key) { return std::stoi(external->property(key)); }

  app::InstallProperties record{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
  HtmlExternal* external;
};

// DownloadPackage as the download job runs it: on a thread of its own in the multithreaded
// apartment.
class DownloadWorker {
 public:
  DownloadWorker(HtmlExternal* external, const std::wstring& url)
      : thread_([this, external, url] {
          threadId_ = GetCurrentThreadId();
          CoInitializeEx(nullptr, COINIT_MULTITHREADED);
          result_ = external->DownloadPackage(url);
          CoUninitialize();
          done_ = true;
        }) {}
  // A download that would retry without end is stopped as any wait is: with a quit message.
  ~DownloadWorker() {
    if (!thread_.joinable()) return;
    if (!done_) PostThreadMessageW(threadId(), WM_QUIT, 0, 0);
    thread_.join();
  }
  DownloadWorker(const DownloadWorker&) = delete;
  DownloadWorker& operator=(const DownloadWorker&) = delete;

  std::int32_t result() {
    if (thread_.joinable()) thread_.join();
    return result_;
  }
  bool done() const { return done_; }
  DWORD threadId() const {
    while (threadId_ == 0) Sleep(1);
    return threadId_;
  }

 private:
  std::atomic<DWORD> threadId_{0};
  std::atomic<bool> done_{false};
  std::int32_t result_ = -1;
  std::thread thread_;
};

std::int32_t downloadOnWorker(HtmlExternal* external, const std::wstring& url) {
  return DownloadWorker(external, url).result();
}

// Waits up to 20 s for a condition that another thread brings about.
template <typename Condition>
bool eventually(Condition condition) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 20000) {
    if (condition()) return true;
    Sleep(5);
  }
  return condition();
}

class DownloadEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_TEST_SERVER();
    ASSERT_TRUE(resetTestServerHits());
  }

  bool logHasLine(const std::string& message) {
    std::string log = readFileBytes(logger_.logPath());
    log.erase(std::remove(log.begin(), log.end(), '\r'), log.end());
    return log.find("] " + message + "\n") != std::string::npos;
  }

  app::Logger logger_;
  ScriptObject object_{&logger_};
};

TEST_F(DownloadEngineTest, CompleteTransfersGiveTheExactBytes) {
  struct Case {
    std::wstring path;
    std::size_t size;
    std::int32_t announcedTotal;  // what "downloadTotal" shows: the length, or 0 without one
  };
  const std::vector<Case> cases = {
      {L"/files/gen-300000.bin", 300000, 300000},
      {L"/nolength/gen-300001.bin", 300001, 0},
      {L"/files/gen-100.bin", 100, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ScriptObject object(&logger_);
    EXPECT_EQ(kDownloadSucceeded, downloadOnWorker(object.external, testServerUrl(c.path)));
    const std::wstring name = c.path.substr(c.path.rfind(L'/') + 1);
    EXPECT_EQ(object.external->workFolder() + name, object.external->downloadPath());
    EXPECT_EQ(generatedBytes(c.size), readFileBytes(object.external->downloadPath()));
    EXPECT_EQ(c.announcedTotal, object.numericProperty(L"downloadTotal"));
    EXPECT_EQ(static_cast<std::int32_t>(c.size), object.numericProperty(L"downloadCurrent"));
    EXPECT_EQ(1, testServerHits(c.path));
  }
  EXPECT_TRUE(logHasLine("TransferDownloadError HRESULT: 0"));
}

TEST_F(DownloadEngineTest, ShortTransferIsCutToWhatArrivedAndRetried) {
  // Every attempt on this route delivers data, so the download is retried without end; a quit
  // message to the worker ends it, as it would end any wait.
  const std::wstring path = L"/short/gen-10000.bin";
  DownloadWorker worker(object_.external, testServerUrl(path));
  ASSERT_TRUE(eventually([&] { return logHasLine("TransferDownloadError HRESULT: 1") || worker.done(); }));
  // Between the attempts (a pause of a second) the file holds the 60 % that arrived.
  EXPECT_EQ(generatedBytes(6000), readFileBytes(object_.external->downloadPath()));
  EXPECT_EQ(10000, object_.numericProperty(L"downloadTotal"));
  EXPECT_TRUE(eventually([&] { return testServerHits(path) >= 2; }));
  PostThreadMessageW(worker.threadId(), WM_QUIT, 0, 0);
  EXPECT_EQ(kDownloadFailed, worker.result());
  EXPECT_TRUE(logHasLine("TransferDownloadError HRESULT: 8000000a"));
}

TEST_F(DownloadEngineTest, BrokenTransferSucceedsOnTheNextAttempt) {
  constexpr std::int32_t kSize = 1000000;
  constexpr std::int32_t kFirstAttempt = kSize * 6 / 10;  // what the broken attempt delivers
  // The retry trickles in at 2 MB/s, so that its progress shows while it runs.
  const std::wstring path = L"/breakonce/engine/2000000/gen-1000000.bin";
  std::vector<std::pair<std::int32_t, std::int32_t>> seen;  // (total, current) whenever it changed
  const auto sample = [&] {
    const std::pair<std::int32_t, std::int32_t> now(object_.numericProperty(L"downloadTotal"),
                                                    object_.numericProperty(L"downloadCurrent"));
    if (seen.empty() || seen.back() != now) seen.push_back(now);
  };
  {
    DownloadWorker worker(object_.external, testServerUrl(path));
    while (!worker.done()) sample();
    EXPECT_EQ(kDownloadSucceeded, worker.result());
  }
  sample();
  EXPECT_EQ(2, testServerHits(path));
  EXPECT_EQ(generatedBytes(kSize), readFileBytes(object_.external->downloadPath()));
  // The broken attempt's count stands during the pause, then falls back to the retry's own count;
  // "downloadTotal" keeps the announced length throughout.
  const auto brokenEnd = std::find(seen.begin(), seen.end(), std::make_pair(kSize, kFirstAttempt));
  ASSERT_NE(seen.end(), brokenEnd);
  EXPECT_TRUE(std::any_of(brokenEnd, seen.end(), [](const auto& s) { return s.second < kFirstAttempt; }));
  for (auto it = brokenEnd; it != seen.end(); ++it) EXPECT_EQ(kSize, it->first);
  EXPECT_EQ(std::make_pair(kSize, kSize), seen.back());
}

TEST_F(DownloadEngineTest, HttpErrorStatusesNeverCountAsThePackage) {
  struct Case {
    std::wstring path;
    std::int32_t result;
    int hits;
    const char* logged;
  };
  const std::vector<Case> cases = {
      {L"/status/404/gen-1000.bin", kDownloadObjectNotFound, 1, "TransferDownloadError HRESULT: 800c0006"},
      {L"/status/410/gen-1000.bin", kDownloadObjectNotFound, 1, "TransferDownloadError HRESULT: 800c0006"},
      {L"/status/403/gen-1000.bin", kDownloadFailed, 1, "TransferDownloadError HRESULT: 80190193"},
      {L"/flaky/engine/3/gen-5000.bin", kDownloadSucceeded, 4, "TransferDownloadError HRESULT: 801901f4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ScriptObject object(&logger_);
    EXPECT_EQ(c.result, downloadOnWorker(object.external, testServerUrl(c.path)));
    EXPECT_EQ(c.hits, testServerHits(c.path));
    EXPECT_TRUE(logHasLine(c.logged));
    // The file holds the package or nothing: never the server's error page, nor its length.
    const std::string expected = c.result == kDownloadSucceeded ? generatedBytes(5000) : std::string();
    EXPECT_EQ(expected, readFileBytes(object.external->downloadPath()));
    EXPECT_EQ(static_cast<std::int32_t>(expected.size()), object.numericProperty(L"downloadCurrent"));
  }
}

TEST_F(DownloadEngineTest, PersistentFailuresEndTransientAfterTheBudget) {
  // Ten attempts a second apart each: the three run side by side.
  const std::vector<std::wstring> urls = {
      testsupport::closedPortUrl(L"/gen-1000.bin"),
      L"http://no-such-host.invalid/gen-1000.bin",
      testServerUrl(L"/status/503/gen-1000.bin"),  // an error page is no data: the budget runs out
  };
  std::vector<std::unique_ptr<ScriptObject>> objects;
  std::vector<std::unique_ptr<DownloadWorker>> workers;
  const DWORD start = GetTickCount();
  for (const std::wstring& url : urls) {
    objects.push_back(std::make_unique<ScriptObject>(&logger_));
    workers.push_back(std::make_unique<DownloadWorker>(objects.back()->external, url));
  }
  for (std::size_t i = 0; i < urls.size(); ++i) EXPECT_EQ(kDownloadTransient, workers[i]->result()) << urls[i];
  EXPECT_GE(GetTickCount() - start, 9u * kRetryPauseMilliseconds);
  EXPECT_EQ(kAttemptBudget, testServerHits(L"/status/503/gen-1000.bin"));
  EXPECT_TRUE(logHasLine("TransferDownloadError HRESULT: 800c0008"));
  EXPECT_TRUE(logHasLine("TransferDownloadError HRESULT: 801901f7"));
}

TEST_F(DownloadEngineTest, FullDiskEndsTheDownloadAtOnce) {
  const std::wstring tinyVolume = testsupport::tinyVolumeFolder();
  if (tinyVolume.empty()) GTEST_SKIP() << "no 64 KiB volume: the test server's state folder has no tinyfs mount";
  const std::wstring ownFolder = HtmlExternalTestAccess::exchangeWorkFolder(*object_.external, tinyVolume);
  const sysenv::ScopeExit restore([&] {
    DeleteFileW(object_.external->downloadPath().c_str());
    HtmlExternalTestAccess::exchangeWorkFolder(*object_.external, ownFolder);
  });
  const std::wstring path = L"/files/gen-200000.bin";
  EXPECT_EQ(kDownloadDiskFull, downloadOnWorker(object_.external, testServerUrl(path)));
  EXPECT_EQ(1, testServerHits(path));
  EXPECT_TRUE(logHasLine("TransferDownloadError HRESULT: 80070070"));
}

TEST_F(DownloadEngineTest, UrlWithoutAValidFileNameFailsWithoutARequest) {
  EXPECT_EQ(kDownloadFailed, downloadOnWorker(object_.external, testServerUrl(L"/files/gen-10.bin?part=1")));
  EXPECT_EQ(0, testServerHits(L"/files/gen-10.bin"));
  EXPECT_TRUE(logHasLine("TransferDownloadError HRESULT: 8007007b"));
}

}  // namespace
}  // namespace downloadmanagercore
