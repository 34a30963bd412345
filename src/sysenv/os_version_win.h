// Win32 code. The one way the environment queries read the system's version.
#pragma once

#include <windows.h>

namespace sysenv {

// GetVersionExW with the extended structure, everything but its size zeroed, so a failed call
// leaves version 0.0 and product type 0. The program's manifest declares the systems it supports
// up to Windows 10, which is what makes the call report 8.1 and 10 truly rather than as 6.2.
inline bool readOsVersion(OSVERSIONINFOEXW& version) {
  version = OSVERSIONINFOEXW{};
  version.dwOSVersionInfoSize = sizeof version;
  return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) != FALSE;
}

}  // namespace sysenv
