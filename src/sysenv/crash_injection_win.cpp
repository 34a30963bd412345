// Win32 code. Alone in its file: the crash-test build links its own object of it in place of this one.
#include "sysenv/crash_injection_win.h"

namespace sysenv {

void injectedCrashPoint() {
#ifdef SORVANE_INJECT_CRASH
  // Written through a volatile pointer, the compiler cannot know it is null and drop the write.
  int* volatile target = nullptr;
  *target = 1;
#endif
}

}  // namespace sysenv
