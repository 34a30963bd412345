// Win32 code.
#include "scripthost/script_host_object_win.h"

#include <oleauto.h>

#include <utility>

namespace scripthost {

ScriptHostObject::ScriptHostObject(std::vector<std::wstring> methodNames) : methodNames_(std::move(methodNames)) {}

HRESULT ScriptHostObject::invokeMethod(UINT row, WORD flags, DISPPARAMS* params, VARIANT* result) {
  if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
  if (params != nullptr && params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  std::vector<const VARIANT*> arguments;
  const UINT count = params != nullptr ? params->cArgs : 0;
  for (UINT i = 0; i < count; ++i) arguments.push_back(&params->rgvarg[count - 1 - i]);
  if (result != nullptr) VariantInit(result);
  // The object stays alive through a call that drops the script's last reference to it.
  AddRef();
  const HRESULT hr = callMethod(row, arguments, result);
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

}  // namespace scripthost
