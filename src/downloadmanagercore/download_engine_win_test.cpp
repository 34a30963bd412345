// Win32 code.
#include <windows.h>
#include <urlmon.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "downloadmanagercore/download_engine_win.h"
#include "downloadmanagercore/download_rules.h"
#include "downloadmanagercore/html_external_win.h"
#include "downloadmanagercore/package_trust.h"
#include "htmlui/script_callback_win.h"
#include "support/recording_dispatch_win.h"
#include "support/test_http_server_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/scope_exit.h"

namespace downloadmanagercore {

struct HtmlExternalTestAccess {
  static std::wstring exchangeWorkFolder(HtmlExternal& external, std::wstring folder) {
    return std::exchange(external.workFolder_, std::move(folder));
  }
  static void givePageProxyCredentials(HtmlExternal& external, const std::wstring& user, const std::wstring& password) {
    external.pageProxyCredentials_.emplace(user, password);
  }
};

namespace {

using testsupport::readFileBytes;
using testsupport::resetTestServerHits;
using testsupport::testServerHits;
using testsupport::testServerUrl;

// What the server sends for "gen-<size>.bin": a zip's local header signature, then a pattern.
std::string generatedBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = i < 4 ? "PK\3\4"[i] : static_cast<char>((i * 131 + 7) & 0xFF);
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

// DownloadPackage as the page's download command runs it: a script job on a worker of its own, here
// without a call back.
class PageDownloadJob final : public htmlui::ScriptJob {
 public:
  PageDownloadJob(HtmlExternal* external, std::wstring url, std::atomic<std::int32_t>* result)
      : ScriptJob(external), external_(external), url_(std::move(url)), result_(result) {}

 private:
  void run(IDispatch*) override { *result_ = external_->DownloadPackage(url_); }

