// Win32 code. Whole unattended runs of the packed stub (SorvaneProSetup.exe /quiet) that end with
// the demo product installed: the pages' own workflow, the real package server, the demo product's
// bootstrapper installing its MSI through Wine's msiexec, and the reports as the collector got them.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/stub_run_win.h"
#include "support/test_http_server_win.h"

namespace testsupport {
namespace {

using QuietInstall = StubRunTest;

TEST_F(QuietInstall, InstallsTheProductAndReportsCompleted) {
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));

  EXPECT_EQ(runPinnedQuiet(), 0u);

  expectCompletedRun();
  EXPECT_EQ(testServerHits(L"/SorvanePro.zip"), 1);
}

TEST_F(QuietInstall, ATransferCutShortIsRetriedAndTheRunCompletes) {
  ASSERT_TRUE(servePackage(L"SorvanePro.zip", "/breakonce/e2e-short/"));

  EXPECT_EQ(runPinnedQuiet(), 0u);

  expectCompletedRun();
  EXPECT_EQ(testServerHits(L"/SorvanePro.zip"), 2);
}

TEST_F(QuietInstall, ASecondInstanceEndsAtOnceWhileTheFirstRuns) {
  // Slow enough that the first run is still downloading when the second one starts.
  ASSERT_TRUE(servePackage(L"SorvanePro.zip", "/slow/300000/"));
  StubProcess first(pinnedStubPath(), L"/quiet", tempFolder());
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(pumpMessagesUntil([] { return testServerHits(L"/SorvanePro.zip") >= 1; }, 60000));

  ScratchFolder secondTemp;
  StubProcess second(pinnedStubPath(), L"/quiet", secondTemp.path());
  ASSERT_TRUE(second.started());
  EXPECT_EQ(second.wait(30000), std::optional<DWORD>(1618));
  // It made nothing and sent nothing.
  EXPECT_TRUE(listFolder(secondTemp.path()).empty());
  EXPECT_EQ(collectedRequests().size(), 1u);

  EXPECT_EQ(first.wait(180000), std::optional<DWORD>(0));
  expectCompletedRun();
}

}  // namespace
}  // namespace testsupport
