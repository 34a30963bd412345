// Win32 code. Whether the machine is one of the known virtual machines, by what WMI says of the
// computer: their adapters' addresses are made up per machine image, so they cannot make an id.
#include <windows.h>

#include <oleauto.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include "sysenv/wide_text_win.h"
#include "telemetry/machine_id_win.h"

using Microsoft::WRL::ComPtr;

namespace telemetry::detail {
namespace {

// WMI takes its texts as BSTRs.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

// A string property of a WMI object: empty when missing or not a string; false when Get fails.
bool readStringProperty(IWbemClassObject* object, const wchar_t* name, std::wstring& value) {
  VARIANT variant;
  VariantInit(&variant);
  if (FAILED(object->Get(name, 0, &variant, nullptr, nullptr))) return false;
  value.clear();
  if (variant.vt == VT_BSTR && variant.bstrVal != nullptr) value.assign(variant.bstrVal, SysStringLen(variant.bstrVal));
  VariantClear(&variant);
  return true;
}

}  // namespace

bool queryComputerSystem(std::wstring& model, std::wstring& manufacturer) {
  model.clear();
  manufacturer.clear();
  ComPtr<IWbemLocator> locator;
  if (FAILED(CoCreateInstance(__uuidof(WbemLocator), nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator)))) {
    return false;
  }
  const Bstr nameSpace(L"ROOT\\CIMV2");
  ComPtr<IWbemServices> services;
  if (!nameSpace.get() ||
      FAILED(locator->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services))) {
    return false;
  }
  if (FAILED(CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE))) {
    return false;
  }
  const Bstr language(L"WQL");
  const Bstr query(L"SELECT * FROM Win32_ComputerSystem");
  ComPtr<IEnumWbemClassObject> objects;
  if (!language.get() || !query.get() ||
      FAILED(services->ExecQuery(language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                 nullptr, &objects))) {
    return false;
  }
  ComPtr<IWbemClassObject> first;
  ULONG returned = 0;
  if (FAILED(objects->Next(WBEM_INFINITE, 1, &first, &returned))) return false;
  // No object at all still counts as an answer: a machine that names nothing is not virtual.
  if (returned == 0 || !first) return true;
  return readStringProperty(first.Get(), L"model", model) &&
         readStringProperty(first.Get(), L"manufacturer", manufacturer);
}

bool isVirtualMachine(bool& isVirtual) {
  isVirtual = false;
  std::wstring model;
  std::wstring manufacturer;
  if (!queryComputerSystem(model, manufacturer)) return false;
  isVirtual = isVirtualMachineModel(sysenv::toU16(model), sysenv::toU16(manufacturer));
  return true;
}

}  // namespace telemetry::detail
