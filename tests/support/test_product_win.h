// Win32 code. The stand-in for the product's installer: a fake setup.exe (built from
// tests/programs/fake_setup.cpp) that records how it was started and installs a real MSI of the
// test product through Windows Installer, or ends with a chosen exit code; and the helpers that
// stage it, read what it recorded and take the product off the machine again.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace testsupport {

// The test product's MSI carries the 64-bit product's code and this version.
constexpr wchar_t kTestProductCode[] = L"{3C7E52A1-90B4-4F6D-8E21-5AD0C47B19E3}";
constexpr wchar_t kTestProductVersion[] = L"5.2.1";

// The built programs, in testBinFolder().
std::wstring fakeSetupPath();
std::wstring testProductMsiPath();

// Copies the fake installer as "setup.exe" and the MSI as "product.msi" into `folder` (made if
// absent, with its parents). With an exit code, also writes "setup-exit-code.txt": the installer
// then ends with that code and installs nothing. False when a copy fails.
bool stageInstaller(const std::wstring& folder, std::optional<DWORD> exitCode = std::nullopt);

// What the staged installer in `folder` recorded about its start; `recorded` is false when it never
// ran there.
struct SetupInvocation {
  bool recorded = false;
  std::wstring commandLine;
  std::wstring currentFolder;
  std::wstring temp, tmp;  // its TEMP and TMP
};
SetupInvocation readSetupInvocation(const std::wstring& folder);

// Windows Installer's view of the test product: whether it is installed, and its "VersionString"
// (empty when Windows Installer has none).
bool testProductInstalled();
std::wstring installedTestProductVersion();

// Removes the test product quietly (msiexec /x) if it is installed, and waits for that; true when
// it is not installed afterwards. For fixtures, so no test leaves the product behind.
bool uninstallTestProduct();

}  // namespace testsupport
