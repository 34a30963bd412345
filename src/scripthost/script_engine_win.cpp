// Win32 code.
#include "scripthost/script_engine_win.h"

#include <objsafe.h>
#include <oleauto.h>

#include <vector>

#include "app/logger_win.h"
#include "scripthost/script_site_win.h"

namespace scripthost {

namespace {

// The JScript engine's class ({F414C260-6AC0-11CF-B6D1-00AA00BBBB58}, jscript.dll), by number
// rather than through the "JScript" ProgID, which a user could point at another server.
constexpr CLSID kJScriptClass = {0xf414c260, 0x6ac0, 0x11cf, {0xb6, 0xd1, 0x00, 0xaa, 0x00, 0xbb, 0xbb, 0x58}};

// Scripts are untrusted data: the engine asks its site's security manager before it makes any
// object for them (new ActiveXObject, GetObject), and that manager refuses. The engine takes the
// options when it gets its site, so they are set before SetScriptSite; an engine that cannot take
// them does not run at all.
constexpr DWORD kSafetyOptions =
    INTERFACESAFE_FOR_UNTRUSTED_DATA | INTERFACE_USES_DISPEX | INTERFACE_USES_SECURITY_MANAGER;

HRESULT makeSafeForUntrustedScripts(IActiveScript* engine) {
  IObjectSafety* safety = nullptr;
  HRESULT hr = engine->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety));
  if (FAILED(hr)) return hr;
  hr = safety->SetInterfaceSafetyOptions(__uuidof(IActiveScriptParse), kSafetyOptions, kSafetyOptions);
  DWORD supported = 0;
  DWORD enabled = 0;
  if (SUCCEEDED(hr) && SUCCEEDED(safety->GetInterfaceSafetyOptions(__uuidof(IActiveScriptParse), &supported,
                                                                    &enabled)) &&
      (enabled & kSafetyOptions) != kSafetyOptions) {
    hr = E_FAIL;  // took the call but not the options
  }
  safety->Release();
  return hr;
}

}  // namespace

// The engine's view of the host: hands out the named items and logs script errors, naming the
// file each came from.
class ScriptEngineSite final : public ScriptSite {
 public:
  explicit ScriptEngineSite(app::Logger* logger) : logger_(logger) {}

  // The context cookie of a source file: its index in the list.
  DWORD_PTR addSource(const std::wstring& name) {
    sources_.push_back(name);
    return sources_.size() - 1;
  }

  unsigned errors_ = 0;

 private:
  void onScriptError(const Error& error) override {
    const std::wstring source = error.context < sources_.size() ? sources_[error.context] : L"(script)";
    ++errors_;
    if (logger_ != nullptr) {
      logger_->error(L"Script error in %s line %u: %s (%x)", source.c_str(), static_cast<unsigned>(error.line + 1),
                     error.description.c_str(), static_cast<unsigned>(error.code));
    }
  }

  app::Logger* logger_;
  std::vector<std::wstring> sources_;
};

ScriptEngine::ScriptEngine(app::Logger* logger) : logger_(logger), site_(new ScriptEngineSite(logger)) {
  IActiveScript* engine = nullptr;
  HRESULT hr = CoCreateInstance(kJScriptClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                                reinterpret_cast<void**>(&engine));
  const wchar_t* step = L"CoCreateInstance";
  if (SUCCEEDED(hr)) {
    step = L"IActiveScriptParse";
    hr = engine->QueryInterface(__uuidof(IActiveScriptParse), reinterpret_cast<void**>(&parser_));
  }
  if (SUCCEEDED(hr)) {
    step = L"SetInterfaceSafetyOptions";
    hr = makeSafeForUntrustedScripts(engine);
  }
  if (SUCCEEDED(hr)) {
    step = L"SetScriptSite";
    hr = engine->SetScriptSite(site_);
  }
  if (SUCCEEDED(hr)) {
    step = L"InitNew";
    hr = parser_->InitNew();
  }
  if (SUCCEEDED(hr)) {
    // Connected: script text runs as soon as it is parsed.
    step = L"SetScriptState";
    hr = engine->SetScriptState(SCRIPTSTATE_CONNECTED);
  }
  if (FAILED(hr)) {
    if (logger_ != nullptr) logger_->error(L"ScriptEngine: %s failed with %x", step, static_cast<unsigned>(hr));
    if (parser_ != nullptr) parser_->Release();
    parser_ = nullptr;
    if (engine != nullptr) {
      engine->Close();
      engine->Release();
    }
    return;
  }
  engine_ = engine;
}

