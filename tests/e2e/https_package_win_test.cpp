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

std::wstring httpsStubPath() { return windowsPathFromEnvironment("SORVANE_HTTPS_STUB"); }
std::wstring httpsServerState() { return windowsPathFromEnvironment("SORVANE_TEST_HTTPS_STATE"); }

class HttpsPackage : public StubRunTest {
 protected:
  void SetUp() override {
    StubRunTest::SetUp();
    if (IsSkipped()) return;
    if (!pathExists(httpsStubPath())) GTEST_SKIP() << "the https stub was not packed";
    if (!pathExists(httpsServerState() + L"\\server.pid")) GTEST_SKIP() << "the https server is not running";
    DeleteFileW(untrustedSwitch().c_str());
  }
  void TearDown() override {
    DeleteFileW(untrustedSwitch().c_str());
    StubRunTest::TearDown();
  }

  // While this file exists, the server presents its self-signed certificate.
  static std::wstring untrustedSwitch() { return httpsServerState() + L"\\untrusted"; }
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

TEST_F(HttpsPackage, ACertificateFromNoTrustedRootEndsTheDownloadWithoutRetries) {
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));
  ASSERT_TRUE(writeFileBytes(untrustedSwitch(), ""));
  markLogStart();

  const std::optional<DWORD> exitCode = runStub(httpsStubPath(), L"/quiet");

  EXPECT_EQ(exitCode, std::optional<DWORD>(1603));
  EXPECT_FALSE(testProductInstalled());
  EXPECT_EQ(leftInTemp(), std::vector<std::wstring>{});
  const std::vector<std::string> logs = expectErrorReports(kDownloadStage, kDownloadFailed, {"installer_log.txt"});
  ASSERT_EQ(logs.size(), 1u);
  // INET_E_INVALID_CERTIFICATE: WinINet refused the chain before a request was sent.
  EXPECT_NE(logs[0].find("TransferDownloadError HRESULT: 800c0019"), std::string::npos) << logs[0];
  EXPECT_NE(logs[0].find("QJMessageBox: Sorvane Pro could not be downloaded."), std::string::npos) << logs[0];
  EXPECT_EQ(httpsRequests().find("GET "), std::string::npos) << httpsRequests();
}

}  // namespace
}  // namespace testsupport
