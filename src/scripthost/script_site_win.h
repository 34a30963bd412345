// Win32 code. The host side of an IActiveScript engine: the named items it hands out to the script,
// the script errors it receives, and the security manager it serves to an engine told to use one
// (htmlui::PageSecurityManager: no object made for a script). Reference counted because the engine
// holds it; whoever makes it holds the first reference. A derived site decides what a script error
// is worth.
#pragma once

#include <windows.h>

#include <activscp.h>
#include <servprov.h>

#include <map>
#include <string>

#include "sysenv/com_object_win.h"

namespace scripthost {

class ScriptSite : public sysenv::ComObject<sysenv::InterlockedCount, sysenv::ComInterface<IActiveScriptSite>,
                                            sysenv::ComInterface<IServiceProvider>> {
 public:
  // One script error as the engine reports it.
  struct Error {
    HRESULT code = S_OK;  // the exception's scode, or its wCode
    std::wstring description;
    DWORD_PTR context = 0;  // the source context cookie the script text was parsed with
    ULONG line = 0;         // 0-based, as the engine reports it
  };

  HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** typeInfo) override;
  HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override;
  HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

  // IServiceProvider: SID_SInternetHostSecurityManager only, a new refusing manager each time.
  HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID iid, void** out) override;

  // Holds a reference on `object` as the item `name` (replacing an earlier one of that name).
  void addItem(const std::wstring& name, IUnknown* object);
  // Releases every item; after the engine is closed, so that it asks for none again.
  void dropItems();

 protected:
  ScriptSite() = default;
  ~ScriptSite() override { dropItems(); }
  virtual void onScriptError(const Error& error) = 0;

 private:
  std::map<std::wstring, IUnknown*> items_;
};

// Frees the strings of an EXCEPINFO and clears it.
void freeExceptionStrings(EXCEPINFO& exception);

}  // namespace scripthost