  HtmlExternal* external_;
  std::wstring url_;
  std::atomic<std::int32_t>* result_;
};

DWORD WINAPI pageDownloadThreadFunc(LPVOID job) { return htmlui::runScriptJob(job); }

HRESULT startPageDownload(HtmlExternal* external, const std::wstring& url, IDispatch* callback,
                          std::atomic<std::int32_t>* result) {
  auto job = std::make_unique<PageDownloadJob>(external, url, result);
  const HRESULT hr = job->marshalCallback(callback);
  return FAILED(hr) ? hr : htmlui::startScriptJob(std::move(job), &pageDownloadThreadFunc);
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
  // A quit message to the worker ends the download early, as it would end any wait.
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

// The receive time-out for one test: half a second instead of half a minute.
class ScopedReceiveTimeout {
 public:
  explicit ScopedReceiveTimeout(unsigned milliseconds) : saved_(receiveTimeoutMilliseconds()) {
    setReceiveTimeoutMillisecondsForTests(milliseconds);
  }
  ~ScopedReceiveTimeout() { setReceiveTimeoutMillisecondsForTests(saved_); }
  ScopedReceiveTimeout(const ScopedReceiveTimeout&) = delete;
  ScopedReceiveTimeout& operator=(const ScopedReceiveTimeout&) = delete;

 private:
  unsigned saved_;
};

// The largest size the file at `path` had while `running` held, read from its directory entry (the
// engine opens it without sharing).
template <typename Running>
std::uint64_t largestFileSizeWhile(const std::wstring& path, Running running) {
  std::uint64_t largest = 0;
  while (running()) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
      largest = std::max(largest, (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    }
    Sleep(1);
  }
  return largest;
}

TEST_F(DownloadEngineTest, ServersThatNeverDeliverTheWholePackageEndByTheRetryRules) {
  const ScopedReceiveTimeout timeout(500);
  const std::wstring tinyVolume = testsupport::tinyVolumeFolder();
  struct Case {
    std::wstring path;
    bool onTinyVolume;  // the announced length must claim no disk, nor end as a full disk
    int attempts;       // ten without progress, after the first that got somewhere
    std::size_t kept;   // what the last attempt wrote
    const char* logged;
  };
  const std::vector<Case> cases = {
      {L"/hang/SorvanePro.zip", false, kAttemptBudget, 0, "TransferDownloadError HRESULT: 800c000b"},
      {L"/stall/gen-5000.bin", false, kAttemptBudget + 1, 1000, "TransferDownloadError HRESULT: 800c000b"},
      {L"/short/gen-10000.bin", false, kAttemptBudget + 1, 6000, "TransferDownloadError HRESULT: 1"},
      {L"/biglength/gen-20000.bin", !tinyVolume.empty(), kAttemptBudget + 1, 20000, "TransferDownloadError HRESULT: 1"},
  };
  std::vector<std::unique_ptr<ScriptObject>> objects;
  std::vector<std::unique_ptr<DownloadWorker>> workers;
  std::vector<std::wstring> ownFolders;
  const DWORD start = GetTickCount();
  for (const Case& c : cases) {
    objects.push_back(std::make_unique<ScriptObject>(&logger_));
    ownFolders.push_back(c.onTinyVolume ? HtmlExternalTestAccess::exchangeWorkFolder(*objects.back()->external, tinyVolume)
                                        : std::wstring());
    workers.push_back(std::make_unique<DownloadWorker>(objects.back()->external, testServerUrl(c.path)));
  }
  const std::uint64_t largestBigFile = largestFileSizeWhile(
      objects.back()->external->workFolder() + L"gen-20000.bin", [&] { return !workers.back()->done(); });
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.path);
    EXPECT_EQ(kDownloadTransient, workers[i]->result());
    std::printf("[ measured ] %ls ended after %lu ms\n", c.path.c_str(), static_cast<unsigned long>(GetTickCount() - start));
    EXPECT_EQ(c.attempts, testServerHits(c.path));
    EXPECT_TRUE(logHasLine(c.logged));
    EXPECT_EQ(generatedBytes(c.kept), readFileBytes(objects[i]->external->downloadPath()).substr(0, c.kept));
    EXPECT_EQ(c.kept, readFileBytes(objects[i]->external->downloadPath()).size());
    if (c.onTinyVolume) {
      DeleteFileW(objects[i]->external->downloadPath().c_str());
      HtmlExternalTestAccess::exchangeWorkFolder(*objects[i]->external, ownFolders[i]);
    }
  }
  EXPECT_LE(largestBigFile, 20000u);
  // The announced 10 GiB shows, as far as a 32-bit count can: never the body's length alone.
  std::printf("[ measured ] downloadTotal for 10 GiB announced: %d\n", objects.back()->numericProperty(L"downloadTotal"));
}

TEST_F(DownloadEngineTest, ASlowButSteadyTransferOutlivesTheReceiveTimeout) {
  const ScopedReceiveTimeout timeout(500);
  // About two seconds, 400 bytes every tenth of a second: each piece is news.
  const std::wstring path = L"/slow/4000/gen-8000.bin";
  EXPECT_EQ(kDownloadSucceeded, downloadOnWorker(object_.external, testServerUrl(path)));
  EXPECT_EQ(generatedBytes(8000), readFileBytes(object_.external->downloadPath()));
  EXPECT_EQ(1, testServerHits(path));
}

TEST_F(DownloadEngineTest, TheEndOfTheRunAbortsATransferInsteadOfWaitingForIt) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  const sysenv::ScopeExit leaveApartment([] { CoUninitialize(); });
  testsupport::RecordingDispatch callback;
  std::atomic<std::int32_t> result{-1};
  // A hundred seconds at this rate.
  const std::wstring path = L"/slow/2000/gen-200000.bin";
  ASSERT_EQ(startPageDownload(object_.external, testServerUrl(path), &callback, &result), S_OK);
  ASSERT_TRUE(eventually([&] { return object_.numericProperty(L"downloadCurrent") > 0; }));

  EXPECT_TRUE(htmlui::finishScriptJobs(10000));

  EXPECT_NE(result, kDownloadSucceeded);
  EXPECT_LT(readFileBytes(object_.external->downloadPath()).size(), 200000u);
  EXPECT_EQ(1, testServerHits(path));
  EXPECT_TRUE(callback.calls.empty());
}

TEST_F(DownloadEngineTest, ResetMidTransferIsRetriedThenWhole) {
  // Wine's binding never ends after a reset in the middle of the body: the receive time-out ends it.
  const ScopedReceiveTimeout timeout(500);
  const std::wstring path = L"/resetonce/engine/gen-300000.bin";
  EXPECT_EQ(kDownloadSucceeded, downloadOnWorker(object_.external, testServerUrl(path)));
  EXPECT_EQ(2, testServerHits(path));
  EXPECT_EQ(generatedBytes(300000), readFileBytes(object_.external->downloadPath()));
}

