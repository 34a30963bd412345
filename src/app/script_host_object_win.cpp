// Win32 code.
#include "app/script_host_object_win.h"

#include <oleauto.h>

#include <utility>

namespace app {

ScriptHostObject::ScriptHostObject(std::vector<std::wstring> methodNames) : methodNames_(std::move(methodNames)) {}

HRESULT STDMETHODCALLTYPE ScriptHostObject::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ScriptHostObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

ULONG STDMETHODCALLTYPE ScriptHostObject::Release() {
  const LONG count = InterlockedDecrement(&refCount_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE ScriptHostObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ScriptHostObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ScriptHostObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                                          DISPID* dispids) {
  if (names == nullptr || dispids == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    dispids[i] = DISPID_UNKNOWN;
    // Only the first name is a member; the others would be argument names, which no method has.
    if (i == 0 && names[0] != nullptr) {
      for (std::size_t method = 0; method < methodNames_.size(); ++method) {
        if (methodNames_[method] == names[0]) dispids[0] = static_cast<DISPID>(method + 1);
      }
    }
    if (dispids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT STDMETHODCALLTYPE ScriptHostObject::Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                                   VARIANT* result, EXCEPINFO*, UINT*) {
  if (dispid < 1 || static_cast<std::size_t>(dispid) > methodNames_.size()) return DISP_E_MEMBERNOTFOUND;
  if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
  if (params != nullptr && params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  std::vector<const VARIANT*> arguments;
  const UINT count = params != nullptr ? params->cArgs : 0;
  for (UINT i = 0; i < count; ++i) arguments.push_back(&params->rgvarg[count - 1 - i]);
  if (result != nullptr) VariantInit(result);
  // The object stays alive through a call that drops the script's last reference to it.
  AddRef();
  const HRESULT hr = callMethod(static_cast<std::size_t>(dispid - 1), arguments, result);
  Release();
  return hr;
}

bool ScriptHostObject::numberArgument(const std::vector<const VARIANT*>& arguments, std::size_t index, LONG& number) {
  if (index >= arguments.size()) return false;
  VARIANT converted;
  VariantInit(&converted);
  if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(arguments[index]), 0, VT_I4))) return false;
  number = converted.lVal;
  return true;
}

bool ScriptHostObject::textArgument(const std::vector<const VARIANT*>& arguments, std::size_t index,
                                    std::wstring& text) {
  if (index >= arguments.size()) return false;
  VARIANT converted;
  VariantInit(&converted);
  if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(arguments[index]), 0, VT_BSTR))) return false;
  text.assign(converted.bstrVal != nullptr ? converted.bstrVal : L"", SysStringLen(converted.bstrVal));
  VariantClear(&converted);
  return true;
}

IDispatch* ScriptHostObject::objectArgument(const std::vector<const VARIANT*>& arguments, std::size_t index) {
  if (index >= arguments.size()) return nullptr;
  const VARIANT* value = arguments[index];
  return value->vt == VT_DISPATCH ? value->pdispVal : nullptr;
}

}  // namespace app
