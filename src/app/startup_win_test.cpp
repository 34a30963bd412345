// Win32 code. Whole runs of the built stub as a user starts it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/planted_dlls_win.h"
#include "support/private_temp_folder_win.h"
#include "support/wine_test_support_win.h"

namespace {

using testsupport::ScratchFolder;

TEST(Startup, ARunExitsWithZeroAndLeavesNothingInEitherTemporaryFolder) {
  // An elevated run works under the Windows temporary folder, a run without elevation in the
  // user's: both are looked at, since Wine runs every process elevated.
  const std::vector<std::wstring> windowsBefore = testsupport::windowsScratchFolders();
  ScratchFolder temp;
  testsupport::ChildResult run = testsupport::runChild(testsupport::quoted(testsupport::stubExePath()),
                                                       {{L"TMP", temp.path()}, {L"TEMP", temp.path()}}, 60000);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(testsupport::listFolder(temp.path()), std::vector<std::wstring>{});
  EXPECT_EQ(testsupport::newWindowsScratchFolders(windowsBefore), std::vector<std::wstring>{});
}

// Runs `program` from a folder full of planted DLLs; returns the names of those that were loaded.
std::vector<std::wstring> plantedDllsLoadedBy(const std::wstring& program, const std::wstring& name) {
  ScratchFolder downloads;
  ScratchFolder temp;
  EXPECT_TRUE(testsupport::plantDlls(downloads.path()));
  EXPECT_TRUE(testsupport::runAmongPlantedDlls(downloads.path(), program, name, L"", temp.path(), 60000).finished);
  return testsupport::plantedDllsLoaded(downloads.path());
}

TEST(Startup, NoDllPlantedBesideTheStubIsLoadedByItsCode) {
  // What the loader takes for the Known DLLs' own imports before any code runs is the system's
  // affair (Windows takes none of these; Wine's user32 takes version.dll); the stub adds nothing.
  const std::vector<std::wstring> byTheLoader =
      plantedDllsLoadedBy(testsupport::testBinFolder() + L"\\import_baseline.exe", L"import_baseline.exe");
  const std::vector<std::wstring> byTheStub =
      plantedDllsLoadedBy(testsupport::stubExePath(), L"SorvaneProSetup.exe");
  EXPECT_EQ(byTheStub, byTheLoader);
}

}  // namespace
