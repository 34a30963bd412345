// Win32 code. The reports over real WinHTTP to the report collector on 127.0.0.1 port 80 (CTest's fixture
// "report_collector"), which records each request as it arrived.
#include "telemetry/report_transport_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "support/report_collector_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/analytics_document.h"
#include "telemetry/analytics_win.h"

namespace {

using testsupport::CollectedRequest;

constexpr wchar_t kInternetSettingsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

app::InstallProperties sampleRun() {
  app::RunEnvironment environment;
  environment.requestToken = u"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
  environment.machineId = u"P-11111111-2222-3333-4444-555555555555";
  environment.architecture = u"x64";
  environment.defaultBrowser = u"FIREFOX.EXE";
  environment.os = u"Windows 10";
  environment.country = u"94";
  environment.uiLanguage = 3;
  app::InstallProperties properties(u"KRV", u"1.0.20.1", environment);
  properties.setInstallLanguage(1);
  return properties;
}

std::string expectedBody(const app::InstallProperties& properties, bool startReport) {
  return sysenv::toUtf8(sysenv::toWide(telemetry::buildAnalyticsDocument(properties, startReport)));
}

// The one request the collector got, or a failure.
std::optional<CollectedRequest> onlyRequest() {
  std::vector<CollectedRequest> requests = testsupport::collectedRequests();
  EXPECT_EQ(requests.size(), 1u);
  if (requests.size() != 1) return std::nullopt;
  return requests.front();
}

class ReportTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_REPORT_COLLECTOR();
    testsupport::clearCollectedRequests();
  }
  void TearDown() override { testsupport::clearCollectedRequests(); }
};

TEST_F(ReportTransport, StartReportPostsTheDocumentAsUtf8) {
  app::InstallProperties properties = sampleRun();  // status 4, as a fresh record has it
  downloadmanagercore::Analytics analytics(&properties);
  ASSERT_TRUE(analytics.sendStartReport());

  const std::optional<CollectedRequest> request = onlyRequest();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->verb, "POST");
  EXPECT_EQ(request->target, "/v1/logAnalytics");
  EXPECT_EQ(request->body, expectedBody(properties, true));
  EXPECT_NE(request->body.find("<status>started</status>"), std::string::npos);
  EXPECT_EQ(request->header("Content-Type"), "application/xml");
  EXPECT_EQ(request->header("Content-Length"), std::to_string(request->body.size()));
  EXPECT_EQ(request->header("User-Agent"), "Mervale Message Client/1.0");
  EXPECT_EQ(request->header("Host"), "127.0.0.1");
  std::printf("[ measured ] the request as WinHTTP sent it:\n%s", request->head.c_str());
}

TEST_F(ReportTransport, FinalReportCarriesTheRecordsStatus) {
  struct Case {
    std::int32_t status;
    const char* text;
  };
  const Case cases[] = {
      {1, "<status>completed</status>"},
      {2, "<status>error occurred</status>"},
      {3, "<status>canceled</status>"},
      {0, "<status>canceled</status>"},
      {4, "<status>environment not supported</status>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    testsupport::clearCollectedRequests();
    app::InstallProperties properties = sampleRun();
    properties.status = c.status;
    downloadmanagercore::Analytics analytics(&properties);
    EXPECT_TRUE(analytics.sendFinalReport());
    const std::optional<CollectedRequest> request = onlyRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->target, "/v1/logAnalytics");
    EXPECT_EQ(request->body, expectedBody(properties, false));
    EXPECT_NE(request->body.find(c.text), std::string::npos);
  }
}

TEST_F(ReportTransport, ServerErrorAnswerStillCountsAsSent) {
  testsupport::setCollectorAnswerStatus(500);
  app::InstallProperties properties = sampleRun();
  downloadmanagercore::Analytics analytics(&properties);
  EXPECT_TRUE(analytics.sendFinalReport());
  EXPECT_EQ(testsupport::collectedRequests().size(), 1u);
}

TEST_F(ReportTransport, RefusedConnectionMeansNotSent) {
  app::InstallProperties properties = sampleRun();
  downloadmanagercore::Analytics analytics(&properties);
  {
    testsupport::ScopedCollectorRefusal refusal;
    ASSERT_TRUE(refusal.active());
    const DWORD started = GetTickCount();
    EXPECT_FALSE(analytics.sendStartReport());
    std::printf("[ measured ] a refused report took %lu ms\n", static_cast<unsigned long>(GetTickCount() - started));
  }
  EXPECT_TRUE(testsupport::collectedRequests().empty());
  // Nothing stays behind in the transport: the next report goes out as usual.
  EXPECT_TRUE(analytics.sendStartReport());
  EXPECT_EQ(testsupport::collectedRequests().size(), 1u);
}

