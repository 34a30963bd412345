// Win32 test code.
#include "support/private_temp_folder_win.h"

#include <windows.h>

namespace testsupport {

namespace {

std::optional<std::wstring> environmentValue(const wchar_t* name) {
  wchar_t value[32768];
  const DWORD length = GetEnvironmentVariableW(name, value, 32768);
  if (length == 0 || length >= 32768) return std::nullopt;
  return std::wstring(value, length);
}

void restore(const wchar_t* name, const std::optional<std::wstring>& value) {
  SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
}

}  // namespace

ScopedPrivateTempFolder::ScopedPrivateTempFolder()
    : oldTmp_(environmentValue(L"TMP")), oldTemp_(environmentValue(L"TEMP")) {
  SetEnvironmentVariableW(L"TMP", folder_.path().c_str());
  SetEnvironmentVariableW(L"TEMP", folder_.path().c_str());
}

ScopedPrivateTempFolder::~ScopedPrivateTempFolder() {
  restore(L"TMP", oldTmp_);
  restore(L"TEMP", oldTemp_);
}

}  // namespace testsupport
