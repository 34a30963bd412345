// Win32 code. The installation step of the product's script object: the unpacked setup.exe runs as an
// independent child with a verbose Windows Installer log, and its exit code becomes the page's
// result.
#include <windows.h>

#include <msi.h>
#include <shlwapi.h>

#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "sorvane/file_tree_win.h"
#include "sorvane/installer_rules.h"
#include "sorvane/installer_signature_win.h"
#include "sorvane/sorvane_external_win.h"
#include "sysenv/environment_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/system_dll_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/analytics_win.h"

namespace sorvane {

namespace {

// The stage of the error pair when the installer cannot be started.
constexpr std::int32_t kInstallerStartStage = 6;

std::wstring pathIn(const std::wstring& folder, const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  // A path that does not fit stays empty, and the installer then fails to start.
  if (PathCombineW(path, folder.c_str(), name) == nullptr) path[0] = L'\0';
  return path;
}

// The version Windows Installer has on record for this machine's product; empty when it has none.
// msi.dll is not a Known DLL, so it comes from System32.
std::u16string installedProductVersion() {
  static const auto productInfo =
      sysenv::systemFunction<decltype(&MsiGetProductInfoW)>(L"msi.dll", "MsiGetProductInfoW");
  if (productInfo == nullptr) return {};
  const std::wstring productCode = sysenv::toWide(productCodeFor(sysenv::toU16(sysenv::queryArchitecture())));
  wchar_t version[256] = {};
  DWORD length = 256;
  if (productInfo(productCode.c_str(), INSTALLPROPERTY_VERSIONSTRING, version, &length) != ERROR_SUCCESS) return {};
  return sysenv::toU16(version);
}

// The installer's environment: this process's, with TEMP and TMP naming a new folder inside the
// work folder, which only administrators can change when the run is elevated (it takes the work
// folder's protected descriptor) and which goes with the work folder at the end of the run. Empty
// when no such folder can be made: the installer then does not run in a folder others can change.
std::u16string installerEnvironmentBlock(const std::wstring& workFolder) {
  std::wstring folder = workFolder;
  if (!sysenv::createUniqueSubfolder(folder)) return {};
  const LPWCH strings = GetEnvironmentStringsW();
  if (strings == nullptr) return {};
  const wchar_t* end = strings;
  while (*end != L'\0') end += std::wcslen(end) + 1;
  const std::u16string block = sysenv::toU16(std::wstring(strings, static_cast<std::size_t>(end + 1 - strings)));
  FreeEnvironmentStringsW(strings);
  // Without the trailing backslash, as Windows itself sets them.
  return installerEnvironment(block, sysenv::toU16(folder.substr(0, folder.size() - 1)));
}

}  // namespace

std::optional<std::uint32_t> SorvaneExternal::installerExitCode() const {
  const std::int64_t code = installerExitCode_;
  if (code < 0) return std::nullopt;
  return static_cast<std::uint32_t>(code);
}

bool SorvaneExternal::acceptInstaller(const HeldInstaller& installer) {
  const InstallerSignature signature = installer.verify();
  std::u16string line;
  const std::uint32_t code = downloadmanagercore::installerRefusal(
      installerPins_, {signature.trustResult, signature.signer, signature.chainKeys}, &line);
  if (code == 0) return true;
  logger()->error(L"%s", sysenv::toWide(line).c_str());
  recordTrustFailure(downloadmanagercore::kInstallerSignatureStage, downloadmanagercore::reportCode(code));
  return false;
}

std::int32_t SorvaneExternal::InstallPackage(const std::wstring&, const std::wstring& arguments) {
  // Without a work folder there is no installer of ours to run, and a bare name would be searched
  // for where anyone may have put one.
  if (workFolder().empty()) {
    logger()->error(L"QJInstall: no work folder");
    return kInstallFailed;
  }
  // The extraction has already made sure the installer is there. Should it be gone, the names stay
  // in the work folder: a bare "setup.exe" would be looked for beside this program and in its current
  // folder first, where anyone could have put one to run with our rights.
  std::wstring installerFolder = workFolder();
  FindFileInTree(workFolder(), L"setup.exe", installerFolder);
  const std::wstring installerPath = pathIn(installerFolder, L"setup.exe");
  const std::wstring logPath = pathIn(installerFolder, L"log.txt");
  const std::wstring secondLogPath = pathIn(installerFolder, L"log.txt.xml");

  const std::wstring commandLine = sysenv::toWide(
      installerCommandLine(sysenv::toU16(installerPath), sysenv::toU16(arguments), sysenv::toU16(logPath)));
  logger()->debug(L"Install : cmd line: %s", commandLine.c_str());
  // CreateProcessW may write into its command line.
  std::vector<wchar_t> writableCommandLine(commandLine.begin(), commandLine.end());
  writableCommandLine.push_back(L'\0');

  // Held from the check until the process exists: nothing can change the file in between.
  std::optional<HeldInstaller> held;
  if (installerPins_.any()) {
    held.emplace(installerPath);
    if (!acceptInstaller(*held)) return kInstallerNotStarted;
  }

  const std::u16string environment = installerEnvironmentBlock(workFolder());
  if (environment.empty()) {
    logger()->error(L"QJInstall: no temporary folder for the installer in the work folder");
    recordError(kInstallerStartStage, static_cast<std::int32_t>(ERROR_CANNOT_MAKE));
    return kInstallerNotStarted;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  logger()->debug(L"Install start");
  if (!CreateProcessW(nullptr, writableCommandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(environment.c_str())), workFolder().c_str(), &startup, &started)) {
    const DWORD error = GetLastError();
    recordError(kInstallerStartStage, static_cast<std::int32_t>(error));
    logger()->debug(L"Create process failed, setup cmd line: %s", commandLine.c_str());
    return kInstallerNotStarted;
  }
  held.reset();
  const sysenv::UniqueKernelHandle process(started.hProcess);
  const sysenv::UniqueKernelHandle thread(started.hThread);

  // The logs need not exist yet: the error report takes them as they are at the end of the run.
  if (analytics() != nullptr) {
    analytics()->addLogFile(logPath);
    analytics()->addLogFile(secondLogPath);
  }
  WaitForInputIdle(process.get(), INFINITE);
  // The installer's own window takes over; the download manager's stays hidden from now on.
  if (hostWindow() != nullptr) ShowWindow(hostWindow(), SW_HIDE);
  WaitForSingleObject(process.get(), INFINITE);
  logger()->debug(L"Install finished");
  DWORD exitCode = 0;
  GetExitCodeProcess(process.get(), &exitCode);
  installerExitCode_ = exitCode;
  // The format's own line break leaves an empty line after it in the log.
  logger()->debug(L"Install error: %d\n", static_cast<int>(exitCode));

  const std::int32_t result = installResultFromExitCode(exitCode);
  if (result == 0) {
    // Read by the UI thread only after the window has closed.
    record()->productVersion = installedProductVersion();
    setProperty(L"installProgress", L"100");
  }
  return result;
}

}  // namespace sorvane
