// Win32 code.
#include "app/crash_handler_win.h"

#include <dbghelp.h>
#include <shlwapi.h>

#include <string>

#include "sysenv/scope_exit.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/system_dll_win.h"
#include "sysenv/unique_handle_win.h"
#include "telemetry/error_upload_win.h"

namespace app {

namespace {

// Writes the dump of this process with the failing thread's exception; true when it was written.
bool writeMiniDump(const wchar_t* dumpPath, EXCEPTION_POINTERS* exception) {
  // dbghelp.dll is no Known DLL: by bare name it could come from the stub's Downloads folder.
  const auto writeDump = sysenv::systemFunction<decltype(&MiniDumpWriteDump)>(L"dbghelp.dll", "MiniDumpWriteDump");
  if (writeDump == nullptr) return false;
  const sysenv::UniqueFileHandle file = sysenv::openScratchFile(dumpPath, GENERIC_WRITE, 0, CREATE_ALWAYS);
  if (!file) return false;
  MINIDUMP_EXCEPTION_INFORMATION exceptionInformation = {};
  exceptionInformation.ThreadId = ::GetCurrentThreadId();
  exceptionInformation.ExceptionPointers = exception;
  // The pointers are this process's own, which is the process being dumped.
  exceptionInformation.ClientPointers = TRUE;
  return writeDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.get(), MiniDumpNormal,
                   &exceptionInformation, nullptr, nullptr) != FALSE;
}

}  // namespace

void installCrashFilter() { ::SetUnhandledExceptionFilter(crashDumpFilter); }

LONG WINAPI crashDumpFilter(EXCEPTION_POINTERS* exception) { return writeAndUploadCrashDump(exception, kCrashDumpName); }

LONG writeAndUploadCrashDump(EXCEPTION_POINTERS* exception, const wchar_t* dumpName) {
  std::wstring folder;
  if (!sysenv::createScratchFolder(folder)) return EXCEPTION_EXECUTE_HANDLER;
  // Also when no dump could be made: a crash must not leave folders behind.
  const sysenv::ScopeExit removeFolder([&folder] { sysenv::deleteFolderTree(folder); });

  wchar_t dumpPath[MAX_PATH];
  if (::PathCombineW(dumpPath, folder.c_str(), dumpName) == nullptr) return EXCEPTION_EXECUTE_HANDLER;
  // The file is closed before the upload opens it again.
  if (writeMiniDump(dumpPath, exception)) telemetry::uploadCrashDump(dumpPath);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace app
