// Win32 code. The name-based IDispatch that every script-visible object here shares, the page's
// `window.external` and the quiet run's host objects alike: a fixed list of method names, no type
// library, DISPID = position in the list + 1. A derived class gives the names and answers a call by
// its row; `ComBase` is its sysenv::ComObject with IDispatch (or IDispatchEx) in its list.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <cstdint>
#include <cstdio>

#include "htmlui/dispatch_rules.h"

namespace htmlui {

template <typename ComBase>
class NamedDispatch : public ComBase {
 public:
  // No type information.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

  // Every name is looked up, exact case. Misses get DISPID_UNKNOWN and make the call
  // DISP_E_UNKNOWNNAME; the remaining names are still resolved.
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* dispids) override {
    if (count != 0 && (names == nullptr || dispids == nullptr)) return E_POINTER;
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) {
      if (FAILED(findMethod(names[i], false, &dispids[i]))) result = DISP_E_UNKNOWNNAME;
      traceDispid(names[i] != nullptr ? names[i] : L"", dispids[i]);
    }
    return result;
  }

  // Listed methods only (DISPIDs 1..count), with IID_NULL; the method's HRESULT is returned
  // unchanged.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    std::uint32_t row = 0;
    if (!methodRowOf(dispid, methodCount(), &row)) return DISP_E_MEMBERNOTFOUND;
    return invokeMethod(row, flags, params, result);
  }

 protected:
  using ComBase::ComBase;

  virtual UINT methodCount() = 0;
  // The name of row `row` (< methodCount()); the same every time.
  virtual const wchar_t* methodName(UINT row) = 0;
  // One call of the method in row `row`, as the engine made it.
  virtual HRESULT invokeMethod(UINT row, WORD flags, DISPPARAMS* params, VARIANT* result) = 0;

  // The DISPID of a listed method, by the caller's case rule; DISPID_UNKNOWN and DISP_E_UNKNOWNNAME
  // for any other name.
  HRESULT findMethod(const wchar_t* name, bool ignoreCase, DISPID* dispid) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");
    const UINT rows = methodCount();
    for (UINT row = 0; row < rows; ++row) {
      if (namesEqual(reinterpret_cast<const char16_t*>(methodName(row)), reinterpret_cast<const char16_t*>(name),
                     ignoreCase)) {
        *dispid = methodDispid(row);
        return S_OK;
      }
    }
    *dispid = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }

 private:
  // Name look-ups are traced only in builds made with SORVANE_TRACE_DISPATCH defined.
  static void traceDispid([[maybe_unused]] const wchar_t* name, [[maybe_unused]] DISPID dispid) {
#ifdef SORVANE_TRACE_DISPATCH
    char line[512];
    std::snprintf(line, sizeof line, "  %S --> %d\n", name, static_cast<int>(dispid));
    OutputDebugStringA(line);
#endif
  }
};

}  // namespace htmlui
