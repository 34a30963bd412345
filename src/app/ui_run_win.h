// Win32 code. The window run of a start: the page from the unpacked payload in the host window, with
// the reports around it, and the error branch that hands the log over for upload. The quiet run
// (quiet_run_win.h) shares the reports and the error branch.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "htmlui/mshtml_external_win.h"
#include "payload/ui_payload_win.h"
#include "telemetry/analytics_win.h"

namespace app {

// The start page, relative to the payload folder.
constexpr wchar_t kStartPage[] = L"Load.html";

// How long the end of the pages waits for the jobs they started. Ample for a worker's last steps,
// which may include unpacking's last piece and the call back into the page.
constexpr DWORD kJobsEndWaitMs = 10000;

// The single-threaded COM apartment of the pages, around the window or the quiet workflow. Before it
// is left, the jobs that the pages started are asked to stop and waited for (bounded by
// kJobsEndWaitMs), while this thread still dispatches the calls they make into the apartment on
// their way out; a job that outlives the wait is logged.
class PageApartment {
 public:
  explicit PageApartment(Logger& logger);
  ~PageApartment();
  PageApartment(const PageApartment&) = delete;
  PageApartment& operator=(const PageApartment&) = delete;

 private:
  Logger& logger_;
  HRESULT initialized_;
};

// Sends the start report, then shows "Load.html" from the payload folder until the page or the user
// closes the window, inside a single-threaded COM apartment of its own, then sends the final report.
// Without a loaded payload no window is shown and the run counts as an error. A run whose status is
// "error occurred" at the end has the property map written into the log and the log closed and
// uploaded with the other collected logs. `properties`, `logger` and `analytics` are the ones the
// script object was built over. Returns whether a window ran; the start-up sequence goes on the
// same way either way.
bool runUi(const payload::UiPayload& uiPayload, htmlui::MSHTMLExternal* scriptObject, InstallProperties& properties,
           Logger& logger, downloadmanagercore::Analytics& analytics);

// The pages' part of a run, given the payload folder (with its trailing backslash): returns once the
// pages have ended, and whether they ran at all.
using PageRun = std::function<bool(const std::wstring& payloadFolder)>;

// A run around its pages: the start report; `runPages` over `payloadFolder`, or, when the folder is
// empty (no payload), status "error occurred" instead; the final report; and the error branch (the
// property dump into the log, the log closed, added to the collected logs, and the archive uploaded)
// when the status is "error occurred" at the end. Returns what `runPages` returned (false without
// a payload).
bool runWithReports(const std::wstring& payloadFolder, const PageRun& runPages, InstallProperties& properties,
                    Logger& logger, downloadmanagercore::Analytics& analytics);

// The payload folder when the payload was unpacked; empty when it was not.
std::wstring loadedPayloadFolder(const payload::UiPayload& uiPayload);

}  // namespace app
