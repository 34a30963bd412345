// Win32 code. The page's commands, the download and install jobs they start, and what the script
// object does to its window: the close guard, the first document's size, DPI-aware resizing.
#include <windows.h>

#include <commctrl.h>
#include <oleauto.h>

#include <memory>
#include <string>
#include <utility>

#include "downloadmanagercore/command_job_win.h"
#include "downloadmanagercore/html_external_win.h"
#include "htmlui/host_window_win.h"
#include "sysenv/crash_injection_win.h"
#include "sysenv/page_input_rules.h"
#include "sysenv/shell_text.h"
#include "sysenv/shell_win.h"
#include "sysenv/system_dll_win.h"
#include "sysenv/wide_text_win.h"

namespace downloadmanagercore {

namespace {

constexpr CommandSignature kNoArguments = {kCallAsStatement, 0, {0, 0}};
constexpr CommandSignature kTextArgument = {kCallAsStatement, 1, {kVtBstr, 0}};
constexpr CommandSignature kTextForValue = {kCallForValue, 1, {kVtBstr, 0}};
constexpr CommandSignature kTwoNumbers = {kCallAsStatement, 2, {kVtI4, kVtI4}};
constexpr CommandSignature kTextAndCallback = {kCallAsStatement, 2, {kVtBstr, kVtDispatch}};
constexpr CommandSignature kTwoTexts = {kCallAsStatement, 2, {kVtBstr, kVtBstr}};
constexpr CommandSignature kNumber = {kCallAsStatement, 1, {kVtI4, 0}};
constexpr CommandSignature kFlag = {kCallAsStatement, 1, {kVtBool, 0}};
constexpr CommandSignature kTextAndFlag = {kCallAsStatement, 2, {kVtBstr, kVtBool}};

// Script argument `index` (0 is the first in the script): the engine passes them last first. Only
// after checkCall has accepted the call.
const VARIANT& argument(const DISPPARAMS* params, UINT index) { return params->rgvarg[params->cArgs - 1 - index]; }

// A BSTR's whole text, embedded NULs kept; a null BSTR is the empty string.
std::wstring text(const VARIANT& value) {
  return value.bstrVal == nullptr ? std::wstring() : std::wstring(value.bstrVal, SysStringLen(value.bstrVal));
}

// comctl32 is not a Known DLL: its subclass functions come from System32 at run time.
struct SubclassFunctions {
  decltype(&SetWindowSubclass) set;
  decltype(&RemoveWindowSubclass) remove;
  decltype(&DefSubclassProc) passOn;
};

const SubclassFunctions& subclassFunctions() {
  static const SubclassFunctions functions = {
      sysenv::systemFunction<decltype(&SetWindowSubclass)>(L"comctl32.dll", "SetWindowSubclass"),
      sysenv::systemFunction<decltype(&RemoveWindowSubclass)>(L"comctl32.dll", "RemoveWindowSubclass"),
      sysenv::systemFunction<decltype(&DefSubclassProc)>(L"comctl32.dll", "DefSubclassProc"),
  };
  return functions;
}

}  // namespace

class HtmlExternal::DownloadJob final : public CommandJob {
 public:
  DownloadJob(HtmlExternal* owner, RunningClaim claim, std::wstring url)
      : CommandJob(owner, owner->logger_, L"DownloadThreadFunc", std::move(claim)),
        owner_(owner),
        url_(std::move(url)) {}

 private:
  void run(IDispatch* callback) override {
    sysenv::injectedCrashPoint();
    // The virtual operation: the product object's version runs.
    const std::int32_t result = owner_->DownloadPackage(url_);
    // With several places to get the package from, the log says which one served it.
    if (result == 0) owner_->logger_->debug(L"QJDownload: complete from %s", url_.c_str());
    if (result != 0) {
      owner_->recordJobError(1, result);
      owner_->logger_->error(L"Download fail, download path : %s, download result : %d",
                             owner_->downloadPath_.c_str(), result);
    }
    callBack(callback, result);
  }

  HtmlExternal* owner_;
  std::wstring url_;
};

class HtmlExternal::InstallJob final : public CommandJob {
 public:
  InstallJob(HtmlExternal* owner, RunningClaim claim, std::wstring packagePath, std::wstring arguments)
      : CommandJob(owner, owner->logger_, L"InstallThreadFunc", std::move(claim)),
        owner_(owner),
        packagePath_(std::move(packagePath)),
        arguments_(std::move(arguments)) {}

