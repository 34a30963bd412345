// Win32 code. The order of a run: everything long-lived is created here, in a fixed order, and torn
// down in reverse order of dependence.
#pragma once

namespace app {

// The whole run on the process's first thread, which stays the UI thread. Always returns 0.
int runDownloadManager();

}  // namespace app
