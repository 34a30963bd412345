// Win32 code. The quiet run's start and exit code as seen from outside, through the built stub
// (which carries no payload) with its reports going to the report collector. The installation
// itself, driven by the pages' scripts, is tested in-process with the package server
// (app/quiet_install_win_test.cpp).
#include "app/quiet_run_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/single_instance_win.h"
#include "support/report_collector_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/unique_handle_win.h"

namespace {

using testsupport::ScratchFolder;

class QuietStart : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::clearCollectedRequests(); }
  void TearDown() override { testsupport::clearCollectedRequests(); }

  testsupport::ChildResult runStub(const std::wstring& arguments) {
    return testsupport::runChild(testsupport::quoted(testsupport::stubExePath()) + L" " + arguments,
                                 {{L"TMP", temp_.path()}, {L"TEMP", temp_.path()}}, 60000);
  }
  // Verb and path, without the query, of every request the collector saw.
  std::vector<std::string> requests() {
    std::vector<std::string> seen;
    for (const auto& request : testsupport::collectedRequests()) {
      seen.push_back(request.verb + " " + request.target.substr(0, request.target.find('?')));
    }
    return seen;
  }

  ScratchFolder temp_;
};

TEST_F(QuietStart, WithoutPagesTheQuietRunFailsWith1603AndReportsLikeAWindowRun) {
  SKIP_WITHOUT_REPORT_COLLECTOR();
  const testsupport::ChildResult run = runStub(L"/QUIET");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 1603u);
  // Start report, final report, log upload: the error run's requests.
  EXPECT_EQ(requests(), (std::vector<std::string>{"POST /v1/logAnalytics", "POST /v1/logAnalytics",
                                                  "PUT /v1/reportError"}));
  EXPECT_EQ(testsupport::listFolder(temp_.path()), std::vector<std::wstring>{});
}

TEST_F(QuietStart, APassedOnQuietIsTheInstallersAndTheRunExitsWithZero) {
  SKIP_WITHOUT_REPORT_COLLECTOR();
  const testsupport::ChildResult run = runStub(L"passthro=\"/quiet\"");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
}

TEST_F(QuietStart, AQuietSecondStartExitsWith1618AndSendsNothing) {
  // This test plays the first instance.
  const sysenv::UniqueKernelHandle first(CreateMutexW(nullptr, FALSE, app::kSingleInstanceMutexName));
  ASSERT_TRUE(first);
  const testsupport::ChildResult quiet = runStub(L"/quiet");
  ASSERT_TRUE(quiet.finished);
  EXPECT_EQ(quiet.exitCode, 1618u);
  const testsupport::ChildResult shown = runStub(L"");
  ASSERT_TRUE(shown.finished);
  EXPECT_EQ(shown.exitCode, 0u);
  if (testsupport::reportCollectorRunning()) {
    EXPECT_TRUE(testsupport::collectedRequests().empty());
  }
}

}  // namespace
