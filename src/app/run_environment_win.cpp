#include "app/run_environment_win.h"

#include <windows.h>

#include "app/language_table.h"
#include "sysenv/environment_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/identity_placeholders.h"

namespace app {

int uiLanguageIndex() { return languageIndexForUiLanguage(GetUserDefaultUILanguage()); }

RunEnvironment gatherRunEnvironment() {
  RunEnvironment environment;
  environment.passthrough = sysenv::toU16(sysenv::getPassthroughArguments());
  // newRequestToken and getMachineId replace these placeholders when the telemetry subsystem arrives.
  environment.requestToken = telemetry::kRequestTokenPlaceholder;
  environment.machineId = telemetry::kMachineIdPlaceholder;
  environment.architecture = sysenv::toU16(sysenv::queryArchitecture());
  environment.defaultBrowser = sysenv::toU16(sysenv::queryDefaultBrowser());
  environment.os = sysenv::toU16(sysenv::queryOsName());
  environment.country = sysenv::toU16(sysenv::queryCountry());
  environment.uiLanguage = uiLanguageIndex();
  return environment;
}

}  // namespace app
