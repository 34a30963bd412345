// Win32 code. The download manager's script object: the page's commands (window control, message
// boxes, the shortcut, the browser hand-off, the analytics fields, the properties it polls) and the
// two long jobs, download and install, which run on worker threads and answer through a page
// function. The product's script object derives from it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "downloadmanagercore/command_rules.h"
#include "downloadmanagercore/package_manifest.h"
#include "downloadmanagercore/package_trust.h"
#include "downloadmanagercore/proxy_sign_in_win.h"
#include "htmlui/mshtml_external_win.h"
#include "htmlui/script_callback_win.h"
#include "sysenv/critical_section_win.h"

namespace downloadmanagercore {

class Analytics;

// Makes a new folder and names it in `folder` (ending in a backslash); false when none was made.
using WorkFolderMaker = bool (*)(std::wstring& folder);

class HtmlExternal : public htmlui::MSHTMLExternal {
 public:
  // The three collaborators belong to the start-up sequence and outlive the object. Makes the work
  // folder (with `makeWorkFolder`; null: sysenv::createScratchFolder); when none can be made there is
  // none, and download, extract and install fail. Sets "downloadTotal" "1", "downloadCurrent" "0"
  // and "installProgress" "0".
  HtmlExternal(app::InstallProperties* record, Analytics* analytics, app::Logger* logger,
               WorkFolderMaker makeWorkFolder = nullptr);
  // Deletes the work folder with everything in it (package, extracted files, installer logs); only
  // a folder that the constructor made.
  ~HtmlExternal() override;

  // Stores the window and moves the close guard (a subclass) from the old window to the new one.
  void SetHostWindow(HWND window) override;
  // The first document in a window that is still 0 x 0 clears the error pair and sizes the window
  // to 400 x 200.
  void OnDocumentComplete(htmlui::MSHTMLClient* site) override;
  void OnNavigationRefused(const std::wstring& url) override;
  // The 16-row table of this class.
  UINT GetMethodTable(const htmlui::MethodEntry** table) override;
  // Sizes the window for a client area of width x height page pixels and centres it; nothing when
  // the resulting window size equals the last one applied.
  virtual void ResizeWindow(int width, int height);
  // Download worker only: fetches the URL into the work folder; the page's result code.
  virtual std::int32_t DownloadPackage(const std::wstring& url);
  // Install worker only. Here: 2, nothing done; the product object runs the installer.
  virtual std::int32_t InstallPackage(const std::wstring& packagePath, const std::wstring& arguments);
  // Here: false. Fills the program that startInstallProgram launches.
  virtual bool GetInstalledStartProgram(std::wstring& path);

  // Logs the HRESULT and maps it to the page's result code; asks the work folder's volume for its
  // free space only for INET_E_DOWNLOAD_FAILURE.
  std::int32_t TransferDownloadError(HRESULT hr);

  // The property map and the error pair, under the lock. Numbers are stored as decimal text.
  void setProperty(const std::wstring& key, const std::wstring& value);
  void setNumericProperty(const std::wstring& key, std::int32_t value);
  // The value, creating the entry empty when it is absent (as getProperty does).
  std::wstring property(const std::wstring& key);
  void recordError(std::int32_t wrapperError, std::int32_t msiError);
  // A package or installer refused as not the release's own: its stage and code stay in the error
  // pair for the final report, whatever the job that found it records afterwards.
  void recordTrustFailure(std::int32_t stage, std::int32_t code);

  // The SHA-256 that a downloaded package must have; without a pin any package is taken. Set before
  // the first download; the release's pin comes from the signed part of the program.
  void pinPackageSha256(const Sha256Digest& digest) { packageSha256Pin_ = digest; }
  // With a manifest policy, DownloadPackage fetches the package's signed manifest first (the package
  // URL with ".manifest" appended), and takes the package's size and SHA-256 from it once its
  // signature, signer key, expiry and version are accepted. Set before the first download; the
  // release's policy comes from the signed part of the program.
  void requirePackageManifest(const ManifestPolicy& policy) { manifestPolicy_ = policy; }

  // Ends in a backslash; empty when no temporary folder could be found.
  const std::wstring& workFolder() const { return workFolder_; }
  // Deletes the work folder with everything in it, once (the destructor's deletion then does
  // nothing). For the tear-down, when a worker that still holds the object outlived the wait for it:
  // the process must not end with the folder standing.
  void deleteWorkFolder();
  // Set by DownloadPackage on the download worker; read after its callback.
  const std::wstring& downloadPath() const { return downloadPath_; }
  // Whether an attempt of the last download got as far as connecting (so the server's name, or the
  // proxy's, was found). Set and read on the download worker.
  bool serverNameFound() const { return serverNameFound_; }
  bool closeDisabled() const { return closeDisabled_; }

