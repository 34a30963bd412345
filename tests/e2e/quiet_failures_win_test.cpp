// Win32 code. Whole unattended runs of the packed stub (SorvaneProSetup.exe /quiet) that fail at
// each stage: the package missing or its host down, a package without its installer, an installer
// that fails or is cancelled. Each run reports what failed and where, uploads the logs when it ends
// in an error, keeps the shortcut for another try, and leaves no temporary file behind.
// The runs against the demo package use the stub that pins its SHA-256 as a release does; the
// packages made to fail differ from it by design, and the hash pin would refuse them before their
// own failure showed, so those runs use the stub that pins the signer only.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/stub_run_win.h"
#include "support/test_http_server_win.h"
#include "support/test_product_win.h"

namespace testsupport {
namespace {

class QuietFailure : public StubRunTest {
 protected:
  // The run ended in an error at `wrapperError` with `msiError`: exit code, the two reports and the
  // upload of `uploadedNames`, whose contents are returned. Nothing installed, nothing left.
  std::vector<std::string> expectFailedRun(std::optional<DWORD> exitCode, int wrapperError, int msiError,
                                           const std::vector<std::string>& uploadedNames) {
    EXPECT_EQ(exitCode, std::optional<DWORD>(1603));
    EXPECT_FALSE(testProductInstalled());
    EXPECT_TRUE(shortcutExists());
    EXPECT_EQ(leftInTemp(), std::vector<std::wstring>{});
    return expectErrorReports(wrapperError, msiError, uploadedNames);
  }
};

TEST_F(QuietFailure, AMissingPackageIsADownloadError) {
  const std::vector<std::string> logs = expectFailedRun(runPinnedQuiet(), 1, 2, {"installer_log.txt"});
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(logs[0].find("QJMessageBox: The Sorvane Pro package was not found on the download server."), std::string::npos) << logs[0];
  EXPECT_EQ(testServerHits(L"/SorvanePro.zip"), 1);  // a missing file is not retried
}

TEST_F(QuietFailure, APackageHostThatIsDownMeansNoNetwork) {
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));
  constexpr DWORD kRefusingMs = 30000;
  ASSERT_TRUE(refuseTestServerConnections(kRefusingMs));

  const std::optional<DWORD> exitCode = runPinnedQuiet();

  expectFailedRun(exitCode, 1, 5, {"installer_log.txt"});
  // Back for the next test.
  EXPECT_TRUE(pumpMessagesUntil([] { return resetTestServerHits(); }, kRefusingMs + 10000));
}

TEST_F(QuietFailure, APackageWithoutSetupIsAnExtractionError) {
  ASSERT_TRUE(servePackage(L"SorvanePro-no-setup.zip"));
  expectFailedRun(runQuiet(), 5, 0, {"installer_log.txt"});
}

TEST_F(QuietFailure, AFailingInstallerHandsOverItsLogs) {
  // Windows Installer itself refuses the package: its launch condition is never met.
  ASSERT_TRUE(servePackage(L"SorvanePro-installer-fails.zip"));

  const std::vector<std::string> logs = expectFailedRun(runQuiet(), 2, 3, {"log.txt", "log.txt.xml", "installer_log.txt"});

  ASSERT_EQ(logs.size(), 3u);
  // Windows Installer's own verbose log, which reached the launch conditions; the bootstrapper's
  // summary and the stub's log say how it ended.
  EXPECT_NE(logs[0].find("Action start"), std::string::npos) << logs[0];
  EXPECT_NE(logs[0].find("LaunchConditions"), std::string::npos) << logs[0];
  EXPECT_NE(logs[1].find("exitCode=\"1603\""), std::string::npos) << logs[1];
  EXPECT_NE(logs[2].find("Install error: 1603"), std::string::npos) << logs[2];
}

TEST_F(QuietFailure, ACancelledInstallerIsReportedAsCanceledWithoutAnUpload) {
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));

  // The pass-through text reaches the bootstrapper in front of its arguments.
  EXPECT_EQ(runStub(pinnedStubPath(), L"/quiet passthro=\"/simulate-cancel\""), std::optional<DWORD>(1602));

  EXPECT_FALSE(testProductInstalled());
  const std::vector<CollectedRequest> requests = collectedRun();
  ASSERT_EQ(requests.size(), 2u);
  expectReport(requests[0], {"started", 0, 0, "", ""});
  expectReport(requests[1], {"canceled", 0, 0, "", "demo"});
  EXPECT_EQ(leftInTemp(), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace testsupport
