// Win32 code. The order of a run: everything long-lived is created here, in a fixed order, and torn
// down in reverse order of dependence.
#pragma once

namespace app {

// The whole run on the process's first thread, which stays the UI thread. Returns the process exit
// code: always 0 for the window run; with /quiet on the command line, the quiet run's code
// (quiet_exit_code.h), 1618 at once when another stub runs, and 1603 without administrator rights
// (no message box: nobody is there to read it).
int runDownloadManager();

}  // namespace app
