// Win32 code. The process's last word on a crash: an exception that no thread handles becomes a
// minidump, uploaded to the report server, and the process ends without the system's crash dialog.
#pragma once

#include <windows.h>

namespace app {

// The dump's name inside the handler's own temporary folder.
constexpr wchar_t kCrashDumpName[] = L"dlm.dmp";

// Makes crashDumpFilter the process's top-level unhandled-exception filter. The start-up sequence
// calls it first of all, so that every later thread is covered, workers included.
void installCrashFilter();

// The filter: writes the failing thread's exception into a minidump in a fresh subfolder of the
// temporary folder, uploads it when it was written, deletes the subfolder on every path, and
// returns EXCEPTION_EXECUTE_HANDLER, which ends the process. Nothing is logged or shown.
LONG WINAPI crashDumpFilter(EXCEPTION_POINTERS* exception);

// The filter's work with the dump's name inside the subfolder given (tests name one that cannot be
// created). Returns EXCEPTION_EXECUTE_HANDLER.
LONG writeAndUploadCrashDump(EXCEPTION_POINTERS* exception, const wchar_t* dumpName);

}  // namespace app
