// Small text rules of the shell and file utilities.
#pragma once

#include <cstdint>
#include <string>

namespace sysenv {

// A URL for the desktop shell's ShellExecute: the shell hands it to a command interpreter, where a
// bare "&" would end the command, so every "&" gets a "^" in front.
std::u16string escapeAmpersandsForShell(const std::u16string& url);

// The name of a unique temporary subfolder: the tick count in lowercase hexadecimal without leading
// zeros (0x1A2B gives "1a2b", 0 gives "0").
std::u16string tickFolderName(std::uint32_t tickCount);

}  // namespace sysenv
