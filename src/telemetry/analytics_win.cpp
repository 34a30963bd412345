// Win32 code. Placeholder: the reports are being written.
#include "telemetry/analytics_win.h"

namespace downloadmanagercore {
bool Analytics::sendStartReport() { return false; }
bool Analytics::sendFinalReport() { return false; }
}  // namespace downloadmanagercore
