// Win32 code.
#include "scripthost/script_site_win.h"

#include <oleauto.h>
#include <urlmon.h>

#include "htmlui/page_security_manager_win.h"

namespace scripthost {

void freeExceptionStrings(EXCEPINFO& exception) {
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrHelpFile);
  exception = EXCEPINFO{};
}

HRESULT STDMETHODCALLTYPE ScriptSite::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** typeInfo) {
  if (typeInfo != nullptr) *typeInfo = nullptr;
  if (item != nullptr) *item = nullptr;
  if (name == nullptr) return E_INVALIDARG;
  auto found = items_.find(name);
  if (found == items_.end()) return TYPE_E_ELEMENTNOTFOUND;
  if ((mask & SCRIPTINFO_IUNKNOWN) != 0 && item != nullptr) {
    *item = found->second;
    (*item)->AddRef();
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ScriptSite::OnScriptError(IActiveScriptError* error) {
  Error reported;
  EXCEPINFO exception = {};
  if (error != nullptr && SUCCEEDED(error->GetExceptionInfo(&exception))) {
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    reported.code = exception.scode != S_OK ? exception.scode : static_cast<HRESULT>(exception.wCode);
    if (exception.bstrDescription != nullptr) reported.description = exception.bstrDescription;
    freeExceptionStrings(exception);
  }
  if (error != nullptr) {
    DWORD context = 0;
    LONG column = 0;
    error->GetSourcePosition(&context, &reported.line, &column);
    reported.context = context;
  }
  onScriptError(reported);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ScriptSite::QueryService(REFGUID service, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualGUID(service, SID_SInternetHostSecurityManager)) return E_NOINTERFACE;
  return htmlui::PageSecurityManager::create(iid, out);
}

void ScriptSite::addItem(const std::wstring& name, IUnknown* object) {
  object->AddRef();
  auto previous = items_.find(name);
  if (previous != items_.end()) previous->second->Release();
  items_[name] = object;
}

void ScriptSite::dropItems() {
  // Moved out first: releasing an item may call back into the site.
  std::map<std::wstring, IUnknown*> items;
  items.swap(items_);
  for (auto& item : items) item.second->Release();
}

}  // namespace scripthost
