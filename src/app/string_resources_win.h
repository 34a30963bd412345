// Win32 code. One entry of the executable's string table in exactly one language.
#pragma once

#include <windows.h>

#include <string>

namespace app {

// The string `id` of the table block for `languageId`, found by exact language (no fallback to
// neutral or related languages); empty when that block or entry is missing. `module` null means
// the running executable.
std::wstring loadResourceString(UINT id, WORD languageId, HMODULE module = nullptr);

}  // namespace app
