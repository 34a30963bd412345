// Win32 code. Queries about the operating system, the machine and the user. None keeps state, logs
// or fails visibly: when the system call fails, each returns its fixed fallback.
#pragma once

#include <string>

namespace sysenv {

std::wstring queryOsName();          // "Windows XP" ... "Windows 10", fallback "Other"
std::wstring queryOsVersion();       // "major.minor", fallback "0.0"
std::wstring queryArchitecture();    // "x86" or "x64" (the machine's, also in a 32-bit process)
std::wstring queryDefaultBrowser();  // the StartMenuInternet default value, fallback "Other"
std::wstring queryCountry();         // the user's nation as a decimal GEOID, "-1" when unset
bool queryHighContrast();            // the user's high-contrast setting is on; false when unknown
bool isUserAdmin();                  // member of the local Administrators group
bool isProcessElevated();            // administrator rights: high or system integrity

}  // namespace sysenv
