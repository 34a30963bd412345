// Win32 code. Where a test build of the stub crashes on purpose, so that the end-to-end tests see the
// crash filter at work in a real run: the minidump written and uploaded from a worker thread.
#pragma once

namespace sysenv {

// Does nothing. The crash-test build (SorvaneProSetup-crashtest, made only with the Wine tests)
// compiles this file's definition again with SORVANE_INJECT_CRASH, and then it makes an access
// violation on the calling thread.
void injectedCrashPoint();

}  // namespace sysenv
