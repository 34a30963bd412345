// Win32 code. What the Wine tests share: where the built programs are, scratch folders that
// clean up after themselves, and child processes with an exit code.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A Linux path from the test's environment as a Windows path on Wine's Z: drive.
std::wstring windowsPathFromEnvironment(const char* variable);
// The stub under test (CTest sets SORVANE_STUB_EXE) and the folder of the built programs.
std::wstring stubExePath();
std::wstring testBinFolder();

// A fresh folder under the temporary folder, deleted with everything in it at the end of the test.
// Made without the code under test, so tests of the folder utilities do not check themselves.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // The folder, without a trailing backslash.
  const std::wstring& path() const { return path_; }
  std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

void removeTreeForTest(const std::wstring& path);
bool pathExists(const std::wstring& path);
bool writeFileBytes(const std::wstring& path, const std::string& bytes);
std::string readFileBytes(const std::wstring& path);
// Names in a folder, without "." and "..".
std::vector<std::wstring> listFolder(const std::wstring& folder);

struct ChildResult {
  bool started = false;
  bool finished = false;  // false: still running at the time-out, and terminated
  DWORD exitCode = 0;
};
// Runs a command line and waits for it. `environment` adds or replaces variables for the child.
ChildResult runChild(const std::wstring& commandLine,
                     const std::vector<std::pair<std::wstring, std::wstring>>& environment = {},
                     DWORD timeoutMs = 60000);

std::wstring quoted(const std::wstring& path);

// Dispatches this thread's messages (a marshalled page callback arrives as one) until `done` says
// so; false when `timeoutMs` pass first.
bool pumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);

class JScriptHost;
// Dispatches this thread's messages until the script's global `name` holds a number (where a page
// callback such as `function (r) { got = r; }` stores its result) and returns it; nothing when
// `timeoutMs` pass first.
std::optional<int> awaitScriptNumber(JScriptHost& script, const std::wstring& name, DWORD timeoutMs = 10000);

// Makes Wine search the program's own folder first for these DLLs, as Windows does for DLLs that
// are not Known DLLs, in every process named `programName` until destroyed. (Wine takes
// WINEDLLOVERRIDES only from the environment it was started with, not from CreateProcess, so a
// test uses Wine's per-program registry overrides instead.)
class ScopedNativeDllPreference {
 public:
  ScopedNativeDllPreference(const std::wstring& programName, const std::vector<std::wstring>& dllNames);
  ~ScopedNativeDllPreference();
  ScopedNativeDllPreference(const ScopedNativeDllPreference&) = delete;
  ScopedNativeDllPreference& operator=(const ScopedNativeDllPreference&) = delete;

 private:
  std::wstring programKey_;
};

}  // namespace testsupport
