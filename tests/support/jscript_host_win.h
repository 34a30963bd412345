// Win32 code. The system's JScript engine driven through IActiveScript, so that tests exercise
// script objects with the real peer that calls them: named items (such as `external`) become globals
// of the script, script text runs at once, and script errors are recorded instead of shown.
#pragma once

#include <windows.h>

#include <activscp.h>
#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class JScriptSite;

// One engine in the calling thread's apartment (initialise COM there first; the engine is
// apartment-threaded, so use it from that thread only).
class JScriptHost {
 public:
  // Creates the engine ("JScript"); ok() tells whether that worked, status() why not.
  JScriptHost();
  ~JScriptHost();
  JScriptHost(const JScriptHost&) = delete;
  JScriptHost& operator=(const JScriptHost&) = delete;

  bool ok() const { return SUCCEEDED(status_); }
  HRESULT status() const { return status_; }

  // Makes `object` visible to the script as the global `name`. The host holds a reference until
  // it is destroyed.
  HRESULT addNamedItem(const std::wstring& name, IUnknown* object);
  // Runs statements. A script error (an exception the script did not catch) makes the result a
  // failure and is kept in lastError().
  HRESULT run(const std::wstring& statements);
  // Evaluates one expression into `value` (VariantClear it afterwards).
  HRESULT evaluate(const std::wstring& expression, VARIANT* value);
  // A global of the script (a function, for instance) as an object; null when it is not one.
  IDispatch* global(const std::wstring& name);

  struct ScriptError {
    HRESULT code = S_OK;      // the exception's scode
    std::wstring description;
    ULONG line = 0;           // 0-based, as the engine reports it
  };
  // The errors reported since the host was made or clearErrors was called, oldest first.
  const std::vector<ScriptError>& errors() const;
  void clearErrors();

 private:
  HRESULT status_;
  IActiveScript* engine_ = nullptr;
  IActiveScriptParse* parser_ = nullptr;
  JScriptSite* site_ = nullptr;
};

}  // namespace testsupport
