// Win32 test code. A whole unattended installation while the report server accepts every request and
// never answers: each report gives up after its own time-outs, and the run still installs the
// product, ends and cleans up.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/stub_run_win.h"
#include "support/test_product_win.h"

namespace testsupport {
namespace {

using SilentReportServer = StubRunTest;

TEST_F(SilentReportServer, TheRunInstallsAndEndsAllTheSame) {
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));
  std::optional<DWORD> exitCode;
  {
    ScopedCollectorHang silent;
    exitCode = runQuiet();
  }

  EXPECT_EQ(exitCode, std::optional<DWORD>(0));
  EXPECT_TRUE(testProductInstalled());
  // Both reports were sent whole; only their answers never came.
  const std::vector<CollectedRequest> requests = collectedRun();
  ASSERT_EQ(requests.size(), 2u);
  expectReport(requests[0], {"started", 0, 0, "", ""});
  expectReport(requests[1], {"completed", 0, 0, "5.2.1", "demo"});
  EXPECT_FALSE(shortcutExists());
  EXPECT_EQ(leftInTemp(), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace testsupport
