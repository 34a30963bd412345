// Win32 code. Placeholder: the uploads are being written.
#include "telemetry/analytics_win.h"
#include "telemetry/error_upload_win.h"

namespace downloadmanagercore {
void Analytics::uploadLogArchive() {}
}  // namespace downloadmanagercore

namespace telemetry {
bool uploadReportFile(const std::wstring&, const std::wstring&, const std::wstring&) { return false; }
void uploadCrashDump(const std::wstring&) {}
}  // namespace telemetry
