// Win32 code.
#include "app/startup_win.h"

#include <memory>
#include <string>
#include <vector>

#include "app/install_properties.h"
#include "app/language_choice.h"
#include "app/logger_win.h"
#include "app/privileges_win.h"
#include "app/property_dump_win.h"
#include "app/run_environment_win.h"
#include "app/single_instance_win.h"
#include "sysenv/system_dll_win.h"

namespace app {

namespace {

constexpr char16_t kProductId[] = u"KRV";
constexpr char16_t kOwnVersion[] = u"1.0.20.1";

// The window run with its reports. The UI payload, the host window, the report sender and the
// error-log upload attach here as their subsystems arrive. Until then no page can be shown, and
// the run ends the way a run with an unreadable payload ends: as an error, with the property map
// written into the log, and the log closed for archiving.
void runUi(InstallProperties& properties, Logger& logger) {
  const bool payloadLoaded = false;
  if (!payloadLoaded) properties.status = kStatusErrorOccurred;

  if (properties.status == kStatusErrorOccurred) {
    writePropertyDump(properties, logger);
    logger.closeFile();
  }
}

}  // namespace

int runDownloadManager() {
  // Before anything can load a DLL by name: the stub is often started from a Downloads folder.
  sysenv::restrictDllSearchToSystem32();
  // The crash filter is installed here, first of all, once the crash-dump upload exists.

  SingleInstance instance = acquireSingleInstance();
  if (instance.alreadyRunning) {
    // Nothing is logged and nothing reported: the first instance owns the run.
    activateRunningInstance();
    return 0;
  }

  // The user's own language: the install language is chosen only later, from the page's list.
  if (!checkPrivileges(uiLanguageIndex())) return 0;

  auto logger = std::make_unique<Logger>();
  auto properties = std::make_unique<InstallProperties>(kProductId, kOwnVersion, gatherRunEnvironment());
  // The report sender and the product script object are created here, over the properties and the
  // logger; then the UI payload is unpacked and its "LANG" list read into the candidates.
  std::vector<std::u16string> languageCandidates;
  properties->setInstallLanguage(chooseLanguage(languageCandidates, productLanguages(), uiLanguageIndex()));

  runUi(*properties, *logger);

  // Tear-down in reverse order of dependence: the script object's last reference, the mutex, the
  // candidates, the payload folder, the report sender, the properties, and the logger last (it
  // deletes its own folder with the log).
  instance.mutex.reset();
  languageCandidates.clear();
  properties.reset();
  logger.reset();
  return 0;
}

}  // namespace app
