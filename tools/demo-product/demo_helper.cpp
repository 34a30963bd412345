// What the demo (scripts/demo) asks of Windows from outside the stub, printed on standard output:
//   demo_helper run    runs the command line in the variable SORVANE_DEMO_COMMAND (taken from there
//                      verbatim: Wine would requote arguments that hold quotes), waits for it and
//                      prints "exit code: <decimal>" (all 32 bits, which Wine's own exit status cuts
//                      to 8); exits 0, or 1 when it could not run
//   demo_helper product  prints Windows Installer's view of the demo product:
//                        "installed, version <VersionString>" or "not installed"
#include <windows.h>

#include <msi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "sysenv/unique_handle_win.h"

namespace {

// The product code of the demo product's package (tools/demo-product/SorvanePro.wxs).
constexpr wchar_t kProductCode[] = L"{3C7E52A1-90B4-4F6D-8E21-5AD0C47B19E3}";

int run() {
  std::wstring commandLine(32768, L'\0');
  commandLine.resize(GetEnvironmentVariableW(L"SORVANE_DEMO_COMMAND", commandLine.data(),
                                             static_cast<DWORD>(commandLine.size())));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (commandLine.empty() || !CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                             nullptr, &startup, &process)) {
    std::printf("cannot run it: error %lu\n", GetLastError());
    return 1;
  }
  sysenv::UniqueKernelHandle processHandle(process.hProcess);
  sysenv::UniqueKernelHandle threadHandle(process.hThread);
  DWORD exitCode = 0;
  WaitForSingleObject(processHandle.get(), INFINITE);
  GetExitCodeProcess(processHandle.get(), &exitCode);
  std::printf("exit code: %lu\n", exitCode);
  return 0;
}

int product() {
  if (MsiQueryProductStateW(kProductCode) != INSTALLSTATE_DEFAULT) {
    std::printf("not installed\n");
    return 0;
  }
  wchar_t version[64] = L"";
  DWORD length = 64;
  MsiGetProductInfoW(kProductCode, INSTALLPROPERTY_VERSIONSTRING, version, &length);
  std::printf("installed, version %ls\n", version);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"run") == 0) return run();
  if (argc == 2 && std::wcscmp(argv[1], L"product") == 0) return product();
  std::fprintf(stderr, "usage: demo_helper run | demo_helper product\n");
  return 2;
}
