// Win32 code. The end-to-end tests' view of whole runs of the packed stub: started as a user
// starts it, with a temporary folder of its own, against the package server and the report
// collector, and then what the run left behind: its exit code, the reports, the product, the
// shortcut and the files.
//
// The package server is the loopback test server on 127.0.0.1 port 8631 (CTest's fixture
// "package_server"), where the packed pages' parameters fetch http://127.0.0.1:8631/SorvanePro.zip;
// the test server helpers (support/test_http_server_win.h) reach it through SORVANE_TEST_HTTP_STATE.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/report_collector_win.h"
#include "support/test_http_server_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/unique_handle_win.h"

namespace testsupport {

// The packed stub that pins the test signer only (SORVANE_PACKED_STUB), for the scenarios whose
// package differs from the demo package by design; the one that also pins the demo package's
// SHA-256 (SORVANE_PINNED_STUB), as a release does, for the runs that install it; and the crash-test
// build, which crashes when its download worker starts (SORVANE_PACKED_CRASH_STUB). Empty when the
// build did not pack them.
std::wstring packedStubPath();
std::wstring pinnedStubPath();
std::wstring packedCrashStubPath();

// The demo product's packages: "SorvanePro.zip", "SorvanePro-installer-fails.zip" and
// "SorvanePro-no-setup.zip" (tools/demo-product).
// Puts one where the pages fetch the package. With a fault route of the test server without its
// NAME ("/breakonce/KEY/", "/slow/RATE/"), the package is served through that route.
bool servePackage(const std::wstring& packageName, const std::string& faultRoute = {});
// Takes the package away: its URL answers 404.
void withdrawPackage();

// A stub process running in the background.
class StubProcess {
 public:
  // Starts `exe` with `arguments` after its name, with TMP and TEMP set to `tempFolder`.
  StubProcess(const std::wstring& exe, const std::wstring& arguments, const std::wstring& tempFolder);
  // Ends it if it still runs.
  ~StubProcess();
  StubProcess(const StubProcess&) = delete;
  StubProcess& operator=(const StubProcess&) = delete;

  bool started() const { return static_cast<bool>(process_); }
  // The exit code once it ended within `timeoutMs` (this thread's messages dispatched meanwhile);
  // nothing when it was still running.
  std::optional<DWORD> wait(DWORD timeoutMs);

 private:
  sysenv::UniqueKernelHandle process_;
};

// What every report of one run shares, read from its start report.
struct RunIdentity {
  std::string requestToken;
  std::string country;
  std::string userEnvironment;  // the whole <userEnvironment> element
  std::string machineId;
};
// The values that the run decides.
struct ReportValues {
  std::string status;
  int wrapperError = 0;
  int msiError = 0;
  std::string productVersion;
  std::string channelId;
};
// The analytics document as the stub sends it, byte for byte.
std::string expectedAnalyticsDocument(const RunIdentity& identity, const ReportValues& values);

// The fixture of the end-to-end tests: each test starts with the product not installed, no
// shortcut on the desktop, no package served and nothing collected, and leaves it so.
class StubRunTest : public ::testing::Test {
 protected:
  // The desktop shortcut that the packed pages make while an installation is pending.
  static constexpr wchar_t kShortcutName[] = L"Sorvane Pro Setup.lnk";

  void SetUp() override;
  void TearDown() override;

  // Runs `exe` with `arguments` to its end, with the test's own temporary folder; its exit code, or
  // nothing when it did not end within `timeoutMs` (it is then ended).
  std::optional<DWORD> runStub(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs = 180000);
  std::optional<DWORD> runQuiet() { return runStub(packedStubPath(), L"/quiet"); }
  std::optional<DWORD> runPinnedQuiet() { return runStub(pinnedStubPath(), L"/quiet"); }

  // The collected requests of the run, with the start report's identity read into identity_.
  // Fails the test when the first one is not a start report.
  std::vector<CollectedRequest> collectedRun();
  // `request` is the analytics POST with exactly this document.
  void expectReport(const CollectedRequest& request, const ReportValues& values) const;
  // `request` is the error-report PUT of this run, whose body is a zip archive of these items in
  // this order; their contents.
  std::vector<std::string> expectLogUpload(const CollectedRequest& request, const std::vector<std::string>& names) const;

  // The run installed the demo product and reported exactly that: the start report and the final
  // "completed" one, the shortcut gone, nothing left in the temporary folder.
  void expectCompletedRun();
  // The run's reports said it failed at `wrapperError` with `msiError`: the start report, the final
  // "error occurred" one (channel "demo") and the upload of `uploadedNames`, whose contents are
  // returned (nothing when the requests were not those three).
  std::vector<std::string> expectErrorReports(int wrapperError, int msiError, const std::vector<std::string>& uploadedNames);

  bool shortcutExists() const;
  // What the run left in its temporary folder: each name, a folder's with its own names after it
  // ("f/", "f/a.txt"); then the scratch folders left in the Windows temporary folder, where the
  // elevated stub works, in the same form with their full paths.
  std::vector<std::wstring> leftInTemp() const;
  const std::wstring& tempFolder() const { return temp_.path(); }

  RunIdentity identity_;

 private:
  ScratchFolder temp_;
  std::vector<std::wstring> windowsScratchBefore_;
};

}  // namespace testsupport

#define SKIP_WITHOUT_STUB_RUN_SETUP()                                                                     \
  do {                                                                                                    \
    if (::testsupport::packedStubPath().empty()) GTEST_SKIP() << "the stub was not packed (no native tools)"; \
    if (::testsupport::testServerUrl(L"/").empty())                                                      \
      GTEST_SKIP() << "the package server is not running; run the test through CTest, which starts it"; \
    SKIP_WITHOUT_REPORT_COLLECTOR();                                                                      \
  } while (false)