 private:
  void run(IDispatch* callback) override {
    const std::int32_t result = owner_->InstallPackage(packagePath_, arguments_);
    if (result == 0) {
      // The installation stands; only the program to start afterwards is missing.
      if (!owner_->GetInstalledStartProgram(owner_->startProgramPath_)) {
        owner_->logger_->error(L"GetInstalledStartProgram failed");
        owner_->recordError(3, 0);
      }
    } else if (result != 2) {  // 2: the user cancelled, which is not an error of the run
      owner_->recordJobError(2, result);
    }
    callBack(callback, result);
  }

  HtmlExternal* owner_;
  std::wstring packagePath_;
  std::wstring arguments_;
};

DWORD WINAPI HtmlExternal::DownloadThreadFunc(LPVOID job) { return htmlui::runScriptJob(job); }

DWORD WINAPI HtmlExternal::InstallThreadFunc(LPVOID job) { return htmlui::runScriptJob(job); }

HRESULT HtmlExternal::checkCall(const CommandSignature& signature, WORD flags, const DISPPARAMS* params) {
  const UINT count = params != nullptr ? params->cArgs : 0;
  std::uint16_t types[2] = {};
  for (UINT i = 0; i < count && i < 2; ++i) types[i] = params->rgvarg[i].vt;
  switch (checkCommandCall(signature, flags, count, params != nullptr ? params->cNamedArgs : 0, types)) {
    case CallCheck::kAccepted:
      return S_OK;
    case CallCheck::kMemberNotFound:
      return DISP_E_MEMBERNOTFOUND;
    case CallCheck::kBadParamCount:
      return DISP_E_BADPARAMCOUNT;
    case CallCheck::kTypeMismatch:
      return DISP_E_TYPEMISMATCH;
  }
  return E_UNEXPECTED;
}

HRESULT HtmlExternal::startJob(std::unique_ptr<htmlui::ScriptJob> job, LPTHREAD_START_ROUTINE routine,
                               const wchar_t* command) {
  const HRESULT hr = threadCreator_ == nullptr
                         ? htmlui::startScriptJob(std::move(job), routine)
                         : htmlui::detail::startScriptJobWith(std::move(job), routine, threadCreator_);
  // No worker, so no callback will come: the page must hear of it now.
  if (FAILED(hr)) logger_->error(L"%s: CreateThread failed with %x", command, static_cast<unsigned>(hr));
  return hr;
}

HRESULT HtmlExternal::setWindowSize(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kTwoNumbers, flags, params); FAILED(refused)) return refused;
  const LONG width = argument(params, 0).lVal;
  logger_->debug(L"QJWindowSize: %d", static_cast<int>(width));
  ResizeWindow(width, argument(params, 1).lVal);
  return S_OK;
}

HRESULT HtmlExternal::closeWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kNoArguments, flags, params); FAILED(refused)) return refused;
  logger_->debug(L"QJClose");
  if (quietMode_) {
    quietCloseRequested_ = true;
    return S_OK;
  }
  // Only a host window of this process with a running loop is touched.
  htmlui::requestHostWindowClose(hostWindow());
  return S_OK;
}

HRESULT HtmlExternal::download(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kTextAndCallback, flags, params); FAILED(refused)) return refused;
  std::wstring url = text(argument(params, 0));
  logger_->debug(L"QJDownload: %s", url.c_str());
  RunningClaim claim = RunningClaim::take(downloadRunning_);
  if (!claim) {
    logger_->error(L"QJDownload: a download is already running");
    return HRESULT_FROM_WIN32(ERROR_BUSY);
  }
  auto job = std::make_unique<DownloadJob>(this, std::move(claim), std::move(url));
  const HRESULT hr = job->marshalCallback(argument(params, 1).pdispVal);
  if (FAILED(hr)) {
    logger_->error(L"QJDownload: CoMarshalInterThreadInterfaceInStream failed with %x", static_cast<unsigned>(hr));
    return hr;
  }
  return startJob(std::move(job), &DownloadThreadFunc, L"QJDownload");
}

HRESULT HtmlExternal::install(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kTextAndCallback, flags, params); FAILED(refused)) return refused;
  const std::wstring parameters = text(argument(params, 0));
  logger_->debug(L"QJInstall: %s", parameters.c_str());
  RunningClaim claim = RunningClaim::take(installRunning_);
  if (!claim) {
    logger_->error(L"QJInstall: an installation is already running");
    return HRESULT_FROM_WIN32(ERROR_BUSY);
  }
  auto job = std::make_unique<InstallJob>(
      this, std::move(claim), downloadPath_,
      sysenv::toWide(installerArguments(record_->passthrough, sysenv::toU16(parameters))));
  const HRESULT hr = job->marshalCallback(argument(params, 1).pdispVal);
  if (FAILED(hr)) {
    logger_->debug(L"QJInstall: CoMarshalInterThreadInterfaceInStream failed with %x", static_cast<unsigned>(hr));
    return hr;
  }
  return startJob(std::move(job), &InstallThreadFunc, L"QJInstall");
}

