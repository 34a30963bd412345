// Win32 code. A stand-in for a page function where a test must see exactly how it is called or
// how many references others hold on it: an IDispatch that records its calls and counts references.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <vector>

#include "sysenv/com_object_win.h"

namespace testsupport {

// Lives on the test's stack: the count is observed, never used to delete.
class RecordingDispatch final
    : public sysenv::ComObject<sysenv::ObservedCount, sysenv::ComInterface<IDispatch>> {
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
  ~RecordingDispatch() override { CloseHandle(invoked_); }

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

  LONG references() const { return referenceCount().value; }
  HANDLE invokedEvent() const { return invoked_; }
  std::vector<Call> calls;

 private:
  bool refuses(REFIID iid) override { return !offerIDispatch_ && IsEqualIID(iid, IID_IDispatch); }

  HRESULT answer_;
  bool offerIDispatch_;
  HANDLE invoked_;
};

}  // namespace testsupport
