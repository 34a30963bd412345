// Imports one function from each Known DLL that the stub imports, and runs no code of its own.
// Whatever a planted DLL beside it shows as loaded was loaded by the system's loader for those
// imports, not by the stub's code: under Wine, its own user32 imports version.dll, for example.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

int wmain() {
  static void* const volatile imports[] = {
      reinterpret_cast<void*>(&MessageBoxW),     reinterpret_cast<void*>(&CreateSolidBrush),
      reinterpret_cast<void*>(&RegOpenKeyExW),   reinterpret_cast<void*>(&CoInitialize),
      reinterpret_cast<void*>(&SysAllocString),  reinterpret_cast<void*>(&SHGetFolderPathW),
      reinterpret_cast<void*>(&PathCombineW),    reinterpret_cast<void*>(&GetTickCount),
  };
  return imports[0] != nullptr ? 0 : 1;
}