HRESULT HtmlExternal::getProperty(WORD flags, DISPPARAMS* params, VARIANT* result) {
  if (const HRESULT refused = checkCall(kTextForValue, flags, params); FAILED(refused)) return refused;
  if (result == nullptr) return S_OK;
  const std::wstring value = property(text(argument(params, 0)));
  BSTR copy = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  if (copy == nullptr) return E_OUTOFMEMORY;
  result->vt = VT_BSTR;
  result->bstrVal = copy;
  return S_OK;
}

HRESULT HtmlExternal::setChannel(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kTextArgument, flags, params); FAILED(refused)) return refused;
  const std::wstring channel = text(argument(params, 0));
  logger_->debug(L"QJSetChannel: %s", channel.c_str());
  record_->channelId = sysenv::toU16(channel);
  return S_OK;
}

HRESULT HtmlExternal::setInstallStatus(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kNumber, flags, params); FAILED(refused)) return refused;
  const LONG status = argument(params, 0).lVal;
  if (!isInstallStatus(status)) return STG_E_INVALIDPARAMETER;
  logger_->debug(L"QJSetInstallStatus: %d", static_cast<int>(status));
  record_->status = status;
  return S_OK;
}

HRESULT HtmlExternal::startInstallProgram(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kTextArgument, flags, params); FAILED(refused)) return refused;
  // Before a successful installation there is nothing to start; an empty file would have the shell
  // open whatever it takes an empty name for.
  if (startProgramPath_.empty()) return S_OK;
  const std::wstring arguments = text(argument(params, 0));
  if (quietMode_) {
    // An unattended installation starts nothing on the user's desktop.
    logger_->debug(L"QJStartInstallProgram: quiet run, not started: %s %s", startProgramPath_.c_str(),
                   arguments.c_str());
    return S_OK;
  }
  sysenv::shellExecuteAsDesktopUser(startProgramPath_, arguments);
  return S_OK;
}

HRESULT HtmlExternal::hideWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kNoArguments, flags, params); FAILED(refused)) return refused;
  logger_->debug(L"QJHideWindow");
  ShowWindow(hostWindow(), SW_SHOWMINIMIZED);
  return S_OK;
}

HRESULT HtmlExternal::dragWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kNoArguments, flags, params); FAILED(refused)) return refused;
  logger_->debug(L"QJDragWindow");
  // A system move as if started from the caption; returns when the user lets go of the mouse.
  SendMessageW(hostWindow(), WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
  return S_OK;
}

HRESULT HtmlExternal::messageBox(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kTwoTexts, flags, params); FAILED(refused)) return refused;
  const std::wstring message = text(argument(params, 0));
  const std::wstring caption = text(argument(params, 1));
  logger_->debug(L"QJMessageBox: %s %s", message.c_str(), caption.c_str());
  // Quiet: the line above is all there is of it; nobody is there to close a box.
  if (quietMode_) return S_OK;
  MessageBoxW(hostWindow(), message.c_str(), caption.c_str(), MB_OK);
  return S_OK;
}

HRESULT HtmlExternal::disableCloseWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kFlag, flags, params); FAILED(refused)) return refused;
  const VARIANT_BOOL disable = argument(params, 0).boolVal;
  closeDisabled_ = disable == VARIANT_TRUE;
  logger_->debug(L"QJDisableWindowClose: %d", static_cast<int>(disable));
  return S_OK;
}

HRESULT HtmlExternal::restoreWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kNoArguments, flags, params); FAILED(refused)) return refused;
  logger_->debug(L"QJRestoreWindow");
  HWND window = hostWindow();
  SetForegroundWindow(window);
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  return S_OK;
}

HRESULT HtmlExternal::openPage(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kTextArgument, flags, params); FAILED(refused)) return refused;
  const std::wstring url = text(argument(params, 0));
  // The page's text goes to the desktop user's shell, which would start a program or a file as
  // readily as a browser: only a web page is opened.
  if (!sysenv::isWebPageUrl(sysenv::toU16(url))) {
    logger_->error(L"QJOpenPage: not an http or https URL, not opened: %s", url.c_str());
    logger_->debug(L"QJOpenPage: %s", url.c_str());
    return S_OK;
  }
  if (quietMode_) {
    logger_->debug(L"QJOpenPage: quiet run, not opened: %s", url.c_str());
    return S_OK;
  }
  sysenv::shellExecuteAsDesktopUser(sysenv::toWide(sysenv::escapeAmpersandsForShell(sysenv::toU16(url))), L"");
  logger_->debug(L"QJOpenPage: %s", url.c_str());
  return S_OK;
}

