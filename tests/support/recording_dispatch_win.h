// Win32 test code. A stand-in for a page function where a test must see exactly how it is called or
// how many references others hold on it: an IDispatch that records its calls and counts references.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <vector>

namespace testsupport {

class RecordingDispatch final : public IDispatch {
 public:
  struct Call {
    DISPID dispid = 0;
    bool iidIsNull = false;
    LCID lcid = 0;
    WORD flags = 0;
    std::vector<VARIANT> arguments;  // shallow copies of plain values (numbers), engine order
    UINT namedCount = 0;
    bool namedArrayIsNull = false;
    bool resultIsNull = false;
    bool excepinfoIsNull = false;
    bool argErrIsNull = false;
    DWORD threadId = 0;
  };

  // `answerToInvoke` is what Invoke returns; `offerIDispatch` false makes QueryInterface refuse
  // IDispatch, which standard marshalling of IID_IDispatch needs.
  explicit RecordingDispatch(HRESULT answerToInvoke = S_OK, bool offerIDispatch = true)
      : answer_(answerToInvoke),
        offerIDispatch_(offerIDispatch),
        invoked_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~RecordingDispatch() { CloseHandle(invoked_); }
  RecordingDispatch(const RecordingDispatch&) = delete;
  RecordingDispatch& operator=(const RecordingDispatch&) = delete;

  // Lives on the test's stack: the count is observed, never used to delete.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || (offerIDispatch_ && IsEqualIID(iid, IID_IDispatch))) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepinfo, UINT* argErr) override {
    Call call;
    call.dispid = dispid;
    call.iidIsNull = IsEqualIID(iid, IID_NULL) != 0;
    call.lcid = lcid;
    call.flags = flags;
    if (params != nullptr) {
      call.arguments.assign(params->rgvarg, params->rgvarg + params->cArgs);
      call.namedCount = params->cNamedArgs;
      call.namedArrayIsNull = params->rgdispidNamedArgs == nullptr;
    }
    call.resultIsNull = result == nullptr;
    call.excepinfoIsNull = excepinfo == nullptr;
    call.argErrIsNull = argErr == nullptr;
    call.threadId = GetCurrentThreadId();
    calls.push_back(call);
    SetEvent(invoked_);
    return answer_;
  }

  LONG references() const { return refs_; }
  HANDLE invokedEvent() const { return invoked_; }
  std::vector<Call> calls;

 private:
  volatile LONG refs_ = 1;
  HRESULT answer_;
  bool offerIDispatch_;
  HANDLE invoked_;
};

}  // namespace testsupport
