// Win32 code. System DLLs that are not Known DLLs, loaded from System32 only.
//
// The stub runs elevated from a Downloads folder, where anyone may have left a DLL named like a
// system one. Windows only ever takes Known DLLs (kernel32, user32, ole32, ...) from System32 by
// itself, so those are the only static imports; every other system DLL (WinHTTP, URL monikers,
// WinINet, Windows Installer, dbghelp, SetupAPI, crypt32, IP helper, comctl32, version) comes
// through here.
#pragma once

#include <windows.h>

namespace sysenv {

// Limits every later LoadLibrary of the process, including those that system DLLs make on their
// own, to System32. Called first thing at start-up. Where the system lacks SetDefaultDllDirectories
// (Vista and 7 without the 2011 loader update), it can only take the current folder out of the
// search; loadSystemLibrary still names System32 by full path there.
void restrictDllSearchToSystem32();

// The module of a system DLL loaded from System32, or null. Never freed: a caller may keep the
// functions it yields for the rest of the run.
HMODULE loadSystemLibrary(const wchar_t* dllName);

// A function of a System32 DLL, typed: `auto send = systemFunction<decltype(&WinHttpSendRequest)>(
// L"winhttp.dll", "WinHttpSendRequest");` Null when the DLL or the function is missing.
template <typename FunctionPointer>
FunctionPointer systemFunction(const wchar_t* dllName, const char* functionName) {
  HMODULE module = loadSystemLibrary(dllName);
  if (module == nullptr) return nullptr;
  return reinterpret_cast<FunctionPointer>(reinterpret_cast<void*>(::GetProcAddress(module, functionName)));
}

}  // namespace sysenv