ScriptEngine::~ScriptEngine() {
  close();
  site_->Release();
}

void ScriptEngine::close() {
  if (parser_ != nullptr) {
    parser_->Release();
    parser_ = nullptr;
  }
  if (engine_ != nullptr) {
    engine_->Close();  // drops the script's objects and the engine's references to the site's items
    engine_->Release();
    engine_ = nullptr;
  }
  site_->dropItems();
}

bool ScriptEngine::addNamedItem(const wchar_t* name, IUnknown* object) {
  if (engine_ == nullptr || object == nullptr) return false;
  site_->addItem(name, object);
  const HRESULT hr = engine_->AddNamedItem(name, SCRIPTITEM_ISVISIBLE);
  if (FAILED(hr) && logger_ != nullptr) {
    logger_->error(L"ScriptEngine: AddNamedItem %s failed with %x", name, static_cast<unsigned>(hr));
  }
  return SUCCEEDED(hr);
}

bool ScriptEngine::runScript(const std::wstring& text, const std::wstring& sourceName) {
  if (parser_ == nullptr) return false;
  const unsigned errorsBefore = site_->errors_;
  EXCEPINFO exception = {};
  const HRESULT hr = parser_->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, site_->addSource(sourceName), 0,
                                              0, nullptr, &exception);
  if (FAILED(hr) && site_->errors_ == errorsBefore) {
    // Not reported through the site: the engine gave up on the text without a script error.
    ++site_->errors_;
    if (logger_ != nullptr) {
      logger_->error(L"Script error in %s: %x", sourceName.c_str(), static_cast<unsigned>(hr));
    }
  }
  freeExceptionStrings(exception);
  return SUCCEEDED(hr);
}

bool ScriptEngine::callFunction(const wchar_t* name, std::initializer_list<IDispatch*> arguments) {
  if (engine_ == nullptr) return false;
  const unsigned errorsBefore = site_->errors_;
  IDispatch* global = nullptr;
  HRESULT hr = engine_->GetScriptDispatch(nullptr, &global);
  DISPID function = DISPID_UNKNOWN;
  if (SUCCEEDED(hr)) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    hr = global->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &function);
  }
  EXCEPINFO exception = {};
  if (SUCCEEDED(hr)) {
    // The engine takes the arguments last first.
    std::vector<VARIANT> values(arguments.size());
    std::size_t index = arguments.size();
    for (IDispatch* argument : arguments) {
      VARIANT& value = values[--index];
      VariantInit(&value);
      value.vt = VT_DISPATCH;
      value.pdispVal = argument;
    }
    DISPPARAMS params = {values.data(), nullptr, static_cast<UINT>(values.size()), 0};
    VARIANT ignored;
    VariantInit(&ignored);
    UINT argumentError = 0;
    hr = global->Invoke(function, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &ignored, &exception,
                        &argumentError);
    VariantClear(&ignored);
  }
  if (global != nullptr) global->Release();
  if (FAILED(hr) && site_->errors_ == errorsBefore) {
    ++site_->errors_;
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    if (logger_ != nullptr) {
      logger_->error(L"Script call %s failed with %x: %s", name, static_cast<unsigned>(hr),
                     exception.bstrDescription != nullptr ? exception.bstrDescription : L"");
    }
  }
  freeExceptionStrings(exception);
  return SUCCEEDED(hr);
}

unsigned ScriptEngine::errorCount() const { return site_->errors_; }

}  // namespace scripthost
