// Win32 code.
#include "sysenv/system_dll_win.h"

#include <gtest/gtest.h>

#include "support/wine_test_support_win.h"

namespace {

using testsupport::ScratchFolder;

// A folder holding the probe program with a planted version.dll beside it, and Wine told to look in
// the program's folder first, as Windows does for a DLL that is not a Known DLL.
struct PlantedFolder {
  ScratchFolder folder;
  std::wstring probe = folder.file(L"dll_probe.exe");
  std::wstring planted = folder.file(L"version.dll");
  std::wstring marker = planted + L".loaded";
  testsupport::ScopedNativeDllPreference nativeFirst{L"dll_probe.exe", {L"version.dll"}};

  PlantedFolder() {
    CopyFileW((testsupport::testBinFolder() + L"\\dll_probe.exe").c_str(), probe.c_str(), FALSE);
    CopyFileW((testsupport::testBinFolder() + L"\\planted_dll.dll").c_str(), planted.c_str(), FALSE);
  }
  testsupport::ChildResult run(const wchar_t* mode) {
    return testsupport::runChild(testsupport::quoted(probe) + L" " + mode + L" version.dll");
  }
};

TEST(SystemDll, APlainLoadTakesThePlantedDllSoTheProbeCanSeeIt) {
  PlantedFolder planted;
  testsupport::ChildResult result = planted.run(L"plain");
  ASSERT_TRUE(result.finished);
  EXPECT_TRUE(testsupport::pathExists(planted.marker)) << "exit " << result.exitCode;
}

TEST(SystemDll, LoadSystemLibraryTakesSystem32AndNeverThePlantedDll) {
  PlantedFolder planted;
  testsupport::ChildResult result = planted.run(L"system");
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u) << "the system's own version.dll loads";
  EXPECT_FALSE(testsupport::pathExists(planted.marker));
}

TEST(SystemDll, AfterTheRestrictionEvenAPlainLoadSkipsTheProgramsFolder) {
  PlantedFolder planted;
  testsupport::ChildResult result = planted.run(L"restricted");
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(testsupport::pathExists(planted.marker));
}

TEST(SystemDll, SystemFunctionResolvesTypedFunctionsAndNullForMissingOnes) {
  using GetFileVersionInfoSizeFunction = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  auto size = sysenv::systemFunction<GetFileVersionInfoSizeFunction>(L"version.dll", "GetFileVersionInfoSizeW");
  ASSERT_NE(size, nullptr);
  DWORD handle = 0;
  EXPECT_GT(size(L"kernel32.dll", &handle), 0u);
  EXPECT_EQ(sysenv::systemFunction<GetFileVersionInfoSizeFunction>(L"version.dll", "NoSuchFunction"), nullptr);
  EXPECT_EQ(sysenv::systemFunction<GetFileVersionInfoSizeFunction>(L"no-such-library.dll", "X"), nullptr);
}

}  // namespace