HRESULT HtmlExternal::proxySignIn(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kTwoTexts, flags, params); FAILED(refused)) return refused;
  // The password stays in memory that is wiped, and out of the log.
  const ProxyCredentials given(text(argument(params, 0)), text(argument(params, 1)));
  logger_->debug(L"QJProxySignIn: %s", given.user().c_str());
  sysenv::CriticalSectionLock hold(lock_);
  pageProxyCredentials_.emplace(given);
  return S_OK;
}

HRESULT HtmlExternal::retryMessageBox(WORD flags, DISPPARAMS* params, VARIANT* result) {
  if (const HRESULT refused = checkCall(kTextForValue, flags, params); FAILED(refused)) return refused;
  const std::wstring message = text(argument(params, 0));
  logger_->debug(L"QJRetryMessageBox: %s", message.c_str());
  if (result == nullptr) return S_OK;  // nobody would see the answer
  // Quiet: nobody can choose Retry, so the answer is Cancel.
  const int choice = quietMode_ ? IDCANCEL : MessageBoxW(hostWindow(), message.c_str(), nullptr, MB_RETRYCANCEL);
  result->vt = VT_BOOL;
  result->boolVal = choice == IDRETRY ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT HtmlExternal::manageShortcut(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (const HRESULT refused = checkCall(kTextAndFlag, flags, params); FAILED(refused)) return refused;
  const std::wstring name = text(argument(params, 0));
  const bool create = argument(params, 1).boolVal == VARIANT_TRUE;
  // Joined to the desktop folder and written or deleted elevated: a path or ".." would reach any
  // file of the machine.
  if (sysenv::isBareShortcutName(sysenv::toU16(name))) {
    sysenv::manageDesktopShortcut(name, create);
  } else {
    logger_->error(L"QJManageShortcut: not a bare .lnk file name, ignored: %s", name.c_str());
  }
  logger_->debug(L"QJManageShortcut: %s,  %d", name.c_str(), create ? 1 : 0);
  return S_OK;
}

void HtmlExternal::SetHostWindow(HWND window) {
  const HWND attached = hostWindow();
  if (window == attached) return;
  const SubclassFunctions& subclass = subclassFunctions();
  if (attached != nullptr && subclass.remove != nullptr) subclass.remove(attached, &closeGuardProc, 0);
  MSHTMLExternal::SetHostWindow(window);
  if (window == nullptr) return;
  // The guard needs all three; without them the window closes as any other would.
  if (subclass.set == nullptr || subclass.remove == nullptr || subclass.passOn == nullptr ||
      !subclass.set(window, &closeGuardProc, 0, reinterpret_cast<DWORD_PTR>(this))) {
    logger_->error(L"SetHostWindow: the window cannot be subclassed, closing stays allowed");
  }
}

LRESULT CALLBACK HtmlExternal::closeGuardProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                              DWORD_PTR self) {
  // Alt+F4 and the system menu's Close arrive here as WM_CLOSE.
  if (message == WM_CLOSE && reinterpret_cast<HtmlExternal*>(self)->closeDisabled_) {
    ShowWindow(window, SW_MINIMIZE);
    return 0;
  }
  return subclassFunctions().passOn(window, message, wParam, lParam);
}

void HtmlExternal::OnDocumentComplete(htmlui::MSHTMLClient*) {
  RECT client = {};
  if (!GetClientRect(hostWindow(), &client)) return;
  // Only the first document in a window that has no size yet: later pages keep the page's size.
  if (client.right - client.left != 0 && client.bottom - client.top != 0) return;
  recordError(0, 0);
  ResizeWindow(400, 200);
}

void HtmlExternal::OnNavigationRefused(const std::wstring& url) {
  if (logger_) logger_->error(L"Navigation refused, not a page of the start page's folder: %s", url.c_str());
}

void HtmlExternal::ResizeWindow(int width, int height) {
  const HWND window = hostWindow();
  if (window == nullptr) return;
  const RECT rect = htmlui::computeWindowRect(window, width, height);
  const int outerWidth = rect.right - rect.left;
  const int outerHeight = rect.bottom - rect.top;
  // The same size again must not pull a window that the user has dragged away back to the centre.
  if (outerWidth == lastWidth_ && outerHeight == lastHeight_) return;
  if (!SetWindowPos(window, nullptr, rect.left, rect.top, outerWidth, outerHeight,
                    SWP_NOOWNERZORDER | SWP_NOACTIVATE | SWP_NOZORDER)) {
    return;  // not applied, so not remembered: the next request tries again
  }
  lastWidth_ = outerWidth;
  lastHeight_ = outerHeight;
}

}  // namespace downloadmanagercore