TEST_F(ReportTransport, ACollectorThatNeverAnswersHoldsEachReportForABoundedTime) {
  app::InstallProperties properties = sampleRun();
  properties.status = 2;
  downloadmanagercore::Analytics analytics(&properties);
  testsupport::ScratchFolder scratch;
  ASSERT_TRUE(testsupport::writeFileBytes(scratch.file(L"installer_log.txt"), "a log line\r\n"));
  analytics.addLogFile(scratch.file(L"installer_log.txt"));
  {
    testsupport::ScopedCollectorHang hang;
    // The run's last two requests: the final report and, after an error, the log upload.
    const DWORD started = GetTickCount();
    analytics.sendFinalReport();
    const DWORD finalReport = GetTickCount() - started;
    analytics.uploadLogArchive();
    const DWORD both = GetTickCount() - started;
    std::printf("[ measured ] unanswered: final report %lu ms, with the log upload %lu ms\n",
                static_cast<unsigned long>(finalReport), static_cast<unsigned long>(both));
    // Each waits for the receive time-out at most, with room for a slow machine.
    EXPECT_LT(finalReport, 15000u);
    EXPECT_LT(both, 30000u);
  }
  // Both reached the collector before it kept silent. (Only ours are counted: port 80 is the
  // machine's, and another build's stub may report to it meanwhile.)
  const std::vector<CollectedRequest> requests = testsupport::collectedRequests();
  const std::string body = expectedBody(properties, false);
  EXPECT_EQ(1, std::count_if(requests.begin(), requests.end(), [&](const CollectedRequest& r) {
              return r.target == "/v1/logAnalytics" && r.body == body;
            }));
  EXPECT_EQ(1, std::count_if(requests.begin(), requests.end(), [](const CollectedRequest& r) {
              return r.verb == "PUT" && r.target.find("token=0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0") != std::string::npos;
            }));
}

TEST_F(ReportTransport, NonAsciiTextIsSentAsUtf8WithItsByteLength) {
  app::InstallProperties properties = sampleRun();
  properties.OS = u"Windows 7 \u041F\u0440\u043E\u0444\u0435\u0441\u0441\u0438\u043E\u043D\u0430\u043B\u044C\u043D\u0430\u044F";
  properties.defaultBrowser = u"Navegador \u00F1 \u6D4F\u89C8\u5668 \U0001F600";
  downloadmanagercore::Analytics analytics(&properties);
  ASSERT_TRUE(analytics.sendFinalReport());

  const std::optional<CollectedRequest> request = onlyRequest();
  ASSERT_TRUE(request);
  EXPECT_NE(request->body.find("<OS>Windows 7 \xD0\x9F\xD1\x80\xD0\xBE\xD1\x84\xD0\xB5\xD1\x81\xD1\x81\xD0\xB8\xD0\xBE"
                               "\xD0\xBD\xD0\xB0\xD0\xBB\xD1\x8C\xD0\xBD\xD0\xB0\xD1\x8F</OS>"),
            std::string::npos);
  EXPECT_NE(request->body.find("<defaultBrowser>Navegador \xC3\xB1 \xE6\xB5\x8F\xE8\xA7\x88\xE5\x99\xA8 \xF0\x9F\x98\x80"
                               "</defaultBrowser>"),
            std::string::npos);
  EXPECT_EQ(request->body, expectedBody(properties, false));
  EXPECT_EQ(request->header("Content-Length"), std::to_string(request->body.size()));
  EXPECT_GT(request->body.size(), telemetry::buildAnalyticsDocument(properties, false).size());
}

TEST_F(ReportTransport, BodiesGoByteForByteWithTheirLength) {
  std::string allBytes(256, '\0');
  for (int i = 0; i < 256; ++i) allBytes[i] = static_cast<char>(i);
  struct Case {
    std::string body;
    std::wstring path;
    std::wstring verb;
  };
  const Case cases[] = {
      {"", L"/v1/reportError?token=&machineId=X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", L"PUT"},
      {allBytes, L"/v1/reportError?token=0F1E2D3C-4B5A&machineId=V-11111111-2222", L"PUT"},
      {std::string(3 * 1024 * 1024, 'z'), L"/v1/logAnalytics", L"POST"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.size());
    testsupport::clearCollectedRequests();
    EXPECT_TRUE(telemetry::sendReportRequest(c.body.empty() ? nullptr : c.body.data(),
                                             static_cast<std::uint32_t>(c.body.size()), c.path, c.verb));
    const std::optional<CollectedRequest> request = onlyRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->verb, sysenv::toUtf8(c.verb));
    EXPECT_EQ(request->target, sysenv::toUtf8(c.path));
    EXPECT_EQ(request->header("Content-Length"), std::to_string(c.body.size()));
    EXPECT_EQ(request->header("Content-Type"), "application/xml");
    EXPECT_TRUE(request->body == c.body);
  }
}

// The user's proxy settings, replaced for one test and put back afterwards. WinHTTP reads the
// binary "DefaultConnectionSettings" (Wine reads nothing else); Windows keeps ProxyEnable,
// ProxyServer and ProxyOverride beside it, so both are written.
class ScopedUserProxy {
 public:
  // Flags of the binary settings: 1 direct, 2 static proxy, 4 configuration script, 8 auto-detect.
  ScopedUserProxy(DWORD flags, const std::string& proxy, const std::string& bypass) {
    RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, settings_.put(),
                    nullptr);
    RegCreateKeyExW(settings_.get(), L"Connections", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, connections_.put(), nullptr);
    saved_ = {save(settings_.get(), L"ProxyEnable"), save(settings_.get(), L"ProxyServer"),
              save(settings_.get(), L"ProxyOverride"), save(connections_.get(), L"DefaultConnectionSettings")};

