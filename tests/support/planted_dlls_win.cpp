// Win32 code.
#include "support/planted_dlls_win.h"

#include <algorithm>

namespace testsupport {

const std::vector<std::wstring> kPlantableDlls = {
    L"comctl32.dll", L"urlmon.dll",  L"wininet.dll", L"winhttp.dll", L"msi.dll",     L"dbghelp.dll",
    L"setupapi.dll", L"crypt32.dll", L"iphlpapi.dll", L"version.dll", L"uxtheme.dll", L"dwmapi.dll"};

bool plantDlls(const std::wstring& folder, const std::vector<std::wstring>& leftOut) {
  const std::wstring planted = testBinFolder() + L"\\planted_dll.dll";
  for (const std::wstring& dll : kPlantableDlls) {
    if (std::find(leftOut.begin(), leftOut.end(), dll) != leftOut.end()) continue;
    if (!CopyFileW(planted.c_str(), (folder + L"\\" + dll).c_str(), FALSE)) return false;
  }
  return true;
}

std::vector<std::wstring> plantedDllsLoaded(const std::wstring& folder) {
  std::vector<std::wstring> loaded;
  for (const std::wstring& dll : kPlantableDlls) {
    if (pathExists(folder + L"\\" + dll + L".loaded")) loaded.push_back(dll);
  }
  return loaded;
}

ChildResult runAmongPlantedDlls(const std::wstring& folder, const std::wstring& program, const std::wstring& name,
                                const std::wstring& arguments, const std::wstring& tempFolder, DWORD timeoutMs) {
  const std::wstring copy = folder + L"\\" + name;
  if (!CopyFileW(program.c_str(), copy.c_str(), FALSE)) return {};
  ScopedNativeDllPreference nativeFirst{name, kPlantableDlls};
  return runChild(quoted(copy) + (arguments.empty() ? L"" : L" " + arguments),
                  {{L"TMP", tempFolder}, {L"TEMP", tempFolder}}, timeoutMs);
}

}  // namespace testsupport
