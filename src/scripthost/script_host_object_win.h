// Win32 code. The base of the small objects that the quiet run hands to its script engine (the
// timers, the page's view): a plain IDispatch over a fixed list of method names, reference counted,
// with no type library. Scripts call its methods by name; a derived class answers the calls.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>
#include <vector>

#include "htmlui/named_dispatch_win.h"
#include "sysenv/com_object_win.h"

namespace scripthost {

// IUnknown and IDispatch only, through htmlui's name-based IDispatch: names are matched exactly
// (scripts are case-sensitive), unknown names get DISPID_UNKNOWN with DISP_E_UNKNOWNNAME, and there
// is no type information. Used on the thread that made the object.
class ScriptHostObject
    : public htmlui::NamedDispatch<sysenv::ComObject<sysenv::InterlockedCount, sysenv::ComInterface<IDispatch>>> {
 protected:
  // Reference count 1, owned by the creator.
  explicit ScriptHostObject(std::vector<std::wstring> methodNames);
  ~ScriptHostObject() override = default;

  // One call of method number `method` (0-based position in the list). `arguments` are in script
  // order (the engine passes them last first); a missing argument is absent, not VT_EMPTY. `result`
  // may be null (the value is not wanted).
  virtual HRESULT callMethod(std::size_t method, const std::vector<const VARIANT*>& arguments, VARIANT* result) = 0;

  // Argument readers; false (and the out value untouched) for a missing or unfitting argument.
  // A number is anything that converts to a 32-bit integer (JScript passes VT_I4 or VT_R8).
  static bool numberArgument(const std::vector<const VARIANT*>& arguments, std::size_t index, LONG& number);
  static bool textArgument(const std::vector<const VARIANT*>& arguments, std::size_t index, std::wstring& text);
  // A script function (or any object): not AddRef'ed.
  static IDispatch* objectArgument(const std::vector<const VARIANT*>& arguments, std::size_t index);

 private:
  UINT methodCount() override { return static_cast<UINT>(methodNames_.size()); }
  const wchar_t* methodName(UINT row) override { return methodNames_[row].c_str(); }
  // Method calls only (DISPATCH_METHOD, alone or with DISPATCH_PROPERTYGET as in an expression),
  // without named arguments.
  HRESULT invokeMethod(UINT row, WORD flags, DISPPARAMS* params, VARIANT* result) override;

  std::vector<std::wstring> methodNames_;
};

}  // namespace scripthost
