// Win32 code. The run's scratch folders: under the Windows temporary folder with a protected DACL
// when elevated, under the user's temporary folder otherwise; and opening their files without
// following links.
#include "sysenv/scratch_folder_win.h"

#include <objbase.h>
#include <sddl.h>
#include <shlwapi.h>

#include <atomic>
#include <utility>

#include "sysenv/environment_win.h"
#include "sysenv/scratch_rules.h"
#include "sysenv/shell_win.h"
#include "sysenv/wide_text_win.h"

namespace sysenv {

namespace {

// A GUID is unguessable, so a name that already exists was planted or is a one-in-2^122 accident;
// either way another try is cheap, and a few tries bound the loop.
constexpr int kNameAttempts = 8;

std::wstring withoutTrailingBackslash(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

// %windir%\<name>\, or empty.
std::wstring windowsFolder(const wchar_t* name) {
  wchar_t windows[MAX_PATH] = {};
  const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::wstring folder = windows;
  if (folder.back() != L'\\') folder += L'\\';
  return folder + name + L"\\";
}

std::wstring rootPath(ScratchRoot root) {
  switch (root) {
    case ScratchRoot::SystemTemp:
      return windowsFolder(L"SystemTemp");
    case ScratchRoot::WindowsTemp:
      return windowsFolder(L"Temp");
    case ScratchRoot::UserTemp:
      break;
  }
  return {};
}

bool usable(const std::wstring& root) {
  // Asked without the trailing backslash: with one, a link answers with its target's attributes.
  return !root.empty() && isUsableScratchRoot(::GetFileAttributesW(withoutTrailingBackslash(root).c_str()));
}

// An uppercase GUID without braces.
std::wstring newGuidName() {
  GUID guid;
  if (::CoCreateGuid(&guid) != S_OK) return {};
  wchar_t text[64] = {};
  if (::StringFromGUID2(guid, text, 64) != 39) return {};
  return std::wstring(text + 1, 36);
}

bool createElevatedScratchFolder(std::wstring& folder) {
  for (const ScratchRoot root : scratchRootsFor(true)) {
    const std::wstring base = rootPath(root);
    if (!usable(base)) continue;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      const std::wstring name = newGuidName();
      if (name.empty()) return false;
      const std::wstring candidate = base + name;
      if (candidate.size() + 1 >= MAX_PATH) return false;
      if (createProtectedFolder(candidate, toWide(kScratchFolderSddl).c_str())) {
        folder = candidate + L"\\";
        return true;
      }
      // Anything but a taken name (SystemTemp that this account may not write to, say): next root.
      if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
  }
  return false;
}

// The final path of an open file or folder as the system resolves it, without the "\\?\" prefix;
// empty when it cannot be had.
std::wstring finalPath(HANDLE handle) {
  wchar_t path[1024] = {};
  const DWORD length = ::GetFinalPathNameByHandleW(handle, path, 1024, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= 1024) return {};
  std::wstring result(path, length);
  if (result.compare(0, 4, L"\\\\?\\") == 0) result.erase(0, 4);
  return result;
}

bool sameText(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// The folder holding `path`, as the system resolves it, ending in a backslash; empty when it cannot
// be opened or resolves elsewhere than its own (long) path, that is, when a folder on the way is a
// link. The paths compared are the run's own: under the Windows folder, or the user's temporary
// folder in its long form.
std::wstring resolvedParent(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos || slash + 1 >= path.size()) return {};
  std::wstring parentPath = path.substr(0, slash);
  if (parentPath.size() == 2 && parentPath[1] == L':') parentPath += L'\\';
  const UniqueFileHandle parent(::CreateFileW(parentPath.c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!parent) return {};
  std::wstring resolved = finalPath(parent.get());
  wchar_t longParent[1024] = {};
  const DWORD longLength = ::GetLongPathNameW(parentPath.c_str(), longParent, 1024);
  if (resolved.empty() || longLength == 0 || longLength >= 1024 ||
      !sameText(withoutTrailingBackslash(longParent), withoutTrailingBackslash(resolved))) {
    return {};
  }
  if (resolved.back() != L'\\') resolved += L'\\';
  return resolved;
}

// Whether `file`, opened from `path` in the folder that resolves to `parent` (resolvedParent), is the
// plain file that `path` names: no reparse point, and its resolved path is its folder's plus its own
// name (a link the system shows as a plain file, as Wine does, resolves elsewhere).
bool isPlainEntryIn(HANDLE file, const std::wstring& parent, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return false;
  }
  const std::wstring actual = finalPath(file);
  return !parent.empty() && !actual.empty() && sameText(actual, parent + path.substr(path.find_last_of(L'\\') + 1));
}

UniqueFileHandle refused() {
  ::SetLastError(ERROR_ACCESS_DENIED);
  return UniqueFileHandle();
}

UniqueFileHandle openChecked(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  UniqueFileHandle file(
      ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file && !isPlainEntryIn(file.get(), resolvedParent(path), path)) return refused();
  return file;
}

}  // namespace

bool createProtectedFolder(const std::wstring& folder, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  const UniqueLocalMemory owned(descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  // CreateDirectoryW never opens an existing folder: a name made first by someone else fails here
  // with ERROR_ALREADY_EXISTS, so what we get is ours, with our DACL from its first moment.
  return ::CreateDirectoryW(withoutTrailingBackslash(folder).c_str(), &attributes) != FALSE;
}

bool createScratchFolder(std::wstring& folder, bool elevated) {
  if (elevated) return createElevatedScratchFolder(folder);
  std::wstring candidate;
  if (!getTempFolder(candidate) || !createUniqueSubfolder(candidate)) return false;
  folder = candidate;
  return true;
}

namespace {
std::atomic<bool (*)()> elevationQuery{nullptr};
}  // namespace

void setScratchElevationQuery(bool (*query)()) { elevationQuery = query; }

bool createScratchFolder(std::wstring& folder) {
  bool (*const query)() = elevationQuery;
  return createScratchFolder(folder, query != nullptr ? query() : isProcessElevated());
}

std::wstring windowsScratchRoot() {
  for (const ScratchRoot root : scratchRootsFor(true)) {
    const std::wstring base = rootPath(root);
    if (usable(base)) return base;
  }
  return {};
}

UniqueFileHandle openScratchFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                                 DWORD flagsAndAttributes) {
  if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
    return openChecked(path, access, share, disposition, flagsAndAttributes);
  }
  // A new file is no link, but the folder it is made in must be no link either. An existing file is
  // checked before it is truncated.
  const std::wstring parent = resolvedParent(path);
  if (parent.empty()) return refused();
  UniqueFileHandle file(::CreateFileW(path.c_str(), access, share, nullptr, CREATE_NEW,
                                      flagsAndAttributes | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file) return isPlainEntryIn(file.get(), parent, path) ? std::move(file) : refused();
  if (disposition == CREATE_NEW || ::GetLastError() != ERROR_FILE_EXISTS) return file;
  file = openChecked(path, access, share, OPEN_EXISTING, flagsAndAttributes);
  if (file && disposition == CREATE_ALWAYS && !::SetEndOfFile(file.get())) file.reset();
  if (file) ::SetLastError(ERROR_ALREADY_EXISTS);  // as CreateFileW reports an existing file
  return file;
}

}  // namespace sysenv
