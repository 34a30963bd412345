// Win32 code.
#include "support/unix_links_win.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "support/wine_test_support_win.h"

namespace testsupport {

namespace {

std::string unixPathOf(const std::wstring& path) {
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

// Wine gives no exit code for a Unix program, and its process handle may be signalled before the
// program has run: the caller's condition tells when it is done (five seconds at most).
template <typename Done>
bool runUnixCommand(const std::string& commandLine, Done done) {
  if (!runChild(std::wstring(commandLine.begin(), commandLine.end())).started) return false;
  for (int i = 0; i < 100 && !done(); ++i) Sleep(50);
  return done();
}

}  // namespace

bool makeUnixFolderLink(const std::wstring& link, const std::wstring& target) {
  const std::string unixLink = unixPathOf(link), unixTarget = unixPathOf(target);
  if (unixLink.empty() || unixTarget.empty()) return false;
  // Quoted for Wine's splitting of the command line into the program's arguments.
  const std::string command = "/bin/ln -s \"" + unixTarget + "\" \"" + unixLink + "\"";
  if (!runUnixCommand(command, [&] { return pathExists(link); })) return false;
  const DWORD attributes = GetFileAttributesW(link.c_str());
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void removeUnixLink(const std::wstring& link) {
  // Listed by name: a link whose target went is not found by its path.
  const std::size_t slash = link.rfind(L'\\');
  const std::wstring parent = link.substr(0, slash), name = link.substr(slash + 1);
  auto gone = [&] {
    const std::vector<std::wstring> names = listFolder(parent);
    return std::find(names.begin(), names.end(), name) == names.end();
  };
  if (!gone()) runUnixCommand("/bin/rm -f \"" + unixPathOf(link) + "\"", gone);
}

}  // namespace testsupport
