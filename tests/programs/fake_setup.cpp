// Stands in for the product's setup.exe bootstrapper in the installer-launch tests.
//
// It writes how it was started into "setup-invocation.txt" beside itself (UTF-8: line 1 the command
// line exactly as received, line 2 its current folder, lines 3 and 4 its TEMP and TMP), so a test
// sees what the launcher passed.
// With "setup-exit-code.txt" beside it, it ends with the decimal code in that file and installs
// nothing. Otherwise it installs "product.msi" from its own folder through Windows Installer:
//   msiexec /i "<own folder>\product.msi" /qn <every argument it received, verbatim>
// and ends with msiexec's exit code. Either way it writes "<log path>.xml" beside the log path that
// followed "/L*v", as the product's bootstrapper does; in the exit-code mode it also writes a short
// log at the log path itself, so log uploads have both files.
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "support/wine_test_support_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/unique_handle_win.h"

namespace {

std::wstring ownFolder() {
  std::vector<wchar_t> buffer(32768);
  DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::wstring path(buffer.data(), length);
  return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring variable(const wchar_t* name) {
  std::vector<wchar_t> buffer(32768);
  const DWORD length = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
  return std::wstring(buffer.data(), length < buffer.size() ? length : 0);
}

std::wstring currentFolder() {
  std::vector<wchar_t> buffer(32768);
  DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  return std::wstring(buffer.data(), length);
}

// What follows the program name in the command line, untouched (leading blanks included), by the
// rule Windows uses for the program name: up to the closing quote, or up to the first blank or tab.
std::wstring argumentsText(const wchar_t* commandLine) {
  const wchar_t* p = commandLine;
  if (*p == L'"') {
    ++p;
    while (*p != 0 && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p != 0 && *p != L' ' && *p != L'\t') ++p;
  }
  return p;
}

// The argument after "/L*v" (any case), or nothing.
std::wstring logPathArgument(const wchar_t* commandLine) {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(commandLine, &count);
  sysenv::UniqueLocalMemory owner(arguments);
  if (arguments == nullptr) return {};
  for (int i = 1; i + 1 < count; ++i) {
    if (_wcsicmp(arguments[i], L"/L*v") == 0) return arguments[i + 1];
  }
  return {};
}

// Windows Installer's own exit code, or ERROR_INSTALL_FAILURE when msiexec cannot be run at all.
DWORD runMsiexec(const std::wstring& folder, const std::wstring& arguments) {
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  const testsupport::ChildResult msiexec = testsupport::runChild(
      testsupport::quoted(std::wstring(system, length) + L"\\msiexec.exe") + L" /i " +
          testsupport::quoted(folder + L"\\product.msi") + L" /qn" + arguments,
      {}, 600000);
  return msiexec.finished ? msiexec.exitCode : ERROR_INSTALL_FAILURE;
}

}  // namespace

int wmain() {
  const wchar_t* commandLine = GetCommandLineW();
  const std::wstring folder = ownFolder();
  testsupport::writeFileBytes(folder + L"\\setup-invocation.txt",
                              sysenv::toUtf8(commandLine) + "\n" + sysenv::toUtf8(currentFolder()) + "\n" +
                                  sysenv::toUtf8(variable(L"TEMP")) + "\n" + sysenv::toUtf8(variable(L"TMP")) + "\n");

  const std::wstring logPath = logPathArgument(commandLine);
  const std::wstring codeFile = folder + L"\\setup-exit-code.txt";
  DWORD exitCode = 0;
  if (testsupport::pathExists(codeFile)) {
    exitCode = std::strtoul(testsupport::readFileBytes(codeFile).c_str(), nullptr, 10);
    if (!logPath.empty()) {
      testsupport::writeFileBytes(logPath,
                                  "Fake setup: ended with " + std::to_string(exitCode) + ", installed nothing.\r\n");
    }
  } else {
    exitCode = runMsiexec(folder, argumentsText(commandLine));
  }
  if (!logPath.empty()) {
    testsupport::writeFileBytes(logPath + L".xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                                                   "<SetupResult exitCode=\"" + std::to_string(exitCode) + "\"/>\r\n");
  }
  return static_cast<int>(exitCode);
}
