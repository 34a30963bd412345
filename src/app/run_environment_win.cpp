// Win32 code.
#include "app/run_environment_win.h"

#include <windows.h>

#include "app/language_table.h"
#include "sysenv/environment_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/machine_id_win.h"

namespace app {

int uiLanguageIndex() { return languageIndexForUiLanguage(GetUserDefaultUILanguage()); }

RunEnvironment gatherRunEnvironment() {
  RunEnvironment environment;
  environment.passthrough = sysenv::toU16(sysenv::getPassthroughArguments());
  environment.requestToken = sysenv::toU16(telemetry::newRequestToken());
  environment.machineId = sysenv::toU16(telemetry::getMachineId());
  environment.architecture = sysenv::toU16(sysenv::queryArchitecture());
  environment.defaultBrowser = sysenv::toU16(sysenv::queryDefaultBrowser());
  environment.os = sysenv::toU16(sysenv::queryOsName());
  environment.country = sysenv::toU16(sysenv::queryCountry());
  environment.uiLanguage = uiLanguageIndex();
  return environment;
}

}  // namespace app
