// Win32 code. Whole runs of the packed stub from a folder where every system DLL it may load
// (besides the Known DLLs) has been planted, as in a browser's Downloads folder: a complete
// installation, which reaches URL monikers, WinINet, Windows Installer, WinHTTP and crypt32, and a
// crash, which reaches dbghelp. None of the planted copies may be loaded by the stub's code.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/planted_dlls_win.h"
#include "support/stub_run_win.h"
#include "support/test_product_win.h"

namespace testsupport {
namespace {

class PlantedDlls : public StubRunTest {
 protected:
  void SetUp() override {
    StubRunTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(plantDlls(downloads_.path()));
    // What the loader itself takes for the Known DLLs' own imports, before any code of a program
    // runs (Windows takes none of these; Wine's user32 takes version.dll): not the stub's doing.
    ScratchFolder baselineFolder, baselineTemp;
    ASSERT_TRUE(plantDlls(baselineFolder.path()));
    ASSERT_TRUE(runAmongPlantedDlls(baselineFolder.path(), testBinFolder() + L"\\import_baseline.exe",
                                    L"import_baseline.exe", L"", baselineTemp.path(), 60000)
                    .finished);
    loaderBaseline_ = plantedDllsLoaded(baselineFolder.path());
  }

  ScratchFolder downloads_;
  std::vector<std::wstring> loaderBaseline_;
};

TEST_F(PlantedDlls, AWholeInstallationLoadsNoneOfThem) {
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));

  const ChildResult run =
      runAmongPlantedDlls(downloads_.path(), pinnedStubPath(), L"SorvaneProSetup.exe", L"/quiet", tempFolder());

  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(testProductInstalled());
  EXPECT_EQ(collectedRun().size(), 2u);
  EXPECT_EQ(plantedDllsLoaded(downloads_.path()), loaderBaseline_);
}

TEST_F(PlantedDlls, ACrashDumpIsWrittenAndSentWithoutThem) {
  if (packedCrashStubPath().empty()) GTEST_SKIP() << "the crash-test stub was not packed";
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));
  // Wine's user32 imports version.dll, so under Wine the loader itself maps a planted copy before
  // any code of the stub runs (see the baseline), and dbghelp then calls into that copy while it
  // writes the dump. Windows' user32 imports no such DLL, and dbghelp's own imports come from
  // System32 as it does: this run plants everything else.
  ScratchFolder downloads;
  ASSERT_TRUE(plantDlls(downloads.path(), {L"version.dll"}));

  const ChildResult run =
      runAmongPlantedDlls(downloads.path(), packedCrashStubPath(), L"SorvaneProSetup.exe", L"/quiet", tempFolder());

  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
  const std::vector<CollectedRequest> requests = collectedRun();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].body.compare(0, 4, "MDMP"), 0);
  std::vector<std::wstring> expected = loaderBaseline_;
  expected.erase(std::remove(expected.begin(), expected.end(), L"version.dll"), expected.end());
  EXPECT_EQ(plantedDllsLoaded(downloads.path()), expected);
}

}  // namespace
}  // namespace testsupport
