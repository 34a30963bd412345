// Win32 code. The object that a page reaches as `window.external`: IDispatchEx by hand, without a type
// library. A derived class hands out a fixed table of named methods; this base turns the script
// engine's look-ups and calls into calls of those methods, and keeps the members that a script adds
// at run time (expando members).
#pragma once

#include <windows.h>

#include <string>

#include <dispex.h>
#include <oaidl.h>

#include <cstddef>

#include "htmlui/named_dispatch_win.h"
#include "sysenv/com_object_win.h"

namespace htmlui {

class MSHTMLClient;  // the document site
class MSHTMLExternal;

// A derived class's handler: (call flags, arguments as the engine built them, result or null).
// Handlers of a derived class go into its table through static_cast<MethodHandler> (HTMLUI_METHOD).
using MethodHandler = HRESULT (MSHTMLExternal::*)(WORD flags, DISPPARAMS* params, VARIANT* result);

// One row of a method table. Row i has DISPID i + 1; names are compared exactly (GetIDsOfNames) or
// by the caller's case rule (GetDispID).
struct MethodEntry {
  const wchar_t* name;
  MethodHandler handler;
};

// A row naming a handler of `Class` after itself: HTMLUI_METHOD(HtmlExternal, getProperty).
#define HTMLUI_METHOD(Class, name) \
  ::htmlui::MethodEntry { L## #name, static_cast<::htmlui::MethodHandler>(&Class::name) }

// What GetMethodTable does with its static table: `return htmlui::exposeMethodTable(kTable, table);`
template <std::size_t Rows>
UINT exposeMethodTable(const MethodEntry (&rows)[Rows], const MethodEntry** table) {
  *table = rows;
  return static_cast<UINT>(Rows);
}

// The one interface pointer serves IUnknown, IDispatch and IDispatchEx. The count is interlocked,
// although every COM call arrives on the UI thread: each job holds a reference that its worker
// releases as its last step, so the count also changes on worker threads, and the last release (and
// the destructor) may run there.
using MSHTMLExternalBase =
    NamedDispatch<sysenv::ComObject<sysenv::InterlockedCount, sysenv::ComInterface<IDispatchEx, IDispatch>>>;

class MSHTMLExternal : public MSHTMLExternalBase {
 public:
  // IDispatch (GetIDsOfNames, Invoke) over the fixed methods, exact case: NamedDispatch.

  // IDispatchEx. Fixed methods first, then expando members (DISPID 0x80000000 | index).
  HRESULT STDMETHODCALLTYPE GetDispID(BSTR name, DWORD grfdex, DISPID* dispid) override;
  HRESULT STDMETHODCALLTYPE InvokeEx(DISPID dispid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excepinfo,
                                     IServiceProvider* caller) override;
  HRESULT STDMETHODCALLTYPE DeleteMemberByName(BSTR name, DWORD grfdex) override;
  HRESULT STDMETHODCALLTYPE DeleteMemberByDispID(DISPID dispid) override;
  HRESULT STDMETHODCALLTYPE GetMemberProperties(DISPID dispid, DWORD fetchMask,
                                                DWORD* properties) override;  // E_NOTIMPL
  HRESULT STDMETHODCALLTYPE GetMemberName(DISPID dispid, BSTR* name) override;  // E_NOTIMPL
  // E_NOTIMPL: the object cannot be enumerated.
  HRESULT STDMETHODCALLTYPE GetNextDispID(DWORD grfdex, DISPID dispid, DISPID* next) override;
  HRESULT STDMETHODCALLTYPE GetNameSpaceParent(IUnknown** parent) override;  // E_NOTIMPL

  // The host window attaches itself at creation and detaches (null) at destruction. The base stores
  // the handle and, on detaching, releases the member values (releaseMemberValues); derived classes
  // add their window set-up and call this.
  virtual void SetHostWindow(HWND window);
  // The document site calls this, passing itself, each time the document becomes complete.
  virtual void OnDocumentComplete(MSHTMLClient* site) = 0;
  // The document site refused to go to `url`, which is no page of the start page's folder, and shows
  // an empty page instead. For the run's log, where a support engineer looks for a page that
  // vanished; nothing by default.
  virtual void OnNavigationRefused(const std::wstring& url) { (void)url; }
  // Writes the class's static method table and returns its row count; the same table every time.
  virtual UINT GetMethodTable(const MethodEntry** table) = 0;

  HWND hostWindow() const { return hostWindow_; }

  // Empties the value of every expando member; names and DISPIDs stay. Values may be page objects
  // (functions) of the document's script engine, which must be released on the UI thread while its
  // apartment is open, not by a destructor that may run later on a worker or after CoUninitialize.
  void releaseMemberValues();

 protected:
  MSHTMLExternal();  // reference count 1, owned by the creator
  // Frees the expando members. May run on a job's worker thread when that worker holds the last
  // reference.
  ~MSHTMLExternal() override;

  UINT methodCount() override;
  const wchar_t* methodName(UINT row) override;
  // The row's handler; DISP_E_MEMBERNOTFOUND for a row without one.
  HRESULT invokeMethod(UINT row, WORD flags, DISPPARAMS* params, VARIANT* result) override;

 private:
  friend struct MSHTMLExternalTestAccess;  // injects allocation failures in tests

  // One expando member. A value whose type field is kDeletedMemberType marks a deleted member: the
  // record keeps its slot and DISPID, and its value is never handed to VariantClear or VariantCopy.
  struct DynamicMember {
    wchar_t* name;
    VARIANT value;
  };
  using Reallocate = void* (*)(void* block, std::size_t bytes);

  HRESULT appendMember(const wchar_t* name, DISPID* dispid);
  HRESULT invokeMember(DynamicMember& member, LCID lcid, WORD flags, DISPPARAMS* params,
                       VARIANT* result, EXCEPINFO* excepinfo, IServiceProvider* caller);

  DynamicMember* members_ = nullptr;
  ULONG memberCount_ = 0;
  HWND hostWindow_ = nullptr;
  Reallocate reallocate_;  // std::realloc, except in tests
};

}  // namespace htmlui
