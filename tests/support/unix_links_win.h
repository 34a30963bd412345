// Win32 code. Links planted the only way Wine allows: Wine 8 cannot make reparse points from Windows
// code (CreateSymbolicLinkW returns TRUE and makes nothing), but it runs Unix programs, and it shows
// a Unix symbolic link to a folder as a directory with FILE_ATTRIBUTE_REPARSE_POINT: to the code
// under test, the same thing as a junction or a folder link.
#pragma once

#include <string>

namespace testsupport {

// Makes `link` a link to the folder `target`; true once it shows as a reparse-point folder.
bool makeUnixFolderLink(const std::wstring& link, const std::wstring& target);
// Removes a link left behind (Wine's RemoveDirectoryW and DeleteFileW act on the target instead).
void removeUnixLink(const std::wstring& link);

}  // namespace testsupport
