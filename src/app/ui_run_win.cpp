// Win32 code.
#include "app/ui_run_win.h"

#include <objbase.h>
#include <shlwapi.h>

#include "app/property_dump_win.h"
#include "htmlui/host_window_win.h"
#include "htmlui/script_callback_win.h"

namespace app {

namespace {

// The page and the document live in this apartment; it is closed again before the final report,
// which needs none.
bool runPageWindow(const std::wstring& payloadFolder, htmlui::MSHTMLExternal* scriptObject, Logger& logger) {
  PageApartment apartment(logger);
  wchar_t pagePath[MAX_PATH];
  // A payload folder too long for the page path leaves nothing to show: like a missing document.
  if (PathCombineW(pagePath, payloadFolder.c_str(), kStartPage) == nullptr) return false;
  htmlui::registerHostWindowClass();
  return htmlui::runHostWindow(pagePath, scriptObject);
}

}  // namespace

PageApartment::PageApartment(Logger& logger) : logger_(logger), initialized_(CoInitialize(nullptr)) {}

PageApartment::~PageApartment() {
  if (!htmlui::finishScriptJobs(kJobsEndWaitMs)) {
    logger_.error(L"A job did not end within %u ms of the pages", static_cast<unsigned>(kJobsEndWaitMs));
  }
  if (SUCCEEDED(initialized_)) CoUninitialize();
}

std::wstring loadedPayloadFolder(const payload::UiPayload& uiPayload) {
  return uiPayload.loaded() ? uiPayload.payloadFolder() : std::wstring();
}

bool runWithReports(const std::wstring& payloadFolder, const PageRun& runPages, InstallProperties& properties,
                    Logger& logger, downloadmanagercore::Analytics& analytics) {
  // Before the pages: an unreachable server delays them, but the report must say the run started
  // even when the pages never come. Report results change nothing in the run.
  analytics.sendStartReport();
  bool pagesRan = false;
  if (!payloadFolder.empty()) {
    pagesRan = runPages(payloadFolder);
  } else {
    // UiPayload has logged why; without pages there is nothing the user could do.
    properties.status = kStatusErrorOccurred;
  }
  analytics.sendFinalReport();

  // Set above, or left by the page (it sets 2 when the download starts and 1 on success).
  if (properties.status == kStatusErrorOccurred) {
    writePropertyDump(properties, logger);
    // Closed so that the archive can read it whole; later messages are dropped.
    logger.closeFile();
    analytics.addLogFile(logger.logPath());
    analytics.uploadLogArchive();
  }
  return pagesRan;
}

bool runUi(const payload::UiPayload& uiPayload, htmlui::MSHTMLExternal* scriptObject, InstallProperties& properties,
           Logger& logger, downloadmanagercore::Analytics& analytics) {
  return runWithReports(
      loadedPayloadFolder(uiPayload),
      [scriptObject, &logger](const std::wstring& payloadFolder) {
        return runPageWindow(payloadFolder, scriptObject, logger);
      },
      properties, logger, analytics);
}

}  // namespace app
