// Win32 code. Temporary working folders: the user's temporary folder, a fresh subfolder of it, and
// removing such a folder with everything in it.
#include <shlwapi.h>
#include <windows.h>

#include "sysenv/shell_text.h"
#include "sysenv/shell_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"

namespace sysenv {

bool getTempFolder(std::wstring& folder) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, path);
  // 259 or more leaves no room to append to the folder; beyond 260 the call only reports the size.
  if (length == 0 || length >= MAX_PATH - 1) return false;
  ::PathAddBackslashW(path);

  // The long form, where there is one and it fits. A long form too big for the buffer comes back as
  // its needed size with nothing usable written, so the short form stands then.
  constexpr DWORD kLongCapacity = 520;
  wchar_t longPath[kLongCapacity] = {};
  const DWORD longLength = ::GetLongPathNameW(path, longPath, kLongCapacity);
  folder = (longLength != 0 && longLength < kLongCapacity) ? longPath : path;
  return true;
}

bool createUniqueSubfolder(std::wstring& base) {
  if (!::PathFileExistsW(base.c_str())) return false;
  wchar_t candidate[MAX_PATH];
  for (DWORD tick = ::GetTickCount();; ++tick) {
    // A name that does not fit MAX_PATH would come back empty, and an empty folder path means the
    // current folder to every later caller: fail instead.
    if (::PathCombineW(candidate, base.c_str(), toWide(tickFolderName(tick)).c_str()) == nullptr ||
        ::PathAddBackslashW(candidate) == nullptr) {
      return false;
    }
    if (::PathFileExistsW(candidate)) continue;
    if (::CreateDirectoryW(candidate, nullptr)) break;
    // Made by someone else since the check: it is not ours, take the next number. Any other
    // failure would hand out a folder that does not exist.
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  base = candidate;
  return true;
}

namespace {

bool isDotEntry(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// A junction or symbolic link names something elsewhere; only the link itself is ours to remove.
// Deleting through it would delete the target's contents: with an elevated process and a link that
// another user planted in a temporary folder, anything on the machine.
void removeLinkItself(const std::wstring& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    ::RemoveDirectoryW(path.c_str());
  } else {
    ::DeleteFileW(path.c_str());
  }
}

// `folder` plus a backslash and `name`, as they are. PathCombineW would canonicalise the result, and
// an entry named "..." (which NTFS allows and Wine shows from Unix) would take it out of the tree:
// Wine's PathCombineW turns "C:\x" and "..." into "C:.", the current folder of drive C.
std::wstring joinLiterally(const std::wstring& folder, const wchar_t* name) {
  return folder + (folder.back() == L'\\' ? L"" : L"\\") + name;
}

// `folder` is known not to be a link.
bool deleteContentsThenFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  UniqueFindHandle find(::FindFirstFileW(joinLiterally(folder, L"*").c_str(), &entry));
  if (find) {
    do {
      if (isDotEntry(entry.cFileName)) continue;
      const std::wstring path = joinLiterally(folder, entry.cFileName);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        removeLinkItself(path, entry.dwFileAttributes);
      } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        deleteContentsThenFolder(path);
      } else {
        ::DeleteFileW(path.c_str());  // a file that stays keeps its folders, which is the result
      }
    } while (::FindNextFileW(find.get(), &entry));
  }
  find.reset();
  return ::RemoveDirectoryW(folder.c_str()) != FALSE;
}

}  // namespace

bool deleteFolderTree(const std::wstring& folder) {
  // An empty path would enumerate the current folder.
  if (folder.empty()) return false;
  // The folder itself may have been replaced by a link since it was made. Asked without its
  // trailing backslash: with one, the name resolves through the link to its target's attributes.
  std::wstring itself = folder;
  while (itself.size() > 1 && itself.back() == L'\\' && itself[itself.size() - 2] != L':') itself.pop_back();
  const DWORD attributes = ::GetFileAttributesW(itself.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return ::RemoveDirectoryW(itself.c_str()) != FALSE;
  }
  return deleteContentsThenFolder(folder);
}

}  // namespace sysenv
