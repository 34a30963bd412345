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

std::wstring longPathName(const std::wstring& path) {
  constexpr DWORD kLongCapacity = 1024;
  wchar_t longPath[kLongCapacity] = {};
  const DWORD length = ::GetLongPathNameW(path.c_str(), longPath, kLongCapacity);
  if (length != 0 && length < kLongCapacity) return longPath;
  const std::size_t slash = path.find_last_of(L'\\', path.size() >= 2 ? path.size() - 2 : 0);
  if (slash == std::wstring::npos || slash + 1 >= path.size()) return path;
  const std::wstring folder = longPathName(path.substr(0, slash + 1));
  return folder == path.substr(0, slash + 1) ? path : folder + path.substr(slash + 1);
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

// Sets an open entry's attributes; its times stay.
bool setAttributes(HANDLE entry, DWORD attributes) {
  FILE_BASIC_INFO basic = {};  // zero times: left as they are
  // Zero attributes would mean "unchanged".
  basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
  return ::SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

// The tree is the program's own scratch space, so a read-only attribute there (which the product's
// installer may leave) does not keep anything; the entry's other attributes stay.
bool clearReadOnly(HANDLE entry, DWORD attributes) {
  return setAttributes(entry, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
}

// Opens an entry of the tree itself: a link put in its place since the enumeration is not followed,
// and then refused.
UniqueFileHandle openEntryItself(const std::wstring& path, DWORD access, bool folder,
                                 BY_HANDLE_FILE_INFORMATION& info) {
  const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
  UniqueFileHandle entry(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, flags, nullptr));
  if (entry && (!::GetFileInformationByHandle(entry.get(), &info) ||
                (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder)) {
    entry.reset();
  }
  return entry;
}

// A read-only file: the attribute cleared and the file deleted through one handle. A file that
// another process holds open without delete sharing cannot be opened so, and stays as it is.
bool deleteReadOnlyFile(const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info;
  const UniqueFileHandle file =
      openEntryItself(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, false, info);
  if (!file || !clearReadOnly(file.get(), info.dwFileAttributes)) return false;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  const bool deleted =
      ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
  // Only this name goes: another name of the same file (a hard link elsewhere) keeps the attribute.
  if (!deleted || info.nNumberOfLinks > 1) setAttributes(file.get(), info.dwFileAttributes);
  return deleted;
}

// A read-only folder cannot be removed on Windows, and under Wine (where it is a folder without
// write permission) neither can anything in it.
void makeFolderWritable(const std::wstring& folder) {
  BY_HANDLE_FILE_INFORMATION info;
  const UniqueFileHandle entry = openEntryItself(folder, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, true, info);
  if (entry && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) clearReadOnly(entry.get(), info.dwFileAttributes);
}

// `folder` is known not to be a link.
bool deleteContentsThenFolder(const std::wstring& folder, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_READONLY) makeFolderWritable(folder);
  WIN32_FIND_DATAW entry;
  UniqueFindHandle find(::FindFirstFileW(joinLiterally(folder, L"*").c_str(), &entry));
  if (find) {
    do {
      if (isDotEntry(entry.cFileName)) continue;
      const std::wstring path = joinLiterally(folder, entry.cFileName);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        removeLinkItself(path, entry.dwFileAttributes);
      } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        deleteContentsThenFolder(path, entry.dwFileAttributes);
      } else if (!::DeleteFileW(path.c_str()) && (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
        deleteReadOnlyFile(path);  // a file that stays (in use) keeps its folders, which is the result
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
  return deleteContentsThenFolder(folder, attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes);
}

}  // namespace sysenv
