// Win32 test code. Whole runs of a packed stub whose pages fetch the package over https, from the
// loopback https server (tools/test-https-server on 127.0.0.1 port 8632), through the download
// engine's real transport (URL monikers over WinINet and Wine's schannel). The server's certificate
// chains to a test root that only the project's Wine prefix trusts (scripts/wine-prefix), as a
// customer's machine trusts a public one; a self-signed certificate must stop the download.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "support/stub_run_win.h"
#include "support/test_http_server_win.h"
#include "support/test_product_win.h"

namespace testsupport {
namespace {

constexpr int kDownloadStage = 1;
constexpr int kDownloadFailed = 1;  // not a network fault: not retried
constexpr int kUntrustedCertificate = 8;
constexpr int kCertificateDate = 9;

std::wstring httpsStubPath() { return windowsPathFromEnvironment("SORVANE_HTTPS_STUB"); }
std::wstring httpsServerState() { return windowsPathFromEnvironment("SORVANE_TEST_HTTPS_STATE"); }

class HttpsPackage : public StubRunTest {
 protected:
  void SetUp() override {
    StubRunTest::SetUp();
    if (IsSkipped()) return;
    if (!pathExists(httpsStubPath())) GTEST_SKIP() << "the https stub was not packed";
    if (!pathExists(httpsServerState() + L"\\server.pid")) GTEST_SKIP() << "the https server is not running";
    removeSwitches();
  }
  void TearDown() override {
    removeSwitches();
    StubRunTest::TearDown();
  }

  // While this file exists, the server presents its self-signed certificate.
  static std::wstring untrustedSwitch() { return httpsServerState() + L"\\untrusted"; }
  // While this file exists, the server presents a certificate from the trusted root that expired.
  static std::wstring expiredSwitch() { return httpsServerState() + L"\\expired"; }
  // While this file exists, the server answers every request with a 302 to the URL it holds.
  static std::wstring redirectSwitch() { return httpsServerState() + L"\\redirect"; }
  static void removeSwitches() {
    for (const std::wstring& path : {untrustedSwitch(), expiredSwitch(), redirectSwitch()}) DeleteFileW(path.c_str());
  }
  // The requests that the https server answered during this test.
  std::string httpsRequests() const {
    const std::string log = readFileBytes(httpsServerState() + L"\\server.log");
    return log.substr(std::min(log.size(), logStart_));
  }
  void markLogStart() { logStart_ = readFileBytes(httpsServerState() + L"\\server.log").size(); }

 private:
  std::size_t logStart_ = 0;
};

TEST_F(HttpsPackage, ThePinnedPackageInstallsOverHttpsThroughTheTrustedChain) {
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));
  markLogStart();

  EXPECT_EQ(runStub(httpsStubPath(), L"/quiet"), std::optional<DWORD>(0));

  expectCompletedRun();
  EXPECT_EQ(httpsRequests(), "GET /SorvanePro.zip 200\n");
  EXPECT_EQ(testServerHits(L"/SorvanePro.zip"), 0);  // nothing went over plain http
}

// Each certificate problem ends the download at once with a result of its own, so that the page can
// tell the user whether to check the clock or the network; nothing is requested over the refused
// connection.
TEST_F(HttpsPackage, AnUntrustedOrExpiredCertificateEndsTheDownloadAtOnceWithItsOwnResult) {
  struct Case {
    const wchar_t* name;
    std::wstring switchFile;
    int result;
    const char* transferResult;  // the WinINet problem that the URL service named
    const char* errorLine;
    const char* message;
  };
  const Case cases[] = {
      {L"self-signed", untrustedSwitch(), kUntrustedCertificate, "TransferDownloadError HRESULT: 80072f0d",
       "is not one this computer trusts", "QJMessageBox: The secure connection to the download server is not trusted"},
      {L"expired", expiredSwitch(), kCertificateDate, "TransferDownloadError HRESULT: 80072f05",
       "has expired or is not valid yet", "Check your computer's date and time, then run the setup again."},
  };
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    removeSwitches();
    ASSERT_TRUE(writeFileBytes(c.switchFile, ""));
    markLogStart();
    clearCollectedRequests();

    const std::optional<DWORD> exitCode = runStub(httpsStubPath(), L"/quiet");

    EXPECT_EQ(exitCode, std::optional<DWORD>(1603));
    EXPECT_FALSE(testProductInstalled());
    EXPECT_EQ(leftInTemp(), std::vector<std::wstring>{});
    const std::vector<std::string> logs = expectErrorReports(kDownloadStage, c.result, {"installer_log.txt"});
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(logs[0].find(c.transferResult), std::string::npos) << logs[0];
    EXPECT_NE(logs[0].find(c.errorLine), std::string::npos) << logs[0];
    EXPECT_NE(logs[0].find(c.message), std::string::npos) << logs[0];
    EXPECT_EQ(httpsRequests().find("GET "), std::string::npos) << httpsRequests();
  }
}

// A server (or whoever holds its certificate) that sends the download down to plain http would let
// anyone on the path choose the package: the redirect is refused, and nothing of its target is kept.
TEST_F(HttpsPackage, ARedirectFromHttpsDownToPlainHttpIsRefusedAndNothingOfItsTargetIsKept) {
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));
  ASSERT_TRUE(writeFileBytes(redirectSwitch(), "http://127.0.0.1:8631/SorvanePro.zip"));
  markLogStart();

  const std::optional<DWORD> exitCode = runStub(httpsStubPath(), L"/quiet");

  EXPECT_EQ(exitCode, std::optional<DWORD>(1603));
  EXPECT_FALSE(testProductInstalled());
  EXPECT_EQ(leftInTemp(), std::vector<std::wstring>{});
  const std::vector<std::string> logs = expectErrorReports(kDownloadStage, kDownloadFailed, {"installer_log.txt"});
  ASSERT_EQ(logs.size(), 1u);
  // INET_E_REDIRECT_FAILED, and only once: a refused redirect is not retried.
  EXPECT_NE(logs[0].find("TransferDownloadError HRESULT: 800c0014"), std::string::npos) << logs[0];
  EXPECT_EQ(httpsRequests(), "GET /SorvanePro.zip 302\n");
  // Wine's WinINet has sent the request to the target before the engine hears of the redirect
  // (Windows' own stops it first); its answer is dropped unread.
  EXPECT_LE(testServerHits(L"/SorvanePro.zip"), 1);
}

}  // namespace
}  // namespace testsupport
