// Win32 code.
#include "support/test_product_win.h"

#include <msi.h>
#include <shlobj.h>

#include "support/wine_test_support_win.h"

namespace testsupport {

namespace {

std::wstring withoutTrailingBackslash(std::wstring folder) {
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder;
}

std::wstring wideFromUtf8(const std::string& bytes) {
  if (bytes.empty()) return {};
  int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
  return text;
}

}  // namespace

std::wstring fakeSetupPath() { return testBinFolder() + L"\\fake_setup.exe"; }
std::wstring testProductMsiPath() { return testBinFolder() + L"\\sorvane-test-product.msi"; }

bool stageInstaller(const std::wstring& folder, std::optional<DWORD> exitCode) {
  const std::wstring target = withoutTrailingBackslash(folder);
  const int made = SHCreateDirectoryExW(nullptr, target.c_str(), nullptr);
  if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS) return false;
  if (!CopyFileW(fakeSetupPath().c_str(), (target + L"\\setup.exe").c_str(), FALSE) ||
      !CopyFileW(testProductMsiPath().c_str(), (target + L"\\product.msi").c_str(), FALSE)) {
    return false;
  }
  const std::wstring codeFile = target + L"\\setup-exit-code.txt";
  if (!exitCode) return !pathExists(codeFile) || DeleteFileW(codeFile.c_str());
  return writeFileBytes(codeFile, std::to_string(*exitCode));
}

SetupInvocation readSetupInvocation(const std::wstring& folder) {
  SetupInvocation invocation;
  const std::wstring path = withoutTrailingBackslash(folder) + L"\\setup-invocation.txt";
  if (!pathExists(path)) return invocation;
  const std::wstring text = wideFromUtf8(readFileBytes(path));
  const size_t firstEnd = text.find(L'\n');
  if (firstEnd == std::wstring::npos) return invocation;
  const size_t secondEnd = text.find(L'\n', firstEnd + 1);
  invocation.recorded = true;
  invocation.commandLine = text.substr(0, firstEnd);
  invocation.currentFolder = text.substr(firstEnd + 1, secondEnd - firstEnd - 1);
  if (secondEnd == std::wstring::npos) return invocation;
  const size_t thirdEnd = text.find(L'\n', secondEnd + 1);
  invocation.temp = text.substr(secondEnd + 1, thirdEnd - secondEnd - 1);
  if (thirdEnd != std::wstring::npos) invocation.tmp = text.substr(thirdEnd + 1, text.find(L'\n', thirdEnd + 1) - thirdEnd - 1);
  return invocation;
}

bool testProductInstalled() { return MsiQueryProductStateW(kTestProductCode) == INSTALLSTATE_DEFAULT; }

std::wstring installedTestProductVersion() {
  wchar_t version[256] = {};
  DWORD length = 256;
  if (MsiGetProductInfoW(kTestProductCode, INSTALLPROPERTY_VERSIONSTRING, version, &length) != ERROR_SUCCESS) {
    return {};
  }
  return version;
}

bool uninstallTestProduct() {
  if (!testProductInstalled()) return true;
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  runChild(quoted(std::wstring(system, length) + L"\\msiexec.exe") + L" /x " + kTestProductCode + L" /qn", {},
           120000);
  return !testProductInstalled();
}

}  // namespace testsupport
