// Win32 code.
#include "app/single_instance_win.h"

namespace app {

SingleInstance acquireSingleInstance() {
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName);
  const bool alreadyExists = ::GetLastError() == ERROR_ALREADY_EXISTS;
  SingleInstance instance;
  instance.mutex.reset(mutex);
  instance.alreadyRunning = alreadyExists;
  return instance;
}

void activateRunningInstance() {
  HWND window = ::FindWindowW(kHostWindowClassName, nullptr);
  if (window == nullptr) return;
  ::SetForegroundWindow(window);
  if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
}

}  // namespace app
