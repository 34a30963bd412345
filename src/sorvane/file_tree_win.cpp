// Win32 code.
#include "sorvane/file_tree_win.h"

#include <windows.h>

#include <shlwapi.h>

#include <cwchar>

#include "sysenv/unique_handle_win.h"

namespace sorvane {

namespace {
// The work folder ends in a backslash; a doubled one would show in every path found below it (the
// installer's command line, the log paths of the error report).
std::wstring joined(const std::wstring& folder, const wchar_t* name) {
  return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}
}  // namespace

bool FindFileInTree(const std::wstring& folder, const std::wstring& name, std::wstring& found) {
  if (PathFileExistsW(joined(folder, name.c_str()).c_str())) {
    found = folder;
    return true;
  }
  WIN32_FIND_DATAW entry;
  const sysenv::UniqueFindHandle listing(FindFirstFileW(joined(folder, L"*").c_str(), &entry));
  if (!listing) return false;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
    // A junction or link leads out of the work folder: an installer found there is not ours.
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0) continue;
    if (FindFileInTree(joined(folder, entry.cFileName), name, found)) return true;
  } while (FindNextFileW(listing.get(), &entry));
  return false;
}

}  // namespace sorvane
