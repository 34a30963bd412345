// Win32 code. The registered default browser's key name.
#include <windows.h>

#include "sysenv/environment_win.h"
#include "sysenv/unique_handle_win.h"

namespace sysenv {

std::wstring queryDefaultBrowser() {
  // The user's key wins whenever it exists, even when its value cannot be read; the machine's is
  // only a stand-in for a user who has none.
  UniqueRegistryKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet", 0, KEY_READ, key.put()) !=
          ERROR_SUCCESS &&
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients\\StartMenuInternet", 0, KEY_READ, key.put()) !=
          ERROR_SUCCESS) {
    return L"Other";
  }

  // 520 bytes are offered to the read; the extra zeroed character after them ends the text even
  // when a value fills all 520 bytes without a terminator of its own. The value's type plays no part.
  constexpr DWORD kValueBytes = 520;
  wchar_t buffer[kValueBytes / sizeof(wchar_t) + 1] = {};
  DWORD size = kValueBytes;
  const LSTATUS read =
      ::RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  const LSTATUS close = ::RegCloseKey(key.release());
  if (read != ERROR_SUCCESS || close != ERROR_SUCCESS) return L"Other";
  return buffer;
}

}  // namespace sysenv
