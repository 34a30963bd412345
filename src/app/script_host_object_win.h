// Win32 code. The base of the small objects that the quiet run hands to its script engine (the
// timers, the page's view): a plain IDispatch over a fixed list of method names, reference counted,
// with no type library. Scripts call its methods by name; a derived class answers the calls.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>
#include <vector>

namespace app {

class ScriptHostObject : public IDispatch {
 public:
  ScriptHostObject(const ScriptHostObject&) = delete;
  ScriptHostObject& operator=(const ScriptHostObject&) = delete;

  // IUnknown: IUnknown and IDispatch only. Used on the thread that made the object.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch. No type information. Names are matched exactly (scripts are case-sensitive); the
  // DISPID of a method is its position in the list plus one, and unknown names get DISPID_UNKNOWN
  // with DISP_E_UNKNOWNNAME. Invoke takes method calls only (DISPATCH_METHOD, alone or with
  // DISPATCH_PROPERTYGET as in an expression) without named arguments.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* dispids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepinfo, UINT* argErr) override;

 protected:
  // Reference count 1, owned by the creator.
  explicit ScriptHostObject(std::vector<std::wstring> methodNames);
  virtual ~ScriptHostObject() = default;

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
  volatile LONG refCount_ = 1;
  std::vector<std::wstring> methodNames_;
};

}  // namespace app
