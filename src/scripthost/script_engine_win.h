// Win32 code. The system's JScript engine, hosted through IActiveScript: how the quiet run executes
// the pages' own workflow script without a browser. Host objects become the script's globals, script
// files run in order in one global scope, and every script error goes to the log.
#pragma once

#include <windows.h>

#include <activscp.h>
#include <oaidl.h>

#include <initializer_list>
#include <string>

namespace app {
class Logger;
}  // namespace app

namespace scripthost {
class ScriptEngineSite;

// One engine in the calling thread's single-threaded apartment (COM initialised there first); the
// engine and everything it hands out are used from that thread only.
class ScriptEngine {
 public:
  // Creates the JScript engine through COM by its class id (jscript.dll is never imported), tells it
  // that scripts are untrusted and that it must ask the site's security manager, which lets it make
  // no object for a script, and starts it. Failures are logged ("ScriptEngine: ... failed with %x");
  // ok() is false then and every call fails.
  explicit ScriptEngine(app::Logger* logger);
  // close(), then the site goes.
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  bool ok() const { return engine_ != nullptr; }

  // Makes `object` the global `name` of every script (the engine asks the site for it, which holds
  // a reference until close).
  bool addNamedItem(const wchar_t* name, IUnknown* object);
  // Parses and runs one script file's text at once. `sourceName` names the file in error lines.
  // False when the text does not parse or throws an exception that it does not catch.
  bool runScript(const std::wstring& text, const std::wstring& sourceName);
  // Calls the global function `name` with these objects as its arguments, in script order. False
  // when there is no such function or it throws (logged either way).
  bool callFunction(const wchar_t* name, std::initializer_list<IDispatch*> arguments);
  // Script errors so far: syntax errors, uncaught exceptions and failed calls, each logged once as
  // "Script error in %s line %u: %s (%x)" or "Script call %s failed with %x: %s".
  unsigned errorCount() const;
  // Closes the engine: it drops the script's objects and its references to the named items. Safe to
  // call more than once.
  void close();

 private:
  app::Logger* logger_;
  ScriptEngineSite* site_;
  IActiveScript* engine_ = nullptr;
  IActiveScriptParse* parser_ = nullptr;
};

}  // namespace scripthost
