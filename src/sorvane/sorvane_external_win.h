// Win32 code. The script object that the program creates and the page reaches as `window.external`:
// the download manager's commands for Sorvane Pro, with the operating-system facts the page checks,
// the extraction step, the network check after a failed download, and a window shaped by a colour
// key. It is also the zip reader's progress sink.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "downloadmanagercore/html_external_win.h"
#include "downloadmanagercore/package_trust.h"
#include "zip/zip_reporter.h"

namespace sorvane {

class HeldInstaller;

// The page's background colour #31669b as a COLORREF (0x00BBGGRR): pixels painted in exactly this
// colour are transparent and let the mouse through.
constexpr COLORREF kTransparentColourKey = 0x009B6631;

class SorvaneExternal : public downloadmanagercore::HtmlExternal, public zip::ZipReporter {
 public:
  // Publishes "osVersion", "arch", "extractProgress" ("0") and "highContrast" at once: "1" while the
  // user's high-contrast setting is on, else "0", read once, before the page is shown. The page
  // can only read it (getProperty); nothing it does changes it.
  SorvaneExternal(app::InstallProperties* record, downloadmanagercore::Analytics* analytics, app::Logger* logger,
                  downloadmanagercore::WorkFolderMaker makeWorkFolder = nullptr);

  // The close guard as for any script object, and the colour key on every window handed in (also the
  // same one again: the layered style may have been lost in between).
  void SetHostWindow(HWND window) override;
  // The 15-row product table: "extract" is DISPID 4 and "install" 5; no restoreWindow or
  // retryMessageBox.
  UINT GetMethodTable(const htmlui::MethodEntry** table) override;
  // The inherited download; "object not found" and "transient" become "no network" (5) when the
  // machine cannot reach the package's server at all.
  std::int32_t DownloadPackage(const std::wstring& url) override;
  // Runs the unpacked setup.exe with a verbose installer log and waits for it, with the window hidden
  // once the installer takes input; the page's result code for its exit code. After a successful
  // installation the record gets the product version that Windows Installer reports.
  // With a signer pinned, a setup.exe whose Authenticode signature does not verify, whose signer's
  // chain carries no pinned key, or whose leaf signer carries another name, is never started: 3,
  // with the check's result recorded on its own stage.
  std::int32_t InstallPackage(const std::wstring& packagePath, const std::wstring& arguments) override;
  // The subject name that setup.exe's signer must carry; empty: any installer runs. Set before the
  // first installation; the release's pin comes from the signed part of the program.
  void pinInstallerSigner(const std::u16string& name) { installerPins_.signer = name; }
  // The SHA-256 of the SubjectPublicKeyInfo that setup.exe's signer or a certificate of its chain
  // must carry, checked before the name; nothing: no key pinned.
  void pinInstallerSignerKey(const std::optional<downloadmanagercore::Sha256Digest>& key) {
    installerPins_.signerKey = key;
  }
  // True without touching `path`: the product has no program to start after the installation.
  bool GetInstalledStartProgram(std::wstring& path) override;

  // Extraction worker only: unpacks the package into the work folder and checks that it brought a
  // setup.exe. 0 done, 1 failed, 2 failed for lack of disk space, 3 no setup.exe; every failure is
  // recorded in the error pair.
  std::int32_t ExtractPackage(const std::wstring& packagePath);

  // zip::ZipReporter, on the extraction worker.
  void ReportProgress(std::uint32_t done, std::uint32_t total) override;
  void ReportError(std::uint32_t code) override;
  // The run is ending: the unpacking stops rather than write into a folder that is about to go.
  bool StopRequested() override { return htmlui::scriptJobsStopping(); }

  std::uint32_t extractError() const { return extractError_; }
  // The product installer's own exit code from the last InstallPackage that started it; nothing
  // before. Kept beside the page's result, which folds 3010 (restart required) into success, for the
  // quiet run's exit code. Written by the install worker, read after its callback.
  std::optional<std::uint32_t> installerExitCode() const;

 protected:
  HRESULT extract(WORD flags, DISPPARAMS* params, VARIANT* result);

 private:
  class ExtractJob;
  // True when the held installer is signed by the pinned signer; otherwise logs and records why not.
  bool acceptInstaller(const HeldInstaller& installer);
  static DWORD WINAPI ExtractThreadFunc(LPVOID job);

  // The system error of the current extraction's last short read or write; only its worker uses it.
  std::uint32_t extractError_ = 0;
  // One extraction at a time: two would write the same files.
  std::atomic<bool> extractRunning_{false};
  downloadmanagercore::InstallerPins installerPins_;
  // -1 until an installer has ended.
  std::atomic<std::int64_t> installerExitCode_{-1};
};

}  // namespace sorvane
