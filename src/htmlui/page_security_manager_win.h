// Win32 code. The security manager that pages run under, in the window and in the quiet run alike: a
// document asks it as its IInternetSecurityManager, a script engine as its host's
// IInternetHostSecurityManager. Both refuse what pages never need (htmlui/page_policy.h): creating
// ActiveX objects, scripting controls, downloads. Everything else is left to the zone's defaults.
#pragma once

#include <windows.h>

#include <urlmon.h>

#include "sysenv/com_object_win.h"

namespace htmlui {

// The custom policy that a script engine asks before it hands a newly made object to a script
// ({10200490-FA38-11D0-AC0E-00A0C90FFFC0}); spelled out because mingw's import libraries lack it.
extern const GUID kConfirmObjectSafetyPolicy;  // GUID_CUSTOM_CONFIRMOBJECTSAFETY

class PageSecurityManager final
    : public sysenv::ComObject<sysenv::InterlockedCount, sysenv::ComInterface<IInternetSecurityManager>,
                               sysenv::ComInterface<IInternetHostSecurityManager>> {
 public:
  // One reference, the caller's.
  PageSecurityManager() = default;

  // Hands out a new manager's `iid` (either interface, or IUnknown) for IServiceProvider::QueryService:
  // E_NOINTERFACE for any other interface, E_OUTOFMEMORY.
  static HRESULT create(REFIID iid, void** out);

  // IInternetSecurityManager: the document's questions. Only ProcessUrlAction and QueryCustomPolicy
  // decide anything; the rest is the zone's default (INET_E_DEFAULT_ACTION).
  HRESULT STDMETHODCALLTYPE SetSecuritySite(IInternetSecurityMgrSite* site) override;
  HRESULT STDMETHODCALLTYPE GetSecuritySite(IInternetSecurityMgrSite** site) override;
  HRESULT STDMETHODCALLTYPE MapUrlToZone(LPCWSTR url, DWORD* zone, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE GetSecurityId(LPCWSTR url, BYTE* id, DWORD* idSize, DWORD_PTR reserved) override;
  HRESULT STDMETHODCALLTYPE ProcessUrlAction(LPCWSTR url, DWORD action, BYTE* policy, DWORD policySize,
                                             BYTE* context, DWORD contextSize, DWORD flags, DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE QueryCustomPolicy(LPCWSTR url, REFGUID key, BYTE** policy, DWORD* policySize,
                                              BYTE* context, DWORD contextSize, DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE SetZoneMapping(DWORD zone, LPCWSTR pattern, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE GetZoneMappings(DWORD zone, IEnumString** mappings, DWORD flags) override;

  // IInternetHostSecurityManager: a script engine's questions. Every custom policy is refused: the
  // engine asks one only about an object it has made for a script.
  HRESULT STDMETHODCALLTYPE GetSecurityId(BYTE* id, DWORD* idSize, DWORD_PTR reserved) override;
  HRESULT STDMETHODCALLTYPE ProcessUrlAction(DWORD action, BYTE* policy, DWORD policySize, BYTE* context,
                                             DWORD contextSize, DWORD flags, DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE QueryCustomPolicy(REFGUID key, BYTE** policy, DWORD* policySize, BYTE* context,
                                              DWORD contextSize, DWORD reserved) override;
};

}  // namespace htmlui
