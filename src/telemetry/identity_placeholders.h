// The fixed texts that stand for the machine id and the request token when they cannot be made.
// Every report carries one or the other, so the server can tell a missing identity from a real one.
#pragma once

namespace telemetry {

// "X-" and an all-"X" GUID body: the machine id when no adapter, file or random id was available.
inline constexpr char16_t kMachineIdPlaceholder[] = u"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
// An all-"X" GUID without braces: the request token when no GUID could be created.
inline constexpr char16_t kRequestTokenPlaceholder[] = u"XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";

}  // namespace telemetry
