// Win32 code. The window run of a start: the page from the unpacked payload in the host window, with
// the reports around it, and the error branch that hands the log over for upload.
#pragma once

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "htmlui/mshtml_external_win.h"
#include "payload/ui_payload_win.h"
#include "telemetry/analytics_win.h"

namespace app {

// The start page, relative to the payload folder.
constexpr wchar_t kStartPage[] = L"Load.html";

// Sends the start report, then shows "Load.html" from the payload folder until the page or the user
// closes the window, inside a single-threaded COM apartment of its own, then sends the final report.
// Without a loaded payload no window is shown and the run counts as an error. A run whose status is
// "error occurred" at the end has the property map written into the log and the log closed and
// uploaded with the other collected logs. `properties`, `logger` and `analytics` are the ones the
// script object was built over. Returns whether a window ran; the start-up sequence goes on the
// same way either way.
bool runUi(const payload::UiPayload& uiPayload, htmlui::MSHTMLExternal* scriptObject, InstallProperties& properties,
           Logger& logger, downloadmanagercore::Analytics& analytics);

}  // namespace app
