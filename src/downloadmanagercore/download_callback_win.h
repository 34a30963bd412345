// Win32 code. The page's side of one download attempt: DownloadCallback publishes the attempt's
// progress. The engine's own bind-status callback sits in front of it, writes the data to the
// package file and forwards the notifications.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include "sysenv/com_object_win.h"

namespace downloadmanagercore {

class HtmlExternal;

// One per attempt, on the heap with a real reference count: the attempt holds one reference and the
// writer another, and the writer can outlive the attempt for as long as the URL service keeps it.
// Notifications arrive on the download worker thread only.
class DownloadCallback final
    : public sysenv::ComObject<sysenv::InterlockedCount, sysenv::ComInterface<IBindStatusCallback>> {
 public:
  // Starts with one reference, the caller's. The owner outlives every attempt.
  explicit DownloadCallback(HtmlExternal* owner) : owner_(owner) {}

  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
  // BEGINDOWNLOADDATA sets "downloadTotal"; DOWNLOADINGDATA and ENDDOWNLOADDATA set
  // "downloadCurrent" and mark the attempt as one that received data.
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR errorText) override;
  // Leaves the bind flags and information as the service passed them.
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                            STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID iid, IUnknown* object) override;

  // Whether the service reported package data during this attempt; it restores the attempt budget.
  bool dataSeen() const { return dataSeen_; }

 private:
  ~DownloadCallback() override = default;

  bool dataSeen_ = false;
  HtmlExternal* owner_;
};

}  // namespace downloadmanagercore
