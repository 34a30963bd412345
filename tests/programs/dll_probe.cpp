// Loads one DLL by bare name the way the stub would, so a test can plant a DLL beside this program
// and see whether it was taken. Usage: dll_probe (plain | system | restricted) NAME
// Exit code: 0 loaded, 1 not loaded, 2 usage.
#include <windows.h>

#include <string>

#include "sysenv/system_dll_win.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const std::wstring mode = argv[1];
  HMODULE module = nullptr;
  if (mode == L"plain") {
    module = LoadLibraryW(argv[2]);
  } else if (mode == L"system") {
    module = sysenv::loadSystemLibrary(argv[2]);
  } else if (mode == L"restricted") {
    sysenv::restrictDllSearchToSystem32();
    module = LoadLibraryW(argv[2]);
  } else {
    return 2;
  }
  return module != nullptr ? 0 : 1;
}
