// Win32 code.
#include "sorvane/sorvane_external_win.h"

#include <wininet.h>

#include "downloadmanagercore/command_rules.h"
#include "downloadmanagercore/download_rules.h"
#include "payload/trust_slot_win.h"
#include "sysenv/environment_win.h"
#include "sysenv/system_dll_win.h"

namespace sorvane {

SorvaneExternal::SorvaneExternal(app::InstallProperties* record, downloadmanagercore::Analytics* analytics,
                                 app::Logger* logger, downloadmanagercore::WorkFolderMaker makeWorkFolder)
    : HtmlExternal(record, analytics, logger, makeWorkFolder) {
  setProperty(L"osVersion", sysenv::queryOsVersion());
  setProperty(L"arch", sysenv::queryArchitecture());
  setProperty(L"highContrast", sysenv::queryHighContrast() ? L"1" : L"0");
  ReportProgress(0, 1);
  // The release's pins come from the signed part of the program, never from its payload.
  if (const std::optional<payload::TrustSlot> slot = payload::runningProgramTrustSlot()) {
    if (slot->packageSha256) pinPackageSha256(*slot->packageSha256);
    pinInstallerSigner(slot->packageSigner);
    pinInstallerSignerKey(slot->packageSignerKey);
    if (slot->manifestKey) requirePackageManifest({*slot->manifestKey, slot->versionFloor});
  }
}

UINT SorvaneExternal::GetMethodTable(const htmlui::MethodEntry** table) {
  // Row i has DISPID i + 1: the same handlers as the download manager's table, with "extract" in
  // fourth place and without restoreWindow and retryMessageBox.
  static const htmlui::MethodEntry kMethodTable[] = {
      HTMLUI_METHOD(SorvaneExternal, setWindowSize),      HTMLUI_METHOD(SorvaneExternal, closeWindow),
      HTMLUI_METHOD(SorvaneExternal, download),           HTMLUI_METHOD(SorvaneExternal, extract),
      HTMLUI_METHOD(SorvaneExternal, install),            HTMLUI_METHOD(SorvaneExternal, getProperty),
      HTMLUI_METHOD(SorvaneExternal, setChannel),         HTMLUI_METHOD(SorvaneExternal, setInstallStatus),
      HTMLUI_METHOD(SorvaneExternal, startInstallProgram), HTMLUI_METHOD(SorvaneExternal, hideWindow),
      HTMLUI_METHOD(SorvaneExternal, dragWindow),         HTMLUI_METHOD(SorvaneExternal, messageBox),
      HTMLUI_METHOD(SorvaneExternal, disableCloseWindow), HTMLUI_METHOD(SorvaneExternal, openPage),
      HTMLUI_METHOD(SorvaneExternal, manageShortcut),     HTMLUI_METHOD(SorvaneExternal, proxySignIn),
  };
  return htmlui::exposeMethodTable(kMethodTable, table);
}

void SorvaneExternal::SetHostWindow(HWND window) {
  HtmlExternal::SetHostWindow(window);
  if (window == nullptr) return;
  SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) | WS_EX_LAYERED);
  SetLayeredWindowAttributes(window, kTransparentColourKey, 0, LWA_COLORKEY);
}

std::int32_t SorvaneExternal::DownloadPackage(const std::wstring& url) {
  const std::int32_t result = HtmlExternal::DownloadPackage(url);
  if (!downloadmanagercore::needsConnectionCheck(result)) return result;
  // WinINet is not a Known DLL. Without it nothing can be said about the network: the result stands.
  static const auto checkConnection =
      sysenv::systemFunction<decltype(&InternetCheckConnectionW)>(L"wininet.dll", "InternetCheckConnectionW");
  if (checkConnection == nullptr) return result;
  const bool connected = checkConnection(url.c_str(), FLAG_ICC_FORCE_CONNECTION, 0) != FALSE;
  if (connected || serverNameFound()) return downloadmanagercore::applyConnectionCheck(result, connected);
  // No attempt found the server's name. On a machine that has a network at all, the name is what is
  // wrong (or the name service); without one, it is the network.
  static const auto connectedState =
      sysenv::systemFunction<decltype(&InternetGetConnectedState)>(L"wininet.dll", "InternetGetConnectedState");
  DWORD how = 0;
  const bool onANetwork = connectedState != nullptr && connectedState(&how, 0) != FALSE;
  if (onANetwork) logger()->error(L"QJDownload: the server's name in %s was not found", url.c_str());
  return downloadmanagercore::applyConnectionCheck(result, false, onANetwork);
}

bool SorvaneExternal::GetInstalledStartProgram(std::wstring&) { return true; }

}  // namespace sorvane
