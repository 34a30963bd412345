// Win32 code.
#include "support/private_temp_folder_win.h"

#include <windows.h>

#include <algorithm>

#include "sysenv/scratch_folder_win.h"
#include "sysenv/scratch_rules.h"
#include "sysenv/wide_text_win.h"

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
  // An elevated process would make its folders in the Windows temporary folder whatever TMP says.
  sysenv::setScratchElevationQuery([] { return false; });
}

ScopedTempVariables::~ScopedTempVariables() {
  sysenv::setScratchElevationQuery(nullptr);
  restore(L"TMP", oldTmp_);
  restore(L"TEMP", oldTemp_);
}

void ScopedTempVariables::set(const std::wstring& folder) {
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  SetEnvironmentVariableW(L"TEMP", folder.c_str());
}

std::vector<std::wstring> windowsScratchFolders() {
  const std::wstring root = sysenv::windowsScratchRoot();
  std::vector<std::wstring> folders;
  if (root.empty()) return folders;
  for (const std::wstring& name : listFolder(root)) {
    if (sysenv::isScratchFolderName(sysenv::toU16(name))) folders.push_back(root + name);
  }
  return folders;
}

std::vector<std::wstring> newWindowsScratchFolders(const std::vector<std::wstring>& before) {
  std::vector<std::wstring> left;
  for (const std::wstring& folder : windowsScratchFolders()) {
    if (std::find(before.begin(), before.end(), folder) != before.end()) continue;
    left.push_back(folder + L"/");
    for (const std::wstring& inner : listFolder(folder)) left.push_back(folder + L"/" + inner);
  }
  return left;
}

std::vector<std::wstring> ScopedPrivateTempFolder::entries() const {
  std::vector<std::wstring> names = listFolder(folder_.path());
  for (std::wstring& folder : newWindowsScratchFolders(windowsBefore_)) names.push_back(std::move(folder));
  return names;
}

}  // namespace testsupport
