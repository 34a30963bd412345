// Win32 code. A whole unattended installation while the report server accepts every request and
// never answers: each report gives up after its own time-outs, and the run still installs the
// product, ends and cleans up.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>

#include "support/stub_run_win.h"

namespace testsupport {
namespace {

using SilentReportServer = StubRunTest;

TEST_F(SilentReportServer, TheRunInstallsAndEndsAllTheSame) {
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));
  std::optional<DWORD> exitCode;
  {
    ScopedCollectorHang silent;
    exitCode = runPinnedQuiet();
  }

  EXPECT_EQ(exitCode, std::optional<DWORD>(0));
  // Both reports were sent whole; only their answers never came.
  expectCompletedRun();
}

}  // namespace
}  // namespace testsupport
