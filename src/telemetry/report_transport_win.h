// Win32 code. The one way reports leave the machine: a synchronous plain-HTTP request to the report
// server on port 80, through the user's static proxy if there is one; the answer is never read.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace telemetry {

// The report server's host: a build setting (SORVANE_REPORT_HOST), 127.0.0.1 in test builds.
const wchar_t* reportServerHost();

// A WinHTTP session handle (HINTERNET) with the user's static proxy and bypass list, or going direct,
// and bounded time-outs (name look-up 5 s, connection 5 s, each send and receive step 10 s); null
// on failure. The caller closes it with WinHttpCloseHandle.
void* openReportSession();

// Sends `body` (length bytes; may be empty) with `verb` to `path` (which may hold a query) and the
// header "Content-Type:application/xml". True when WinHttpSendRequest succeeded.
bool sendReportRequest(const void* body, std::uint32_t length, const std::wstring& path, const std::wstring& verb);

}  // namespace telemetry
