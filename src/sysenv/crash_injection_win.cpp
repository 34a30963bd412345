// Win32 code. Alone in its file: the crash-test build links its own object of it in place of this one.
#include "sysenv/crash_injection_win.h"

#include <windows.h>

namespace sysenv {

void makeAccessViolation() {
  // Committed but inaccessible: unlike a reserved range, nothing else can ever be placed there.
  int* volatile page = static_cast<int*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
  if (page == nullptr) RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  *page = 1;
}

void injectedCrashPoint() {
#ifdef SORVANE_INJECT_CRASH
  makeAccessViolation();
#endif
}

}  // namespace sysenv
