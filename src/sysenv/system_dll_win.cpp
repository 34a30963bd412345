// Win32 code.
#include "sysenv/system_dll_win.h"

#include <string>

namespace sysenv {

namespace {

// Not in the Vista headers; present from Windows 8 and on Vista/7 with the 2011 loader update.
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

}  // namespace

void restrictDllSearchToSystem32() {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(kSearchSystem32)) return;
  ::SetDllDirectoryW(L"");
}

HMODULE loadSystemLibrary(const wchar_t* dllName) {
  HMODULE module = ::LoadLibraryExW(dllName, nullptr, kSearchSystem32);
  if (module != nullptr) return module;
  // Without the loader update the flag is refused (ERROR_INVALID_PARAMETER): name the file by its
  // full System32 path instead, and let its own dependencies be found from there.
  wchar_t system[MAX_PATH];
  UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(system, length);
  path += L'\\';
  path += dllName;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace sysenv
