// Win32 code. DLLs planted beside a program, as anyone can put them into a browser's Downloads
// folder: each is tests/programs/planted_dll.c under a system DLL's name and leaves the marker file
// "<its path>.loaded" when something loads it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/wine_test_support_win.h"

namespace testsupport {

// Every system DLL that the stub may load besides the Known DLLs.
extern const std::vector<std::wstring> kPlantableDlls;

// Plants one under each of those names in `folder`, but for those in `leftOut`; false when a copy
// failed.
bool plantDlls(const std::wstring& folder, const std::vector<std::wstring>& leftOut = {});
// The names of the planted DLLs in `folder` that were loaded, in the order of kPlantableDlls.
std::vector<std::wstring> plantedDllsLoaded(const std::wstring& folder);

// Copies `program` as `name` into `folder` (which holds planted DLLs) and runs it from there with
// `arguments`, TMP and TEMP set to `tempFolder`, while Wine looks beside a program of that name first
// for those DLLs, as Windows does for DLLs that are not Known DLLs.
ChildResult runAmongPlantedDlls(const std::wstring& folder, const std::wstring& program, const std::wstring& name,
                                const std::wstring& arguments, const std::wstring& tempFolder,
                                DWORD timeoutMs = 180000);

}  // namespace testsupport
