// Win32 code. Files sent to the report server's error endpoint: the log archive of a failed run and
// the minidump of a crash.
#pragma once

#include <string>

namespace telemetry {

// PUT "/v1/reportError?token=<token>&machineId=<id>" with the file's bytes as the body. True when
// the request was sent; false when the file cannot be read.
bool uploadReportFile(const std::wstring& path, const std::wstring& token, const std::wstring& machineId);

// The dump with an empty token and this machine's id. Silent.
void uploadCrashDump(const std::wstring& dumpPath);

}  // namespace telemetry
