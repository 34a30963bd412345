// Win32 code. The desktop shortcut to the running program. The process is elevated and the desktop
// is the user's: the shortcut file is opened itself, never through a link or junction planted in
// its place, and only a bare ".lnk" name from the page is taken.
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>
#include <wrl/client.h>

#include <string>

#include "sysenv/page_input_rules.h"
#include "sysenv/shell_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"

namespace sysenv {

using Microsoft::WRL::ComPtr;

namespace {

// A file that may be written or deleted as the shortcut: not a folder, not a reparse point (link,
// junction, mount point), and not a second name of another file (a hard link).
bool isPlainSingleFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(file, &information)) return false;
  constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  return (information.dwFileAttributes & kNotPlain) == 0 && information.nNumberOfLinks <= 1;
}

// The link object's bytes, as IPersistFile::Save would write them.
bool serialiseLink(IShellLinkW* link, std::string& bytes) {
  ComPtr<IPersistStream> persist;
  ComPtr<IStream> stream;
  if (FAILED(link->QueryInterface(IID_PPV_ARGS(&persist))) ||
      FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf())) ||
      FAILED(persist->Save(stream.Get(), TRUE))) {
    return false;
  }
  STATSTG status = {};
  if (FAILED(stream->Stat(&status, STATFLAG_NONAME)) || status.cbSize.HighPart != 0) return false;
  HGLOBAL memory = nullptr;
  if (FAILED(::GetHGlobalFromStream(stream.Get(), &memory))) return false;
  const void* data = ::GlobalLock(memory);
  if (data == nullptr) return false;
  bytes.assign(static_cast<const char*>(data), status.cbSize.LowPart);
  ::GlobalUnlock(memory);
  return true;
}

// Writes the shortcut in place of a plain file of that name (or as a new one), through a handle on
// the name itself: a reparse point there is opened as itself and refused, never followed.
bool writeShortcutFile(const std::wstring& path, const std::string& bytes) {
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || !isPlainSingleFile(file.get())) return false;
  if (!::SetEndOfFile(file.get())) return false;  // the handle is at the start: an old shortcut goes
  DWORD written = 0;
  return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

// Deletes the shortcut through a handle on the name itself; a folder or reparse point of that name
// stays, and so does whatever it points at.
void deleteShortcutFile(const std::wstring& path) {
  UniqueFileHandle file(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return;  // a missing shortcut is no error
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(file.get(), &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return;
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
}

}  // namespace

std::wstring desktopShortcutPath(const std::wstring& name) {
  wchar_t desktop[MAX_PATH] = {};
  // Without the desktop folder the join would give a bare name, relative to the current folder:
  // the shortcut would be written, or a file of that name deleted, beside the program instead.
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop))) return {};
  wchar_t path[MAX_PATH];
  if (::PathCombineW(path, desktop, name.c_str()) == nullptr) return {};
  return path;
}

HRESULT createShellLink(const std::wstring& target, const std::wstring& shortcutPath) {
  ComPtr<IShellLinkW> link;
  const HRESULT created = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link));
  if (FAILED(created)) return created;
  link->SetPath(target.c_str());

  wchar_t folder[MAX_PATH] = {};
  ::lstrcpynW(folder, target.c_str(), MAX_PATH);
  ::PathRemoveFileSpecW(folder);
  link->SetWorkingDirectory(folder);

  std::string bytes;
  if (serialiseLink(link.Get(), bytes)) writeShortcutFile(shortcutPath, bytes);
  // What the steps after creation return is not reported: a shortcut is a convenience.
  return S_OK;
}

void manageDesktopShortcut(const std::wstring& name, bool create) {
  if (!isBareShortcutName(toU16(name))) return;  // an empty name included
  const std::wstring path = desktopShortcutPath(name);
  if (path.empty()) return;
  if (create) {
    wchar_t program[MAX_PATH] = {};
    if (::GetModuleFileNameW(nullptr, program, MAX_PATH) == 0) return;
    createShellLink(program, path);  // replaces a plain shortcut file of the same name
  } else {
    deleteShortcutFile(path);
  }
}

}  // namespace sysenv
