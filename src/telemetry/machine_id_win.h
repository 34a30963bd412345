// Win32 code. Who is reporting: the machine id that stays the same across runs and accounts, and the
// request token of one run.
#pragma once

#include <string>

namespace telemetry {

// 38 characters: "P-" (from a physical adapter's permanent address), "V-" (random, on a virtual
// machine) or the "X-" placeholder, with a GUID-shaped body. Resolved once per process and cached;
// stored protected under the all-users application data. Never fails.
std::wstring getMachineId();

// A fresh uppercase GUID without braces for each call, or the all-"X" placeholder.
std::wstring newRequestToken();

}  // namespace telemetry