TEST_F(DownloadEngineTest, RedirectsAreFollowedOnlyOverHttp) {
  testsupport::ScratchFolder scratch;
  const std::wstring secret = scratch.file(L"secret.txt");
  const std::string secretBytes = "a local file that must never become the package";
  ASSERT_TRUE(testsupport::writeFileBytes(secret, secretBytes));
  std::wstring secretUrl = L"file:///" + secret;
  std::replace(secretUrl.begin(), secretUrl.end(), L'\\', L'/');
  struct Case {
    int code;
    std::wstring target;
    std::int32_t result;
  };
  const std::vector<Case> cases = {
      // Another host name for the same server, as a mirror would be.
      {302, testsupport::testServerUrlOnHost(L"localhost", L"/files/gen-3000.bin"), kDownloadSucceeded},
      {301, testsupport::testServerUrlOnHost(L"localhost", L"/files/gen-3000.bin"), kDownloadSucceeded},
      {307, testServerUrl(L"/files/gen-3000.bin"), kDownloadSucceeded},
      {302, secretUrl, kDownloadFailed},
      {301, L"FILE:" + secret, kDownloadFailed},
      {302, L"ftp://127.0.0.1:9/gen-3000.bin", kDownloadFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    ASSERT_TRUE(resetTestServerHits());
    ScriptObject object(&logger_);
    const std::wstring url = testsupport::redirectUrl(c.code, c.target, L"SorvanePro.zip");
    EXPECT_EQ(c.result, downloadOnWorker(object.external, url));
    const std::string kept = readFileBytes(object.external->downloadPath());
    EXPECT_EQ(c.result == kDownloadSucceeded ? generatedBytes(3000) : std::string(), kept);
    EXPECT_EQ(std::string::npos, kept.find("local file"));
    EXPECT_EQ(1, testServerHits(url.substr(url.find(L"/redirect/"))));  // a refusal is not retried
  }
  EXPECT_TRUE(logHasLine("TransferDownloadError HRESULT: 800c0014"));
}

// SHA-256 of generatedBytes(300000), computed outside Windows.
constexpr char16_t kGenerated300000Sha256[] = u"2792d8d70bb7ff8e52338c084ea7705a309eacc4816ee0f6089f149775670fb9";

TEST_F(DownloadEngineTest, APinnedPackageIsHashedAsItIsWrittenAcrossAttempts) {
  const auto pin = parseHexDigest(kGenerated300000Sha256);
  ASSERT_TRUE(pin.has_value());
  for (const std::wstring path : {L"/files/gen-300000.bin", L"/nolength/gen-300000.bin",
                                   // the first attempt breaks off at 60 %: the hash starts again with the file
                                   L"/breakonce/pinned/gen-300000.bin"}) {
    SCOPED_TRACE(path);
    ScriptObject object(&logger_);
    object.external->pinPackageSha256(*pin);
    EXPECT_EQ(kDownloadSucceeded, downloadOnWorker(object.external, testServerUrl(path)));
    EXPECT_EQ(generatedBytes(300000), readFileBytes(object.external->downloadPath()));
    EXPECT_EQ(0, object.record.wrapperError);
  }
}

TEST_F(DownloadEngineTest, AnotherPackageThanThePinnedOneIsDeletedAndNotRetried) {
  auto pin = parseHexDigest(kGenerated300000Sha256);
  ASSERT_TRUE(pin.has_value());
  // One byte off in the pin stands for one byte off in the package.
  (*pin)[31] ^= 1;
  const std::wstring path = L"/files/gen-300000.bin";
  object_.external->pinPackageSha256(*pin);
  EXPECT_EQ(kDownloadFailed, downloadOnWorker(object_.external, testServerUrl(path)));
  EXPECT_EQ(1, testServerHits(path));
  EXPECT_FALSE(testsupport::pathExists(object_.external->downloadPath()));
  EXPECT_EQ(kPackageHashStage, object_.record.wrapperError);
  EXPECT_EQ(reportCode(kPackageHashMismatch), object_.record.msiError);
  EXPECT_TRUE(logHasLine("Package hash mismatch, expected SHA-256 "
                         "2792d8d70bb7ff8e52338c084ea7705a309eacc4816ee0f6089f149775670fb8, found "
                         "2792d8d70bb7ff8e52338c084ea7705a309eacc4816ee0f6089f149775670fb9; the package was deleted"));
}

// A network that asks its users to sign in first answers with its own page: nothing of it is kept or
// retried, and it is told apart from a broken download, whether the page says what it is or not,
// and also where the package's hash is pinned.
TEST_F(DownloadEngineTest, AWebPageWhereThePackageShouldBeEndsAtOnceAsNoPackage) {
  auto pin = parseHexDigest(kGenerated300000Sha256);
  ASSERT_TRUE(pin.has_value());
  for (const bool pinned : {false, true}) {
    for (const std::wstring path : {L"/portal/SorvanePro.zip", L"/notzip/SorvanePro.zip"}) {
      SCOPED_TRACE(path + (pinned ? L" pinned" : L""));
      ASSERT_TRUE(resetTestServerHits());
      ScriptObject object(&logger_);
      if (pinned) object.external->pinPackageSha256(*pin);
      EXPECT_EQ(kDownloadNotAPackage, downloadOnWorker(object.external, testServerUrl(path)));
      EXPECT_EQ(1, testServerHits(path));
      EXPECT_FALSE(testsupport::pathExists(object.external->downloadPath()));
      EXPECT_EQ(0, object.record.wrapperError) << "no hash stage for a page that is no package";
    }
  }
  EXPECT_TRUE(logHasLine("TransferDownloadError HRESULT: 80040a01"));
  EXPECT_NE(readFileBytes(logger_.logPath()).find("/portal/SorvanePro.zip is a web page or no zip archive, not the package"),
            std::string::npos);
}

// Every byte's complement but the zip signature's: what /resume/.../changed/ serves once the
// package has changed.
std::string complemented(std::string bytes) {
  for (std::size_t i = 4; i < bytes.size(); ++i) bytes[i] = static_cast<char>(~bytes[i]);
  return bytes;
}

TEST_F(DownloadEngineTest, ABrokenTransferContinuesWithARangeForTheRest) {
  constexpr std::int32_t kSize = 1000000;
  const struct {
    std::wstring path;
    std::string ifRange;
  } cases[] = {
      {L"/resume/strong/60/etag/gen-1000000.bin", "\"strong-1\""},
      // Without an ETag, the Last-Modified date guards the range.
      {L"/resume/dated/60/date/gen-1000000.bin", "Tue, 01 Dec 2026 10:00:00 GMT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ScriptObject object(&logger_);
    std::vector<std::int32_t> current;  // "downloadCurrent" whenever it changed
    {
      DownloadWorker worker(object.external, testServerUrl(c.path));
      while (!worker.done()) {
        const std::int32_t now = object.numericProperty(L"downloadCurrent");
        if (current.empty() || current.back() != now) current.push_back(now);
      }
      EXPECT_EQ(kDownloadSucceeded, worker.result());
    }
    EXPECT_EQ(generatedBytes(kSize), readFileBytes(object.external->downloadPath()));
    EXPECT_EQ(std::vector<std::string>({"-\t-\t200\t600000", "bytes=600000-\t" + c.ifRange + "\t206\t400000"}),
              testsupport::testServerRequests(c.path));
    // The bar never goes back, and the total stays the whole package.
    EXPECT_TRUE(std::is_sorted(current.begin(), current.end()));
    EXPECT_EQ(kSize, object.numericProperty(L"downloadCurrent"));
    EXPECT_EQ(kSize, object.numericProperty(L"downloadTotal"));
  }
  EXPECT_TRUE(logHasLine("Download continues at byte 600000"));
}

TEST_F(DownloadEngineTest, APinnedPackageIsHashedWholeWhenItWasContinued) {
  const auto pin = parseHexDigest(kGenerated300000Sha256);
  ASSERT_TRUE(pin.has_value());
  const std::wstring path = L"/resume/pinned/60/etag/gen-300000.bin";
  object_.external->pinPackageSha256(*pin);
  EXPECT_EQ(kDownloadSucceeded, downloadOnWorker(object_.external, testServerUrl(path)));
  EXPECT_EQ(generatedBytes(300000), readFileBytes(object_.external->downloadPath()));
  EXPECT_EQ(0, object_.record.wrapperError);
  ASSERT_EQ(2u, testsupport::testServerRequests(path).size());
  EXPECT_EQ("bytes=180000-\t\"pinned-1\"\t206\t120000", testsupport::testServerRequests(path)[1]);
}

TEST_F(DownloadEngineTest, WhatCannotBeContinuedSafelyIsFetchedWhole) {
  constexpr std::size_t kSize = 500000;
  const struct {
    std::wstring path;
    std::string second;  // the server's line for the second request
    std::string package;
  } cases[] = {
      // A server that ignores Range sends it all again.
      {L"/resume/ignored/60/norange/gen-500000.bin", "bytes=300000-\t\"ignored-1\"\t200\t500000",
       generatedBytes(kSize)},
      // A package that changed between the attempts fails the If-Range: the new one, whole.
      {L"/resume/changed/60/changed/gen-500000.bin", "bytes=300000-\t\"changed-1\"\t200\t500000",
       complemented(generatedBytes(kSize))},
      // A 206 that is not the rest is not written: the next attempt fetches the package whole.
      // (How much of that part the server got out before the attempt hung up varies.)
      {L"/resume/wrongpart/60/badrange/gen-500000.bin", "bytes=300000-\t\"wrongpart-1\"\t206\t",
       generatedBytes(kSize)},
      // A weak validator, or none, guards nothing: no range is asked for.
      {L"/resume/weak/60/weak/gen-500000.bin", "-\t-\t200\t500000", generatedBytes(kSize)},
      {L"/resume/none/60/none/gen-500000.bin", "-\t-\t200\t500000", generatedBytes(kSize)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ScriptObject object(&logger_);
    EXPECT_EQ(kDownloadSucceeded, downloadOnWorker(object.external, testServerUrl(c.path)));
    EXPECT_TRUE(readFileBytes(object.external->downloadPath()) == c.package);
    const std::vector<std::string> requests = testsupport::testServerRequests(c.path);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ("-\t-\t200\t300000", requests[0]);
    // Only the refused part costs a third request, for the whole package.
    const bool refusedPart = c.second.find("\t206\t") != std::string::npos;
    EXPECT_EQ(c.second, refusedPart ? requests[1].substr(0, c.second.size()) : requests[1]);
    EXPECT_EQ(refusedPart ? 3u : 2u, requests.size());
    if (refusedPart && requests.size() == 3) {
      EXPECT_EQ("-\t-\t200\t500000", requests[2]);
    }
  }
}

// Where the user's settings name no proxy, a 407 comes from the server itself: the credentials the
// page took for the proxy never go to it, and the download ends at the proxy's sign-in.
TEST_F(DownloadEngineTest, CredentialsForTheProxyNeverGoToAServerThatAsksForThem) {
  HtmlExternalTestAccess::givePageProxyCredentials(*object_.external, L"tester", L"secret");
  const std::wstring url = testServerUrl(L"/asksproxysignin/gen-1000.bin");
  EXPECT_EQ(kDownloadProxySignIn, downloadOnWorker(object_.external, url));
  // Asked once without credentials and once more without them: had the server seen the header, it
  // would have served the file.
  EXPECT_EQ(2, testServerHits(L"/asksproxysignin/gen-1000.bin"));
  EXPECT_TRUE(logHasLine("QJDownload: the proxy of the system's settings refused the sign-in as tester for " +
                         std::string(url.begin(), url.end()) +
                         " (it offers Basic sign-in): sign in again with the right password"));
}

TEST_F(DownloadEngineTest, UrlWithoutAValidFileNameFailsWithoutARequest) {
  EXPECT_EQ(kDownloadFailed, downloadOnWorker(object_.external, testServerUrl(L"/files/gen-10.bin?part=1")));
  EXPECT_EQ(0, testServerHits(L"/files/gen-10.bin"));
  EXPECT_TRUE(logHasLine("TransferDownloadError HRESULT: 8007007b"));
}

}  // namespace
}  // namespace downloadmanagercore
