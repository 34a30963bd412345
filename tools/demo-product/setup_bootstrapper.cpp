// The demo product's setup.exe: a bootstrapper as a product ships it beside its Windows Installer
// package. It installs "SorvanePro.msi" from its own folder without any user interface:
//   msiexec /i "<own folder>\SorvanePro.msi" /qn <every argument it received, verbatim>
// and ends with msiexec's exit code. It writes a one-line summary of the outcome as XML to
// "<log path>.xml", beside the verbose log that follows "/L*v", as the stub expects of a product's
// bootstrapper.
//
// "/simulate-cancel" as its first argument (the stub's pass-through text puts it there) stands for a
// user who presses Cancel: it installs nothing, writes a short log and ends with 1602.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>
#include <vector>

#include "sysenv/unique_handle_win.h"

namespace {

constexpr wchar_t kCancelSwitch[] = L"/simulate-cancel";

std::wstring ownFolder() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  const std::wstring path(buffer.data(), length);
  return path.substr(0, path.find_last_of(L'\\'));
}

// What follows the program name in the command line, untouched, by the rule Windows uses for the
// program name: up to the closing quote, or up to the first blank or tab.
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

std::vector<std::wstring> splitArguments(const wchar_t* commandLine) {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(commandLine, &count);
  sysenv::UniqueLocalMemory owner(arguments);
  std::vector<std::wstring> split;
  for (int i = 1; arguments != nullptr && i < count; ++i) split.emplace_back(arguments[i]);
  return split;
}

// The argument after "/L*v" (any case), or nothing.
std::wstring logPathArgument(const std::vector<std::wstring>& arguments) {
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (_wcsicmp(arguments[i].c_str(), L"/L*v") == 0) return arguments[i + 1];
  }
  return {};
}

void writeText(const std::wstring& path, const std::string& text) {
  sysenv::UniqueFileHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file) WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Windows Installer's own exit code, or ERROR_INSTALL_FAILURE when msiexec cannot be run at all.
DWORD runMsiexec(const std::wstring& folder, const std::wstring& arguments) {
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return ERROR_INSTALL_FAILURE;
  std::wstring commandLine = L"\"" + std::wstring(system, length) + L"\\msiexec.exe\" /i \"" + folder +
                             L"\\SorvanePro.msi\" /qn" + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return ERROR_INSTALL_FAILURE;
  }
  sysenv::UniqueKernelHandle processHandle(process.hProcess);
  sysenv::UniqueKernelHandle threadHandle(process.hThread);
  DWORD exitCode = ERROR_INSTALL_FAILURE;
  if (WaitForSingleObject(processHandle.get(), INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(processHandle.get(), &exitCode)) {
    return ERROR_INSTALL_FAILURE;
  }
  return exitCode;
}

}  // namespace

int wmain() {
  const wchar_t* commandLine = GetCommandLineW();
  const std::vector<std::wstring> arguments = splitArguments(commandLine);
  const std::wstring logPath = logPathArgument(arguments);

  DWORD exitCode = 0;
  if (!arguments.empty() && _wcsicmp(arguments[0].c_str(), kCancelSwitch) == 0) {
    exitCode = ERROR_INSTALL_USEREXIT;
    if (!logPath.empty()) writeText(logPath, "Sorvane Pro setup: the user cancelled the installation.\r\n");
  } else {
    exitCode = runMsiexec(ownFolder(), argumentsText(commandLine));
  }
  if (!logPath.empty()) {
    writeText(logPath + L".xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<SetupResult exitCode=\"" +
                                     std::to_string(exitCode) + "\"/>\r\n");
  }
  return static_cast<int>(exitCode);
}
