// Win32 code. The system's URL service for one attempt: starts a transfer into a bind-status
// callback and pumps the thread's messages, which carry its notifications, until the attempt is
// settled. Knows nothing of files or packages.
#pragma once

#include <windows.h>
#include <urlmon.h>
#include <wrl/client.h>

#include <functional>
#include <string>

namespace downloadmanagercore {

// Starts the transfer of a URL and keeps what the service needs while it runs; the transfer ends
// (for the service) when this object goes, after the callback has been detached.
class UrlTransfer {
 public:
  // `beforeMonikerBind` runs when the pull-stream service is missing and the URL moniker stands in
  // for it, before the moniker asks the callback for its bind flags.
  HRESULT start(const std::wstring& url, IBindStatusCallback* callback, const std::function<void()>& beforeMonikerBind);

 private:
  HRESULT startThroughMoniker(const std::wstring& url, IBindStatusCallback* callback);

  Microsoft::WRL::ComPtr<IMoniker> moniker_;
  Microsoft::WRL::ComPtr<IBindCtx> context_;
  Microsoft::WRL::ComPtr<IStream> stream_;
};

// What the waiting needs to know of the attempt: its result (E_PENDING while it runs) and how long
// the service has told it nothing.
struct TransferProgress {
  std::function<HRESULT()> result;
  std::function<DWORD()> silentMilliseconds;
};

// Pumps this thread's messages until the attempt has a result, and returns it. A quit message is
// posted again for whoever pumps next and leaves the result E_PENDING. After the receive time-out
// without a notification the attempt ends as timed out (INET_E_CONNECTION_TIMEOUT), and when the
// run ends as E_ABORT: the caller's detach then aborts the binding.
HRESULT waitForTransfer(const TransferProgress& progress);

// Sleeps for `milliseconds`, or less when the run ends meanwhile: true then.
bool pauseUnlessStopping(DWORD milliseconds);

}  // namespace downloadmanagercore
