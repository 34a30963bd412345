// A graphical program that installs the stub's crash filter the way the stub does and then makes an
// access violation in a worker thread, for the crash-dump tests. Its exit code is whatever the
// crash leaves; 0 would mean that the worker returned without crashing.
#include <windows.h>

#include "app/crash_handler_win.h"
#include "sysenv/crash_injection_win.h"
#include "sysenv/system_dll_win.h"

namespace {

DWORD WINAPI crashingWorker(void*) {
  sysenv::makeAccessViolation();
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  sysenv::restrictDllSearchToSystem32();
  app::installCrashFilter();
  HANDLE worker = CreateThread(nullptr, 0, crashingWorker, nullptr, 0, nullptr);
  if (worker == nullptr) return 2;
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(worker);
  return 0;
}
