// Win32 code.
#include "app/string_resources_win.h"

namespace app {

std::wstring loadResourceString(UINT id, WORD languageId, HMODULE module) {
  // String tables are stored in blocks of 16 entries; block n + 1 holds ids 16n to 16n + 15.
  HRSRC resource = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), languageId);
  if (resource == nullptr) return {};
  HGLOBAL loaded = ::LoadResource(module, resource);
  if (loaded == nullptr) return {};
  const auto* entry = static_cast<const WCHAR*>(::LockResource(loaded));
  if (entry == nullptr) return {};
  const WCHAR* end = entry + ::SizeofResource(module, resource) / sizeof(WCHAR);

  // Each entry is a 16-bit length followed by that many UTF-16 units, without a terminator.
  for (UINT skip = id % 16; skip > 0; --skip) {
    if (entry >= end) return {};
    entry += 1 + *entry;
  }
  if (entry >= end || entry + 1 + *entry > end) return {};
  return std::wstring(entry + 1, *entry);
}

}  // namespace app