  // Quiet mode, for a run without any window (/quiet): messageBox and retryMessageBox only log the
  // text (retryMessageBox then answers Cancel), openPage and startInstallProgram only log what they
  // would open, and closeWindow sets quietCloseRequested() for the quiet run's loop. UI thread only,
  // before the page's scripts run.
  void enableQuietMode() { quietMode_ = true; }
  bool quietMode() const { return quietMode_; }
  bool quietCloseRequested() const { return quietCloseRequested_; }

 protected:
  app::InstallProperties* record() const { return record_; }
  Analytics* analytics() const { return analytics_; }
  app::Logger* logger() const { return logger_; }

  // Command handlers; both method tables name them.
  HRESULT setWindowSize(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT closeWindow(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT download(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT install(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT getProperty(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT setChannel(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT setInstallStatus(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT startInstallProgram(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT hideWindow(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT dragWindow(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT messageBox(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT disableCloseWindow(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT restoreWindow(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT openPage(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT retryMessageBox(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT manageShortcut(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT proxySignIn(WORD flags, DISPPARAMS* params, VARIANT* result);

  // The three checks every command makes before anything else (call flags, argument counts, exact
  // argument types): S_OK, or the HRESULT the script receives. For the product's own commands too.
  static HRESULT checkCall(const CommandSignature& signature, WORD flags, const DISPPARAMS* params);
  // Starts a marshalled job's worker; logs "<command>: CreateThread failed with %x" on failure.
  HRESULT startJob(std::unique_ptr<htmlui::ScriptJob> job, LPTHREAD_START_ROUTINE routine, const wchar_t* command);

 private:
  friend struct HtmlExternalTestAccess;
  // The parameter blocks of the two jobs; they reach the private state the workers write.
  class DownloadJob;
  class InstallJob;

  // A download's job records its own failure unless a refused package has already said more.
  void recordJobError(std::int32_t wrapperError, std::int32_t msiError);
  // Logs and records a complete package whose SHA-256 is not the pinned one (nothing when it could
  // not be computed).
  void refusePackage(const Sha256Digest& expected, const std::optional<Sha256Digest>& found);
  void logSecureConnectionRefusal(std::int32_t code, const std::wstring& url);
  // The credentials for a proxy that wants a sign-in for `url`: the page's, else those saved for
  // the proxy in Credential Manager; none when there are neither.
  std::optional<ProxyCredentials> proxyCredentialsFor(const std::wstring& url);
  // The ERROR line of a download that ends at the proxy's sign-in; never the password.
  void refuseProxySignIn(const std::wstring& url, const ProxyCredentials* tried, bool basicOffered);
  void refuseOversize(std::uint64_t sizeLimit);
  // One file through the attempts of the download engine: held to `pin` (hashed as written) and to
  // at most `sizeLimit` bytes, and, when `zipExpected`, refused unless it opens as a zip archive;
  // the page's result code.
  std::int32_t downloadFile(const std::wstring& url, const std::wstring& path, const std::optional<Sha256Digest>& pin,
                            std::uint64_t sizeLimit, bool zipExpected);
  // Downloads and checks the package's manifest (package_manifest_win.cpp): kDownloadSucceeded with
  // `manifest` filled, a transfer's own result, or kDownloadFailed for a refused manifest, logged and
  // recorded on kManifestStage.
  std::int32_t fetchPackageManifest(const std::wstring& packageUrl, PackageManifest* manifest);

  // Worker routines: the whole life of one job each.
  static DWORD WINAPI DownloadThreadFunc(LPVOID job);
  static DWORD WINAPI InstallThreadFunc(LPVOID job);
  // The subclass procedure of the host window: WM_CLOSE minimises while closing is disabled.
  static LRESULT CALLBACK closeGuardProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self);

  app::InstallProperties* record_;
  Analytics* analytics_;
  app::Logger* logger_;
  std::wstring startProgramPath_;
  std::wstring downloadPath_;
  std::wstring workFolder_;
  std::optional<Sha256Digest> packageSha256Pin_;
  std::optional<ManifestPolicy> manifestPolicy_;
  // What the page's sign-in form gave for the proxy, for this run only (under lock_).
  std::optional<ProxyCredentials> pageProxyCredentials_;
  bool serverNameFound_ = false;
  // Set once a package or installer has been refused; read by the jobs under the lock.
  bool trustFailureRecorded_ = false;
  bool closeDisabled_ = false;
  bool quietMode_ = false;
  bool quietCloseRequested_ = false;
  int lastWidth_ = 0;
  int lastHeight_ = 0;
  sysenv::CriticalSection lock_;
  // One job of each kind at a time: a second download would write the same file.
  std::atomic<bool> downloadRunning_{false};
  std::atomic<bool> installRunning_{false};
  std::atomic<bool> workFolderDeleted_{false};
  // How job threads are made; null means htmlui::startScriptJob's own. Tests make creation fail.
  htmlui::detail::ThreadCreator threadCreator_ = nullptr;
};

}  // namespace downloadmanagercore
