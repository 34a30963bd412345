// Win32 code. The desktop shortcut to the running program.
#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>
#include <wrl/client.h>

#include "sysenv/shell_win.h"

namespace sysenv {

using Microsoft::WRL::ComPtr;

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

  ComPtr<IPersistFile> file;
  if (SUCCEEDED(link.As(&file))) file->Save(shortcutPath.c_str(), TRUE);
  // What the steps after creation return is not reported: a shortcut is a convenience.
  return S_OK;
}

void manageDesktopShortcut(const std::wstring& name, bool create) {
  if (name.empty()) return;
  const std::wstring path = desktopShortcutPath(name);
  if (path.empty()) return;
  if (create) {
    wchar_t program[MAX_PATH] = {};
    if (::GetModuleFileNameW(nullptr, program, MAX_PATH) == 0) return;
    createShellLink(program, path);  // replaces a shortcut of the same name
  } else {
    ::DeleteFileW(path.c_str());  // a missing shortcut is no error
  }
}

}  // namespace sysenv
