// Win32 code. The quiet run (/quiet): the whole installation without any window. The pages' own
// workflow script ("js\external.js" with its texts and parameters) runs in the JScript engine with
// the product's script object as `external`, so an unattended installation does exactly what the
// shown pages would do; only the window, its message boxes and what the pages would open are left
// out (the script object's quiet mode logs them instead).
#pragma once

#include <string>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "downloadmanagercore/html_external_win.h"
#include "sorvane/sorvane_external_win.h"
#include "telemetry/analytics_win.h"

namespace app {

// The script files of the pages, relative to the payload folder, in the order they run.
extern const wchar_t* const kQuietRunScripts[4];

// The pages' workflow, headless, inside a single-threaded COM apartment of its own: switches the
// script object to quiet mode, runs the scripts, calls runLoadPage(view) as "Load.html" does, and
// dispatches the thread's messages (the timers, the jobs' callbacks) until the script calls
// closeWindow. The view's navigate("Download.html") starts startDownloadPage(view, timers) as that
// page does, once the current script call has returned (like a browser's navigation); the page's
// unload (stopDownloadPage) runs after the close. Progress stages and errors shown by the view are
// logged ("Quiet: ..."). Returns true when the script closed the run; false when the engine or a
// script file was missing, a script failed (a syntax error, an uncaught exception, a timer function
// that threw), or the page navigated somewhere unknown: an unattended run never waits forever for a
// workflow that has stopped.
bool runQuietWorkflow(const std::wstring& payloadFolder, downloadmanagercore::HtmlExternal* scriptObject,
                      Logger& logger);

// The quiet run with the window run's reports and error branch (runWithReports) around
// runQuietWorkflow. A workflow that did not end by the page's closeWindow counts as "error occurred"
// unless the page had already set "completed". Returns the process exit code (quietExitCode) from
// the final status and the product installer's exit code.
int runQuiet(const std::wstring& payloadFolder, sorvane::SorvaneExternal* scriptObject, InstallProperties& properties,
             Logger& logger, downloadmanagercore::Analytics& analytics);

}  // namespace app
