// Win32 code.
#include "support/wine_test_support_win.h"

#include <cstdlib>
#include <map>

#include "support/jscript_host_win.h"
#include "sysenv/unique_handle_win.h"

namespace testsupport {

std::wstring windowsPathFromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr) return {};
  std::wstring path = L"Z:";
  for (const char* p = value; *p != 0; ++p) path += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

std::wstring stubExePath() { return windowsPathFromEnvironment("SORVANE_STUB_EXE"); }
std::wstring testBinFolder() { return windowsPathFromEnvironment("SORVANE_TEST_BIN"); }

ScratchFolder::ScratchFolder() {
  wchar_t temp[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, temp);
  std::wstring base(temp, length);
  if (!base.empty() && base.back() == L'\\') base.pop_back();
  for (unsigned attempt = 0;; ++attempt) {
    path_ = base + L"\\sorvane-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(attempt);
    if (CreateDirectoryW(path_.c_str(), nullptr)) break;
  }
}

ScratchFolder::~ScratchFolder() { removeTreeForTest(path_); }

void removeTreeForTest(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
    return;
  }
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    for (const std::wstring& name : listFolder(path)) removeTreeForTest(path + L"\\" + name);
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(path.c_str());
}

bool pathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool writeFileBytes(const std::wstring& path, const std::string& bytes) {
  sysenv::UniqueFileHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::string readFileBytes(const std::wstring& path) {
  sysenv::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  if (!file) return bytes;
  char buffer[8192];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

std::vector<std::wstring> listFolder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  sysenv::UniqueFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find.get(), &data));
  return names;
}

namespace {

// The current environment block with `overrides` applied, sorted as CreateProcessW expects.
std::wstring environmentBlockWith(const std::vector<std::pair<std::wstring, std::wstring>>& overrides) {
  std::map<std::wstring, std::wstring> variables;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry != 0; entry += wcslen(entry) + 1) {
    std::wstring text = entry;
    size_t equals = text.find(L'=', 1);
    if (equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : overrides) {
    for (auto it = variables.begin(); it != variables.end();) {
      it = (_wcsicmp(it->first.c_str(), name.c_str()) == 0) ? variables.erase(it) : std::next(it);
    }
    variables[name] = value;
  }
  std::wstring result;
  for (const auto& [name, value] : variables) result += name + L"=" + value + L'\0';
  result += L'\0';
  return result;
}

}  // namespace

ChildResult runChild(const std::wstring& commandLine,
                     const std::vector<std::pair<std::wstring, std::wstring>>& environment, DWORD timeoutMs) {
  ChildResult result;
  std::wstring mutableCommandLine = commandLine;
  std::wstring block = environmentBlockWith(environment);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, mutableCommandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      block.data(), nullptr, &startup, &process)) {
    return result;
  }
  sysenv::UniqueKernelHandle processHandle(process.hProcess);
  sysenv::UniqueKernelHandle threadHandle(process.hThread);
  result.started = true;
  // Keep this thread's windows answering while waiting: a child may send them messages (a second
  // stub restoring the first one's window waits for that window's thread).
  const DWORD deadline = GetTickCount() + timeoutMs;
  HANDLE waitable = processHandle.get();
  for (;;) {
    DWORD now = GetTickCount();
    DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
    DWORD wait = MsgWaitForMultipleObjects(1, &waitable, FALSE, left, QS_ALLINPUT);
    if (wait == WAIT_OBJECT_0) break;
    if (wait != WAIT_OBJECT_0 + 1) {
      TerminateProcess(processHandle.get(), 1);
      WaitForSingleObject(processHandle.get(), 5000);
      return result;
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  result.finished = true;
  GetExitCodeProcess(processHandle.get(), &result.exitCode);
  return result;
}

std::wstring quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

ScopedNativeDllPreference::ScopedNativeDllPreference(const std::wstring& programName,
                                                     const std::vector<std::wstring>& dllNames)
    : programKey_(L"Software\\Wine\\AppDefaults\\" + programName) {
  sysenv::UniqueRegistryKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, (programKey_ + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_WRITE,
                      nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  const std::wstring order = L"native,builtin";
  for (const std::wstring& dll : dllNames) {
    std::wstring name = dll.substr(0, dll.rfind(L".dll"));
    RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order.c_str()),
                   static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t)));
  }
}

ScopedNativeDllPreference::~ScopedNativeDllPreference() { RegDeleteTreeW(HKEY_CURRENT_USER, programKey_.c_str()); }

bool pumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

std::optional<int> awaitScriptNumber(JScriptHost& script, const std::wstring& name, DWORD timeoutMs) {
  std::optional<int> number;
  pumpMessagesUntil(
      [&] {
        VARIANT value;
        VariantInit(&value);
        if (SUCCEEDED(script.evaluate(L"typeof " + name + L" == 'number' ? " + name + L" : null", &value)) &&
            value.vt == VT_I4) {
          number = value.lVal;
        }
        VariantClear(&value);
        return number.has_value();
      },
      timeoutMs);
  return number;
}

}  // namespace testsupport
