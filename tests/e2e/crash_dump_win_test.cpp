// Win32 code. A whole run of the crash-test build of the packed stub, which crashes when its
// download worker starts: the crash filter writes the minidump and uploads it, and the process ends
// without the system's crash dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "support/stub_run_win.h"
#include "support/test_product_win.h"

namespace testsupport {
namespace {

using CrashDump = StubRunTest;

TEST_F(CrashDump, ACrashInAWorkerUploadsItsDump) {
  if (packedCrashStubPath().empty()) GTEST_SKIP() << "the crash-test stub was not packed";
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));

  EXPECT_EQ(runStub(packedCrashStubPath(), L"/quiet"), std::optional<DWORD>(EXCEPTION_ACCESS_VIOLATION));

  const std::vector<CollectedRequest> requests = collectedRun();
  ASSERT_EQ(requests.size(), 2u);
  expectReport(requests[0], {"started", 0, 0, "", ""});
  // A crash upload carries no request token; the body is the dump itself.
  EXPECT_EQ(requests[1].verb, "PUT");
  EXPECT_EQ(requests[1].target, "/v1/reportError?token=&machineId=" + identity_.machineId);
  EXPECT_EQ(requests[1].body.compare(0, 4, "MDMP"), 0);
  EXPECT_GT(requests[1].body.size(), 1024u);
  EXPECT_FALSE(testProductInstalled());
  // The dump's own folder went with the upload. The run's folders stay: nothing tears the run down
  // after a crash.
  const std::vector<std::wstring> left = leftInTemp();
  EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::wstring& name) {
              return name.find(L"dlm.dmp") != std::wstring::npos;
            }),
            0);
}

}  // namespace
}  // namespace testsupport
