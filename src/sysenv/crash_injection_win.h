// Win32 code. Where a test build of the stub crashes on purpose, so that the end-to-end tests see the
// crash filter at work in a real run: the minidump written and uploaded from a worker thread.
#pragma once

namespace sysenv {

// Does nothing. The crash-test build (SorvaneProSetup-crashtest, made only with the Wine tests)
// compiles this file's definition again with SORVANE_INJECT_CRASH, and then it makes an access
// violation on the calling thread.
void injectedCrashPoint();

// Writes to a fresh page reserved with PAGE_NOACCESS: an access violation (0xC0000005) on the calling
// thread on every system. Address 0 is no such certainty: Wine running as root may map the page at
// address 0, and a write through a null pointer then simply succeeds.
void makeAccessViolation();

}  // namespace sysenv