    std::string blob;
    const auto addNumber = [&blob](DWORD value) { blob.append(reinterpret_cast<const char*>(&value), sizeof value); };
    const auto addText = [&](const std::string& text) {
      addNumber(static_cast<DWORD>(text.size()));
      blob += text;
    };
    addNumber(0x46);  // the format's version
    addNumber(1);     // change counter
    addNumber(flags);
    addText(proxy);
    addText(bypass);
    addText("");  // configuration script
    blob.append(32, '\0');
    set(connections_.get(), L"DefaultConnectionSettings", REG_BINARY, blob);
    const DWORD enabled = (flags & 2) != 0 ? 1 : 0;
    set(settings_.get(), L"ProxyEnable", REG_DWORD, std::string(reinterpret_cast<const char*>(&enabled), sizeof enabled));
    set(settings_.get(), L"ProxyServer", REG_SZ, wideBytes(proxy));
    set(settings_.get(), L"ProxyOverride", REG_SZ, wideBytes(bypass));
  }
  ~ScopedUserProxy() {
    for (const Saved& value : saved_) {
      if (!value.present) {
        RegDeleteValueW(value.key, value.name);
      } else {
        RegSetValueExW(value.key, value.name, 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                       static_cast<DWORD>(value.data.size()));
      }
    }
  }
  ScopedUserProxy(const ScopedUserProxy&) = delete;
  ScopedUserProxy& operator=(const ScopedUserProxy&) = delete;

 private:
  struct Saved {
    HKEY key;
    const wchar_t* name;
    bool present;
    DWORD type;
    std::string data;
  };

  static Saved save(HKEY key, const wchar_t* name) {
    Saved saved{key, name, false, 0, {}};
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &saved.type, nullptr, &size) != ERROR_SUCCESS) return saved;
    saved.data.resize(size);
    saved.present = RegQueryValueExW(key, name, nullptr, &saved.type, reinterpret_cast<BYTE*>(&saved.data[0]),
                                     &size) == ERROR_SUCCESS;
    saved.data.resize(size);
    return saved;
  }
  static void set(HKEY key, const wchar_t* name, DWORD type, const std::string& data) {
    RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
  }
  static std::string wideBytes(const std::string& ascii) {
    const std::wstring wide(ascii.begin(), ascii.end());
    return std::string(reinterpret_cast<const char*>(wide.c_str()), (wide.size() + 1) * sizeof(wchar_t));
  }

  sysenv::UniqueRegistryKey settings_;
  sysenv::UniqueRegistryKey connections_;
  std::vector<Saved> saved_;
};

TEST_F(ReportTransport, StartReportFollowsTheUsersProxySettings) {
  // Flags of the user's settings: 1 direct, 2 static proxy, 8 automatic detection.
  struct Case {
    const char* what;
    DWORD flags;
    std::string proxy;
    std::string bypass;
    bool sent;
    std::vector<std::string> targets;  // any of them
  };
  const std::vector<Case> cases = {
      // The collector stands in for the proxy, which is sent the absolute URL. (Named "localhost":
      // WinHTTP sends a relative target to a proxy of the server's own host name.) Wine names the
      // default port in the URL.
      {"static proxy", 1 | 2, "localhost:80", "example.invalid;<local>", true,
       {"http://127.0.0.1/v1/logAnalytics", "http://127.0.0.1:80/v1/logAnalytics"}},
      // A proxy where nothing listens: only what bypasses it arrives.
      {"bypassed host", 1 | 2, "127.0.0.1:9", "example.invalid;127.0.0.1", true, {"/v1/logAnalytics"}},
      {"unreachable proxy", 1 | 2, "127.0.0.1:9", "", false, {}},
      {"automatic detection only", 1 | 8, "", "", true, {"/v1/logAnalytics"}},
      {"direct", 1, "127.0.0.1:9", "", true, {"/v1/logAnalytics"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::clearCollectedRequests();
    ScopedUserProxy proxy(c.flags, c.proxy, c.bypass);
    app::InstallProperties properties = sampleRun();
    downloadmanagercore::Analytics analytics(&properties);
    EXPECT_EQ(analytics.sendStartReport(), c.sent);
    const std::vector<CollectedRequest> requests = testsupport::collectedRequests();
    ASSERT_EQ(requests.size(), c.sent ? 1u : 0u);
    if (!c.sent) continue;
    EXPECT_NE(std::find(c.targets.begin(), c.targets.end(), requests[0].target), c.targets.end()) << requests[0].target;
    EXPECT_EQ(requests[0].header("Host"), "127.0.0.1");
    EXPECT_EQ(requests[0].body, expectedBody(properties, true));
    if (c.flags & 2) std::printf("[ measured ] %s:\n%s", c.what, requests[0].head.c_str());
  }
}

}  // namespace
