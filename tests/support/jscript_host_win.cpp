// Win32 code.
#include "support/jscript_host_win.h"

#include "scripthost/script_site_win.h"

namespace testsupport {

// The engine's view of the host: hands out the named items and collects script errors.
class JScriptSite final : public scripthost::ScriptSite {
 public:
  std::vector<JScriptHost::ScriptError> errors_;

 private:
  void onScriptError(const Error& error) override {
    JScriptHost::ScriptError recorded;
    recorded.code = error.code;
    recorded.description = error.description;
    recorded.line = error.line;
    errors_.push_back(recorded);
  }
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
  scripthost::freeExceptionStrings(info);
  return hr;
}

HRESULT JScriptHost::evaluate(const std::wstring& expression, VARIANT* value) {
  VariantInit(value);
  if (!ok()) return status_;
  EXCEPINFO info = {};
  const HRESULT hr = parser_->ParseScriptText(expression.c_str(), nullptr, nullptr, nullptr, 0, 0,
                                              SCRIPTTEXT_ISEXPRESSION, value, &info);
  scripthost::freeExceptionStrings(info);
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
