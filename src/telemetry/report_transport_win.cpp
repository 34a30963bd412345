// Win32 code. Placeholder: the transport is being written.
#include "telemetry/report_transport_win.h"

namespace telemetry {
const wchar_t* reportServerHost() { return L"127.0.0.1"; }
void* openReportSession() { return nullptr; }
bool sendReportRequest(const void*, std::uint32_t, const std::wstring&, const std::wstring&) { return false; }
}  // namespace telemetry
