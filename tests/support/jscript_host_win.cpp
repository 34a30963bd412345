#include "support/jscript_host_win.h"

#include <map>

namespace testsupport {

// The engine's view of the host: hands out the named items and collects script errors. Reference
// counted because the engine holds it; the host holds the first reference.
class JScriptSite final : public IActiveScriptSite {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IActiveScriptSite))) {
      *out = static_cast<IActiveScriptSite*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG count = InterlockedDecrement(&refs_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item,
                                        ITypeInfo** typeInfo) override {
    if (typeInfo != nullptr) *typeInfo = nullptr;
    if (item != nullptr) *item = nullptr;
    auto found = items_.find(name);
    if (found == items_.end()) return TYPE_E_ELEMENTNOTFOUND;
    if ((mask & SCRIPTINFO_IUNKNOWN) != 0 && item != nullptr) {
      *item = found->second;
      (*item)->AddRef();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override {
    JScriptHost::ScriptError recorded;
    EXCEPINFO info = {};
    if (SUCCEEDED(error->GetExceptionInfo(&info))) {
      if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
      recorded.code = info.scode != S_OK ? info.scode : static_cast<HRESULT>(info.wCode);
      if (info.bstrDescription != nullptr) recorded.description = info.bstrDescription;
      SysFreeString(info.bstrDescription);
      SysFreeString(info.bstrSource);
      SysFreeString(info.bstrHelpFile);
    }
    DWORD context = 0;
    LONG column = 0;
    error->GetSourcePosition(&context, &recorded.line, &column);
    errors_.push_back(recorded);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

  void addItem(const std::wstring& name, IUnknown* object) {
    object->AddRef();
    auto previous = items_.find(name);
    if (previous != items_.end()) previous->second->Release();
    items_[name] = object;
  }
  void dropItems() {
    for (auto& item : items_) item.second->Release();
    items_.clear();
  }

  std::vector<JScriptHost::ScriptError> errors_;

 private:
  ~JScriptSite() { dropItems(); }
  LONG refs_ = 1;
  std::map<std::wstring, IUnknown*> items_;
};

JScriptHost::JScriptHost() : site_(new JScriptSite) {
  CLSID jscript;
  status_ = CLSIDFromProgID(L"JScript", &jscript);
  if (FAILED(status_)) return;
  status_ = CoCreateInstance(jscript, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                             reinterpret_cast<void**>(&engine_));
  if (FAILED(status_)) return;
  status_ = engine_->QueryInterface(__uuidof(IActiveScriptParse), reinterpret_cast<void**>(&parser_));
  if (FAILED(status_)) return;
  status_ = engine_->SetScriptSite(site_);
  if (FAILED(status_)) return;
  status_ = parser_->InitNew();
  if (FAILED(status_)) return;
  status_ = engine_->SetScriptState(SCRIPTSTATE_CONNECTED);
}

JScriptHost::~JScriptHost() {
  if (parser_ != nullptr) parser_->Release();
  if (engine_ != nullptr) {
    engine_->Close();  // drops the engine's references to the site and the named items
    engine_->Release();
  }
  site_->dropItems();
  site_->Release();
}

HRESULT JScriptHost::addNamedItem(const std::wstring& name, IUnknown* object) {
  if (!ok()) return status_;
  site_->addItem(name, object);
  return engine_->AddNamedItem(name.c_str(), SCRIPTITEM_ISVISIBLE);
}

HRESULT JScriptHost::run(const std::wstring& statements) {
  if (!ok()) return status_;
  EXCEPINFO info = {};
  const HRESULT hr =
      parser_->ParseScriptText(statements.c_str(), nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &info);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrHelpFile);
  return hr;
}

HRESULT JScriptHost::evaluate(const std::wstring& expression, VARIANT* value) {
  VariantInit(value);
  if (!ok()) return status_;
  EXCEPINFO info = {};
  const HRESULT hr = parser_->ParseScriptText(expression.c_str(), nullptr, nullptr, nullptr, 0, 0,
                                              SCRIPTTEXT_ISEXPRESSION, value, &info);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrHelpFile);
  return hr;
}

IDispatch* JScriptHost::global(const std::wstring& name) {
  VARIANT value;
  if (FAILED(evaluate(name, &value))) return nullptr;
  IDispatch* object = nullptr;
  if (value.vt == VT_DISPATCH && value.pdispVal != nullptr) {
    object = value.pdispVal;
    object->AddRef();
  }
  VariantClear(&value);
  return object;
}

const std::vector<JScriptHost::ScriptError>& JScriptHost::errors() const { return site_->errors_; }
void JScriptHost::clearErrors() { site_->errors_.clear(); }

}  // namespace testsupport
