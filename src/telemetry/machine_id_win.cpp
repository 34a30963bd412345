// Win32 code. Placeholder: the machine identity is being written.
#include "telemetry/machine_id_win.h"

#include "sysenv/wide_text_win.h"
#include "telemetry/identity_placeholders.h"

namespace telemetry {
std::wstring getMachineId() { return sysenv::toWide(kMachineIdPlaceholder); }
std::wstring newRequestToken() { return sysenv::toWide(kRequestTokenPlaceholder); }
}  // namespace telemetry
