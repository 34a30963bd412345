// Win32 code.
#include "app/startup_win.h"

#include <memory>
#include <string>
#include <vector>

#include "app/crash_handler_win.h"
#include "app/install_properties.h"
#include "app/language_choice.h"
#include "app/logger_win.h"
#include "app/privileges_win.h"
#include "app/quiet_exit_code.h"
#include "app/quiet_run_win.h"
#include "app/run_environment_win.h"
#include "app/single_instance_win.h"
#include "app/ui_run_win.h"
#include "htmlui/script_callback_win.h"
#include "payload/ui_payload_win.h"
#include "sorvane/sorvane_external_win.h"
#include "sysenv/command_line.h"
#include "sysenv/environment_win.h"
#include "sysenv/system_dll_win.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/analytics_win.h"
#include "telemetry/machine_id_win.h"

namespace app {

namespace {

constexpr char16_t kProductId[] = u"KRV";
constexpr char16_t kOwnVersion[] = u"1.0.20.1";

}  // namespace

int runDownloadManager() {
  // Before anything can load a DLL by name: the stub is often started from a Downloads folder.
  sysenv::restrictDllSearchToSystem32();
  // Everything after this, on any thread, ends in an uploaded dump rather than the crash dialog.
  installCrashFilter();

  // An unattended installation: the same run without any window, and an exit code that says how it
  // ended.
  const bool quiet = sysenv::hasQuietSwitch(sysenv::toU16(::GetCommandLineW()));

  SingleInstance instance = acquireSingleInstance();
  if (instance.alreadyRunning) {
    // Nothing is logged and nothing reported: the first instance owns the run. A quiet start brings
    // no window forward.
    if (quiet) return kQuietExitAlreadyRunning;
    activateRunningInstance();
    return 0;
  }

  if (quiet) {
    if (!sysenv::isProcessElevated()) return kQuietExitFailed;
  } else if (!checkPrivileges(uiLanguageIndex())) {
    // The user's own language: the install language is chosen only later, from the page's list.
    return 0;
  }

  auto logger = std::make_unique<Logger>();
  auto properties = std::make_unique<InstallProperties>(kProductId, kOwnVersion, gatherRunEnvironment());
  if (telemetry::machineIdFolderWasRefused()) {
    logger->error(L"Machine id folder is a link or not owned by administrators: the id is not stored");
  }
  auto analytics = std::make_unique<downloadmanagercore::Analytics>(properties.get());
  // This reference is the first one; the window, the page and every job worker take their own.
  auto* scriptObject = new sorvane::SorvaneExternal(properties.get(), analytics.get(), logger.get());

  auto uiPayload = std::make_unique<payload::UiPayload>(logger.get());
  std::vector<std::u16string> languageCandidates = uiPayload->readLanguageList();
  properties->setInstallLanguage(chooseLanguage(languageCandidates, productLanguages(), uiLanguageIndex()));

  int exitCode = 0;
  if (quiet) {
    exitCode = runQuiet(loadedPayloadFolder(*uiPayload), scriptObject, *properties, *logger, *analytics);
  } else {
    runUi(*uiPayload, scriptObject, *properties, *logger, *analytics);
  }

  // Tear-down in reverse order of dependence: the script object's reference (its work folder goes
  // with the last one), the mutex, the candidates, the payload folder, the report sender, the
  // properties, and the logger last (it deletes its own folder with the log). The pages' end has
  // stopped and waited for their jobs; one that outlived that wait still holds the object, so its
  // folder goes now: the process must not end with it standing.
  if (!htmlui::waitForScriptJobs(0)) scriptObject->deleteWorkFolder();
  scriptObject->Release();
  instance.mutex.reset();
  languageCandidates.clear();
  uiPayload->deletePayloadFolder();
  uiPayload.reset();
  analytics.reset();
  properties.reset();
  logger.reset();
  return exitCode;
}

}  // namespace app
