// Win32 code. Real crashes: crash_probe installs the stub's filter and makes an access
// violation in a worker thread, with a temporary folder of the test's choosing.
#include "app/crash_handler_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "support/private_temp_folder_win.h"
#include "support/report_collector_win.h"
#include "support/wine_test_support_win.h"
#include "support/zip_archive_reader_win.h"
#include "sysenv/environment_win.h"
#include "sysenv/shell_win.h"
#include "telemetry/machine_id_win.h"

namespace {

using testsupport::CollectedRequest;
using testsupport::listFolder;
using testsupport::littleEndian;
using testsupport::ScratchFolder;

constexpr DWORD kAccessViolation = 0xC0000005;

// The collector records a request before it answers, and a send returns only with the answer
// (Wine's WinHTTP), so a report sent is a report recorded.
using testsupport::collectedRequests;

// Runs crash_probe with TMP and TEMP naming `tempFolder`.
testsupport::ChildResult runCrashProbe(const std::wstring& tempFolder) {
  return testsupport::runChild(testsupport::quoted(testsupport::testBinFolder() + L"\\crash_probe.exe"),
                               {{L"TMP", tempFolder}, {L"TEMP", tempFolder}}, 60000);
}

// The exception code in a minidump's exception stream, or 0 when it has none.
DWORD dumpedExceptionCode(const std::string& dump) {
  constexpr std::uint32_t kExceptionStream = 6;
  const std::uint32_t streams = littleEndian(dump, 8, 4);
  const std::uint32_t directory = littleEndian(dump, 12, 4);
  for (std::uint32_t i = 0; i < streams; ++i) {
    const std::size_t entry = directory + 12u * i;
    if (littleEndian(dump, entry, 4) != kExceptionStream) continue;
    // MINIDUMP_EXCEPTION_STREAM: thread id, alignment, then the exception record's code.
    return littleEndian(dump, littleEndian(dump, entry + 8, 4) + 8, 4);
  }
  return 0;
}

class CrashHandler : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_REPORT_COLLECTOR();
    testsupport::clearCollectedRequests();
  }
  void TearDown() override { testsupport::clearCollectedRequests(); }
};

TEST_F(CrashHandler, WorkerThreadCrashSendsOneDumpOfItsAccessViolationAndLeavesNothingBehind) {
  ScratchFolder temp;
  const testsupport::ChildResult run = runCrashProbe(temp.path());

  ASSERT_TRUE(run.finished) << "the crashed process did not end (a crash dialog?)";
  EXPECT_EQ(run.exitCode, kAccessViolation);
  const std::vector<CollectedRequest> requests = collectedRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].verb, "PUT");
  EXPECT_EQ(requests[0].target, "/v1/reportError?token=&machineId=" + sysenv::toUtf8(telemetry::getMachineId()));
  const std::string& dump = requests[0].body;
  ASSERT_GE(dump.size(), 32u);
  EXPECT_EQ(dump.substr(0, 4), "MDMP");
  EXPECT_EQ(dumpedExceptionCode(dump), kAccessViolation);
  EXPECT_EQ(listFolder(temp.path()), std::vector<std::wstring>{});
}

TEST_F(CrashHandler, WithoutATemporaryFolderTheProcessEndsWithoutADump) {
  if (sysenv::isProcessElevated()) GTEST_SKIP() << "an elevated process does not use the user's temporary folder";
  ScratchFolder scratch;
  const testsupport::ChildResult run = runCrashProbe(scratch.file(L"missing"));

  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, kAccessViolation);
  EXPECT_EQ(collectedRequests().size(), 0u);
  EXPECT_EQ(listFolder(scratch.path()), std::vector<std::wstring>{});
}

TEST_F(CrashHandler, DumpPathTooLongForTheFolderLeavesNoFolderBehind) {
  if (sysenv::isProcessElevated()) GTEST_SKIP() << "an elevated process does not use the user's temporary folder";
  // The handler's subfolder is named after the tick count in hex; with a temporary folder this long
  // the subfolder still fits MAX_PATH but the dump's path in it does not.
  wchar_t hex[16];
  const std::size_t tickDigits = static_cast<std::size_t>(swprintf(hex, 16, L"%x", GetTickCount()));
  ScratchFolder scratch;
  std::wstring temp = scratch.path();
  const std::size_t wanted = 254 - tickDigits;
  while (temp.size() < wanted) {
    temp += L"\\" + std::wstring(std::min<std::size_t>(wanted - temp.size() - 1, 60), L'd');
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr)) << temp.size();
  }
  ASSERT_EQ(temp.size(), wanted);

  const testsupport::ChildResult run = runCrashProbe(temp);

  ASSERT_TRUE(run.finished);
  EXPECT_EQ(collectedRequests().size(), 0u);
  EXPECT_EQ(listFolder(temp), std::vector<std::wstring>{});
}

TEST_F(CrashHandler, DumpFileThatCannotBeCreatedLeavesNoFolderBehind) {
  testsupport::ScopedPrivateTempFolder temp;
  // A name inside a folder that does not exist: CreateFileW fails before any dump is written, so
  // the exception information is never read.
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = kAccessViolation;
  CONTEXT context = {};
  EXCEPTION_POINTERS exception = {&record, &context};

  EXPECT_EQ(app::writeAndUploadCrashDump(&exception, L"missing\\dlm.dmp"), EXCEPTION_EXECUTE_HANDLER);

  EXPECT_EQ(temp.entries(), std::vector<std::wstring>{});
  EXPECT_EQ(collectedRequests().size(), 0u);
}

}  // namespace
