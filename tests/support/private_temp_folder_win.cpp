// Win32 code.
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

ScopedTempVariables::ScopedTempVariables(const std::wstring& folder)
    : oldTmp_(environmentValue(L"TMP")), oldTemp_(environmentValue(L"TEMP")) {
  set(folder);
}

ScopedTempVariables::~ScopedTempVariables() {
  restore(L"TMP", oldTmp_);
  restore(L"TEMP", oldTemp_);
}

void ScopedTempVariables::set(const std::wstring& folder) {
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  SetEnvironmentVariableW(L"TEMP", folder.c_str());
}

}  // namespace testsupport
