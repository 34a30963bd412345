// Win32 code.
#include "support/file_links_win.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "support/wine_test_support_win.h"

namespace testsupport {

std::string unixPath(const std::wstring& path) {
  using Function = char*(CDECL*)(const wchar_t*);
  auto function = reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (function == nullptr) return {};
  char* name = function(path.c_str());
  if (name == nullptr) return {};
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool runUnixProgram(const std::wstring& commandLine, const std::function<bool()>& done) {
  if (!runChild(commandLine).started) return false;
  for (int i = 0; i < 100 && !done(); ++i) Sleep(50);
  return done();
}

namespace {

// Wine gives no exit code for a Unix program, and its process handle may be signalled before the
// program has run: wait for the link to appear instead.
bool makeLink(const std::wstring& link, const std::wstring& target) {
  const std::string unixLink = unixPath(link), unixTarget = unixPath(target);
  if (unixLink.empty() || unixTarget.empty()) return false;
  // Quoted for Wine's splitting of the command line into the program's arguments.
  return runUnixProgram(L"/bin/ln -s \"" + widen(unixTarget) + L"\" \"" + widen(unixLink) + L"\"",
                        [&] { return pathExists(link); });
}

}  // namespace

bool makeDirectoryLink(const std::wstring& link, const std::wstring& target) {
  if (!makeLink(link, target)) return false;
  const DWORD attributes = GetFileAttributesW(link.c_str());
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool makeFileLink(const std::wstring& link, const std::wstring& target) {
  if (!makeLink(link, target)) return false;
  const DWORD attributes = GetFileAttributesW(link.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void removeLeftoverLink(const std::wstring& link) {
  // Listed by name, since a link whose target went is not found by its path.
  const size_t slash = link.rfind(L'\\');
  const std::wstring parent = link.substr(0, slash), name = link.substr(slash + 1);
  auto gone = [&] {
    const std::vector<std::wstring> names = listFolder(parent);
    return std::find(names.begin(), names.end(), name) == names.end();
  };
  if (!gone()) runUnixProgram(L"/bin/rm -f \"" + widen(unixPath(link)) + L"\"", gone);
}

}  // namespace testsupport
