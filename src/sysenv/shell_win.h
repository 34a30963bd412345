// Win32 code. Temporary folders, the desktop shortcut, shell hand-off, the command line's
// pass-through text and UTF-8 conversion. Failures are reported through return values only.
#pragma once

#include <windows.h>

#include <string>

namespace sysenv {

// The user's temporary folder, ending in a backslash, in its long form where that fits.
bool getTempFolder(std::wstring& folder);
// Makes a new subfolder of `base` named after the tick count; on success `base` names it, ending in
// a backslash. Fails, leaving `base` unchanged, when `base` does not exist.
bool createUniqueSubfolder(std::wstring& base);
// Deletes the folder and everything below it, depth first. A junction or symbolic link inside is
// removed itself, never followed. Returns whether the folder itself was removed.
bool deleteFolderTree(const std::wstring& folder);

std::wstring desktopShortcutPath(const std::wstring& name);
// Needs COM on the calling thread.
HRESULT createShellLink(const std::wstring& target, const std::wstring& shortcutPath);
// Creates (or replaces) a desktop shortcut to this program, or deletes it. Needs COM.
void manageDesktopShortcut(const std::wstring& name, bool create);
// Starts `file` through the desktop's shell window, not as a child of this process. Needs COM.
HRESULT shellExecuteAsDesktopUser(const std::wstring& file, const std::wstring& arguments);

// The text of passthro="..." on this process's command line, or empty.
std::wstring getPassthroughArguments();
// UTF-8 of the text up to its first NUL.
std::string toUtf8(const std::wstring& text);

}  // namespace sysenv
