// Win32 code.
#include "htmlui/page_security_manager_win.h"

#include <new>

#include "htmlui/page_policy.h"

namespace htmlui {

const GUID kConfirmObjectSafetyPolicy = {0x10200490, 0xfa38, 0x11d0, {0xac, 0x0e, 0x00, 0xa0, 0xc9, 0x0f, 0xff, 0xc0}};

namespace {

// The answer to one URL action: the policy written where the caller has room for it, S_OK when the
// action may happen, S_FALSE when not, INET_E_DEFAULT_ACTION when the zone decides.
HRESULT answerUrlAction(DWORD action, BYTE* policy, DWORD policySize) {
  const UrlActionAnswer answer = pageUrlAction(action);
  if (answer.kind == UrlActionAnswer::kZoneDefault) return INET_E_DEFAULT_ACTION;
  if (policy != nullptr && policySize >= sizeof(DWORD)) {
    const DWORD value = answer.policy;
    ::memcpy(policy, &value, sizeof value);
  }
  return answer.kind == UrlActionAnswer::kAllowed ? S_OK : S_FALSE;
}

// A custom policy answered "disallow": one DWORD, allocated for the caller to free with CoTaskMemFree.
HRESULT refuseCustomPolicy(BYTE** policy, DWORD* policySize) {
  if (policy == nullptr || policySize == nullptr) return E_POINTER;
  *policy = nullptr;
  *policySize = 0;
  auto* value = static_cast<DWORD*>(::CoTaskMemAlloc(sizeof(DWORD)));
  if (value == nullptr) return E_OUTOFMEMORY;
  *value = kUrlPolicyDisallow;
  *policy = reinterpret_cast<BYTE*>(value);
  *policySize = sizeof(DWORD);
  return S_OK;
}

}  // namespace

HRESULT PageSecurityManager::create(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  auto* manager = new (std::nothrow) PageSecurityManager;
  if (manager == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = manager->QueryInterface(iid, out);
  manager->Release();
  return result;
}

HRESULT PageSecurityManager::SetSecuritySite(IInternetSecurityMgrSite*) { return INET_E_DEFAULT_ACTION; }

HRESULT PageSecurityManager::GetSecuritySite(IInternetSecurityMgrSite** site) {
  if (site != nullptr) *site = nullptr;
  return INET_E_DEFAULT_ACTION;
}

HRESULT PageSecurityManager::MapUrlToZone(LPCWSTR, DWORD*, DWORD) { return INET_E_DEFAULT_ACTION; }

HRESULT PageSecurityManager::GetSecurityId(LPCWSTR, BYTE*, DWORD*, DWORD_PTR) { return INET_E_DEFAULT_ACTION; }

HRESULT PageSecurityManager::ProcessUrlAction(LPCWSTR, DWORD action, BYTE* policy, DWORD policySize, BYTE*, DWORD,
                                              DWORD, DWORD) {
  return answerUrlAction(action, policy, policySize);
}

HRESULT PageSecurityManager::QueryCustomPolicy(LPCWSTR, REFGUID key, BYTE** policy, DWORD* policySize, BYTE*, DWORD,
                                               DWORD) {
  // Whether an object the document has made may be handed to its scripts: never.
  if (IsEqualGUID(key, kConfirmObjectSafetyPolicy)) return refuseCustomPolicy(policy, policySize);
  return INET_E_DEFAULT_ACTION;
}

HRESULT PageSecurityManager::SetZoneMapping(DWORD, LPCWSTR, DWORD) { return INET_E_DEFAULT_ACTION; }

HRESULT PageSecurityManager::GetZoneMappings(DWORD, IEnumString** mappings, DWORD) {
  if (mappings != nullptr) *mappings = nullptr;
  return INET_E_DEFAULT_ACTION;
}

HRESULT PageSecurityManager::GetSecurityId(BYTE*, DWORD*, DWORD_PTR) { return E_NOTIMPL; }

HRESULT PageSecurityManager::ProcessUrlAction(DWORD action, BYTE* policy, DWORD policySize, BYTE*, DWORD, DWORD,
                                              DWORD) {
  return answerUrlAction(action, policy, policySize);
}

HRESULT PageSecurityManager::QueryCustomPolicy(REFGUID, BYTE** policy, DWORD* policySize, BYTE*, DWORD, DWORD) {
  return refuseCustomPolicy(policy, policySize);
}

}  // namespace htmlui
