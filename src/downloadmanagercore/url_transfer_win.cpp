// Win32 code. Drives the URL service for one attempt; see url_transfer_win.h.
#include "downloadmanagercore/url_transfer_win.h"

#include "downloadmanagercore/download_engine_win.h"
#include "downloadmanagercore/download_rules.h"
#include "htmlui/script_callback_win.h"
#include "sysenv/system_dll_win.h"

#include <atomic>

namespace downloadmanagercore {

namespace {

std::atomic<unsigned> receiveTimeout{kReceiveTimeoutMilliseconds};

}  // namespace

unsigned receiveTimeoutMilliseconds() { return receiveTimeout; }
void setReceiveTimeoutMillisecondsForTests(unsigned milliseconds) { receiveTimeout = milliseconds; }

HRESULT UrlTransfer::start(const std::wstring& url, IBindStatusCallback* callback,
                           const std::function<void()>& beforeMonikerBind) {
  static const auto openPullStream =
      sysenv::systemFunction<decltype(&URLOpenPullStreamW)>(L"urlmon.dll", "URLOpenPullStreamW");
  const HRESULT hr = openPullStream ? openPullStream(nullptr, url.c_str(), 0, callback) : E_NOTIMPL;
  if (hr != E_NOTIMPL) return hr;
  // Where the pull-stream service is missing (Wine has only a stub), the URL moniker delivers the
  // same notifications to the same callback on this thread.
  if (beforeMonikerBind) beforeMonikerBind();
  return startThroughMoniker(url, callback);
}

HRESULT UrlTransfer::startThroughMoniker(const std::wstring& url, IBindStatusCallback* callback) {
  static const auto createMoniker =
      sysenv::systemFunction<decltype(&CreateURLMonikerEx)>(L"urlmon.dll", "CreateURLMonikerEx");
  static const auto createContext =
      sysenv::systemFunction<decltype(&CreateAsyncBindCtx)>(L"urlmon.dll", "CreateAsyncBindCtx");
  if (createMoniker == nullptr || createContext == nullptr) return E_NOTIMPL;
  HRESULT hr = createMoniker(nullptr, url.c_str(), moniker_.GetAddressOf(), URL_MK_UNIFORM);
  if (FAILED(hr)) return hr;
  hr = createContext(0, callback, nullptr, context_.GetAddressOf());
  if (FAILED(hr)) return hr;
  return moniker_->BindToStorage(context_.Get(), nullptr, IID_IStream, reinterpret_cast<void**>(stream_.GetAddressOf()));
}

HRESULT waitForTransfer(const TransferProgress& progress) {
  const DWORD timeout = receiveTimeoutMilliseconds();
  MSG message;
  while (progress.result() == E_PENDING) {
    const DWORD silent = progress.silentMilliseconds();
    if (silent >= timeout) return static_cast<HRESULT>(kInetConnectionTimeout);
    HANDLE stop = htmlui::scriptJobsStopEvent();
    const DWORD waited = MsgWaitForMultipleObjectsEx(stop != nullptr ? 1 : 0, &stop, timeout - silent, QS_ALLINPUT,
                                                     MWMO_INPUTAVAILABLE);
    if (stop != nullptr && waited == WAIT_OBJECT_0) return E_ABORT;
    if (waited == WAIT_TIMEOUT) continue;
    while (progress.result() == E_PENDING && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return progress.result();
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return progress.result();
}

bool pauseUnlessStopping(DWORD milliseconds) {
  HANDLE stop = htmlui::scriptJobsStopEvent();
  if (stop == nullptr) {
    Sleep(milliseconds);
    return false;
  }
  return WaitForSingleObject(stop, milliseconds) == WAIT_OBJECT_0;
}

}  // namespace downloadmanagercore
