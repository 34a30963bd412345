// Win32 code. Links planted the way Wine allows: Wine cannot make reparse points from Windows code,
// but it shows Unix symbolic links, which Unix programs started through Wine make.
#pragma once

#include <functional>
#include <string>

namespace testsupport {

// Wine's Unix path of a Windows path (Wine only; empty elsewhere).
std::string unixPath(const std::wstring& path);
std::wstring widen(const std::string& text);

// Runs a Unix program under Wine and waits up to five seconds until `done` holds.
bool runUnixProgram(const std::wstring& commandLine, const std::function<bool()>& done);

// Makes `link` a link to the folder `target`. Wine shows it as a directory with
// FILE_ATTRIBUTE_REPARSE_POINT: to the code under test, the same thing as a junction.
bool makeDirectoryLink(const std::wstring& link, const std::wstring& target);
// Makes `link` a link to the file `target`. Wine shows it as a plain file, with no reparse flag.
bool makeFileLink(const std::wstring& link, const std::wstring& target);

// Removes a link that the code under test may have left: Wine cannot remove a Unix link itself
// (RemoveDirectoryW and DeleteFileW act on its target), so /bin/rm does.
void removeLeftoverLink(const std::wstring& link);

}  // namespace testsupport
