// Win32 code.
#include "app/privileges_win.h"

#include "app/language_table.h"
#include "app/resources/resource_ids.h"
#include "app/string_resources_win.h"
#include "sysenv/environment_win.h"

namespace app {

bool checkPrivileges(int uiLanguageIndex, const PrivilegeCheckHooks& hooks) {
  const bool elevated = hooks.isElevated != nullptr ? hooks.isElevated() : sysenv::isProcessElevated();
  if (elevated) return true;

  const WORD language = languageResourceId(uiLanguageIndex);
  std::wstring text = loadResourceString(IDS_PRIVILEGE_MESSAGE, language, hooks.resources);
  std::wstring caption = loadResourceString(IDS_PRIVILEGE_CAPTION, language, hooks.resources);
  if (text.empty() || caption.empty()) {
    const WORD english = languageResourceId(kLanguageOther);
    text = loadResourceString(IDS_PRIVILEGE_MESSAGE, english, hooks.resources);
    caption = loadResourceString(IDS_PRIVILEGE_CAPTION, english, hooks.resources);
  }
  ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
  return false;
}

}  // namespace app
