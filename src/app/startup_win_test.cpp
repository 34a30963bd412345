// Whole runs of the built stub as a user starts it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/wine_test_support_win.h"

namespace {

using testsupport::ScratchFolder;

TEST(Startup, ARunExitsWithZeroAndLeavesNothingInTheTemporaryFolder) {
  ScratchFolder temp;
  testsupport::ChildResult run = testsupport::runChild(testsupport::quoted(testsupport::stubExePath()),
                                                       {{L"TMP", temp.path()}, {L"TEMP", temp.path()}}, 60000);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(testsupport::listFolder(temp.path()), std::vector<std::wstring>{});
}

// Every system DLL that the stub may load besides the Known DLLs, planted beside it where a
// browser's Downloads folder would let anyone put them.
const std::vector<std::wstring> kPlantableDlls = {
    L"comctl32.dll", L"urlmon.dll",  L"wininet.dll", L"winhttp.dll", L"msi.dll",     L"dbghelp.dll",
    L"setupapi.dll", L"crypt32.dll", L"iphlpapi.dll", L"version.dll", L"uxtheme.dll", L"dwmapi.dll"};

// Runs `program` from a folder full of planted DLLs; returns the names of those that were loaded.
std::vector<std::wstring> plantedDllsLoadedBy(const std::wstring& program, const std::wstring& name) {
  ScratchFolder downloads;
  ScratchFolder temp;
  const std::wstring copy = downloads.file(name);
  EXPECT_TRUE(CopyFileW(program.c_str(), copy.c_str(), FALSE));
  for (const std::wstring& dll : kPlantableDlls) {
    EXPECT_TRUE(CopyFileW((testsupport::testBinFolder() + L"\\planted_dll.dll").c_str(), downloads.file(dll).c_str(), FALSE));
  }
  testsupport::ScopedNativeDllPreference nativeFirst{name, kPlantableDlls};
  testsupport::ChildResult run =
      testsupport::runChild(testsupport::quoted(copy), {{L"TMP", temp.path()}, {L"TEMP", temp.path()}}, 60000);
  EXPECT_TRUE(run.finished);
  std::vector<std::wstring> loaded;
  for (const std::wstring& dll : kPlantableDlls) {
    if (testsupport::pathExists(downloads.file(dll + L".loaded"))) loaded.push_back(dll);
  }
  return loaded;
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
