// Win32 code. The stub needs administrator rights; without them it says so in the user's own
// language and ends.
#pragma once

#include <windows.h>

#include <string>

namespace app {

struct PrivilegeCheckHooks {
  bool (*isElevated)() = nullptr;  // null: the process token's integrity level decides
  HMODULE resources = nullptr;     // null: the running executable's string table
};

// True when the process may continue. Otherwise shows the localized message (string 102, caption
// 103, English when either is missing in the UI language) with no owner window and returns false.
bool checkPrivileges(int uiLanguageIndex, const PrivilegeCheckHooks& hooks = {});

}  // namespace app
