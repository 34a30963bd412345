// Win32 code. Temporary folders, the desktop shortcut, shell hand-off, the command line's
// pass-through text and UTF-8 conversion. Failures are reported through return values only.
#pragma once

#include <windows.h>

#include <string>

namespace sysenv {

// The user's temporary folder, ending in a backslash, in its long form where that fits in 520
// characters (the short form otherwise). Fails, leaving `folder` unchanged, when the folder's path
// has 259 characters or more.
bool getTempFolder(std::wstring& folder);
// `path` in its long form (GetLongPathNameW, no 8.3 names), a file that does not exist taken as its
// folder's long form and its own name; `path` as it is where neither is known.
std::wstring longPathName(const std::wstring& path);
// Makes a new subfolder of `base` named after the tick count ("%x"; the next number up while a name
// is taken); on success `base` names it, ending in a backslash. Fails, leaving `base` unchanged,
// when `base` does not exist, the new path would not fit in MAX_PATH, or the folder cannot be made.
bool createUniqueSubfolder(std::wstring& base);
// Deletes the folder and everything below it, depth first. A junction or symbolic link inside (or
// the folder itself, if it has become one) is removed itself, never followed. A file that cannot
// be deleted (in use without delete sharing) stays, and so do the folders holding it; a read-only
// file or folder of the tree is no such obstacle: the attribute is cleared on the entry itself (not
// through a link) and it is deleted. Returns whether the folder itself was removed; false for an
// empty path.
bool deleteFolderTree(const std::wstring& folder);

// The full path of `name` on the user's desktop; empty when the desktop folder is unknown or the
// path would not fit in MAX_PATH.
std::wstring desktopShortcutPath(const std::wstring& name);
// Saves a shortcut to `target`, with the target's folder as working folder, at `shortcutPath`
// (replacing a plain file there; a folder, a link or junction, or a hard-linked file of that name is
// left alone and nothing is written through it). Returns only whether the link object could be
// created; whether the shortcut was written is not reported. Needs COM on the calling thread.
HRESULT createShellLink(const std::wstring& target, const std::wstring& shortcutPath);
// Creates (or replaces) the desktop shortcut `name` (with its ".lnk") to this program, or deletes
// it; a missing one is no error. A name that is not a bare ".lnk" file name (sysenv/
// page_input_rules.h), an empty one included, does nothing; neither does a link, junction or folder
// of that name on the desktop, which is never followed nor deleted. Needs COM.
void manageDesktopShortcut(const std::wstring& name, bool create);
// Starts `file` (a program or a URL) with `arguments` through the desktop's shell window, so that it
// runs as the desktop user's process, not as a child of this one. Returns the HRESULT of the first
// step that failed (E_FAIL when there is no desktop shell window), or of the shell's ShellExecute.
// A URL must have been through escapeAmpersandsForShell (sysenv/shell_text.h). Needs COM.
HRESULT shellExecuteAsDesktopUser(const std::wstring& file, const std::wstring& arguments);

// The text of passthro="..." on this process's command line, or empty.
std::wstring getPassthroughArguments();
// UTF-8 of the text up to its first NUL.
std::string toUtf8(const std::wstring& text);

}  // namespace sysenv
