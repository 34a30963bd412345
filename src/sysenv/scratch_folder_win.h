// Win32 code. The run's scratch folders, and opening files in them without following links.
#pragma once

#include <windows.h>

#include <string>

#include "sysenv/unique_handle_win.h"

namespace sysenv {

// Makes a new scratch folder for one component of the run; on success `folder` names it, ending in a
// backslash. Every folder the run works in comes from here.
// - Elevated: a folder named by a fresh GUID under %windir%\SystemTemp (where that exists and the
//   folder can be made there), else under %windir%\Temp, created with a protected DACL (SYSTEM and
//   Administrators full control, nothing inherited) and only if the name is new: a name that exists
//   is never taken over, whoever made it.
// - Not elevated: a new subfolder of the user's temporary folder (createUniqueSubfolder).
// Fails, leaving `folder` unchanged, when no folder could be made.
bool createScratchFolder(std::wstring& folder);
// The same with the elevation given rather than asked of the process token.
bool createScratchFolder(std::wstring& folder, bool elevated);
// Replaces the process token query behind createScratchFolder(folder) for this process; null puts
// the token query back. For tests that steer their own process's folders through TMP and TEMP
// (Wine runs every process elevated). Nothing outside the process can set it.
void setScratchElevationQuery(bool (*query)());

// The Windows temporary folder an elevated run would use now, ending in a backslash; empty when
// neither is usable. (Where a test looks for what a run left behind.)
std::wstring windowsScratchRoot();

// Makes `folder` (which must not exist) with the security descriptor `sddl`; false when it exists
// already or cannot be made. The last error tells which.
bool createProtectedFolder(const std::wstring& folder, const wchar_t* sddl);

// CreateFileW for a file of a scratch folder that never acts through a junction or link: the file
// itself is opened (FILE_FLAG_OPEN_REPARSE_POINT) and refused when it is a reparse point or when the
// object opened is not the one at `path` inside its parent folder (a link Wine shows as a plain
// file). CREATE_ALWAYS truncates an existing file only after it has passed those checks. A refused
// open comes back empty with ERROR_ACCESS_DENIED.
UniqueFileHandle openScratchFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                                 DWORD flagsAndAttributes = FILE_ATTRIBUTE_NORMAL);

}  // namespace sysenv
