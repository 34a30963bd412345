// Win32 code. A stand-in for the system's HTML document object, which Wine does not have: a
// test registers it as the class object of CLSID_HTMLDocument in its own process, so that the
// document site's own CoCreateInstance gets it. It records what the site asks of it, holds the
// site's interfaces the way a document does, and lets the test fire ready-state changes.
//
// The site asks for IHTMLDocument2 but only ever calls IUnknown and IDispatch members through that
// pointer (QueryInterface for the OLE interfaces, Invoke for the ready state), so the fake hands out
// its IDispatch for it. Calling any IHTMLDocument2-only member through it would crash the test: that
// is intended, as the site must not depend on them.
#pragma once

#include <windows.h>

#include <docobj.h>
#include <mshtml.h>
#include <ocidl.h>
#include <oleidl.h>
#include <urlmon.h>
#include <wrl/client.h>

#include <string>
#include <utility>

#include "sysenv/com_object_win.h"

namespace testsupport {

class FakeHtmlDocument final
    : public sysenv::ComObject<sysenv::ApartmentCount, sysenv::ComInterface<IDispatch, IHTMLDocument2>,
                               sysenv::ComInterface<IOleObject>, sysenv::ComInterface<IConnectionPointContainer>,
                               sysenv::ComInterface<IPersistMoniker>, sysenv::ComInterface<IOleInPlaceActiveObject>,
                               sysenv::ComInterface<IOleInPlaceObject, IOleWindow>, sysenv::ComInterface<IOleDocument>,
                               sysenv::ComInterface<IOleDocumentView>> {
 public:
  FakeHtmlDocument();  // reference count 1, owned by the test

  // Failure injection and behaviour, set before the site uses the fake.
  bool failAdvise = false;
  bool failSetClientSite = false;
  bool failDoVerb = false;
  bool failLoad = false;
  bool offersActiveObject = true;     // QueryInterface(IOleInPlaceActiveObject)
  bool activateOnDoVerb = true;       // DoVerb calls the site's ActivateMe(null), as the real document does
  UINT consumedMessage = 0;           // TranslateAccelerator answers S_OK for this message number
  VARIANT readyState;                 // what Invoke(DISPID_READYSTATE) returns; VT_I4 4 at first
  HRESULT readyStateResult = S_OK;
  std::wstring url;                   // what the document's URL property reads (IHTMLDocument2::get_URL)
  HWND documentWindow = nullptr;      // what IOleWindow::GetWindow gives; none: E_NOTIMPL

  // What the site did.
  int adviseCount = 0, unadviseCount = 0;
  int doVerbCount = 0;
  LONG lastVerb = 0;
  HWND lastVerbParent = nullptr;
  RECT lastVerbRect = {-1, -1, -1, -1};
  int loadCount = 0;
  std::wstring loadedUrl;          // the moniker's display name
  BOOL loadFullyAvailable = TRUE;
  int createViewCount = 0;
  int setRectCount = 0;
  RECT viewRect = {-1, -1, -1, -1};
  int setObjectRectsCount = 0;
  RECT objectRect = {-1, -1, -1, -1};
  bool viewShown = false, viewUiActive = false;
  int closeViewCount = 0;
  int translateAcceleratorCount = 0;
  int readyStateReads = 0;
  DISPID lastInvokeDispid = 0;
  LCID lastInvokeLocale = 0;
  WORD lastInvokeFlags = 0;
  bool lastInvokeIidWasNull = false;

  // The site's interfaces that the fake holds, as a document does while it is hosted.
  Microsoft::WRL::ComPtr<IOleClientSite> clientSite;
  Microsoft::WRL::ComPtr<IPropertyNotifySink> sink;
  Microsoft::WRL::ComPtr<IOleInPlaceSite> inPlaceSite;
  // The count the site reported when the fake last let go of one of its interfaces: 1 when only the
  // host window's own reference was left.
  ULONG lastSiteReleaseCount = 0;

  bool holdsSiteReferences() const { return clientSite || sink || inPlaceSite; }
  // The fake's own reference count.
  LONG references() const { return referenceCount().value; }
  // Tells the subscribed sink that a property changed; E_FAIL when nobody is subscribed.
  HRESULT fireChanged(DISPID dispid);

  // IDispatch: the ready state only.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override;

  // IOleObject.
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override;
  HRESULT STDMETHODCALLTYPE Close(DWORD) override;
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override;
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override;
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, WINBOOL, DWORD) override;
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override;
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND parent,
                                   LPCRECT position) override;
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override;
  HRESULT STDMETHODCALLTYPE Update() override;
  HRESULT STDMETHODCALLTYPE IsUpToDate() override;
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID*) override;
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override;
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL*) override;
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD*) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override;
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override;
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD*) override;
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override;

  // IConnectionPointContainer: one connection point, for IPropertyNotifySink.
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

  // IPersistMoniker.
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override;
  HRESULT STDMETHODCALLTYPE IsDirty() override;
  HRESULT STDMETHODCALLTYPE Load(WINBOOL fullyAvailable, IMoniker* name, LPBC bindContext, DWORD mode) override;
  HRESULT STDMETHODCALLTYPE Save(IMoniker*, LPBC, WINBOOL) override;
  HRESULT STDMETHODCALLTYPE SaveCompleted(IMoniker*, LPBC) override;
  HRESULT STDMETHODCALLTYPE GetCurMoniker(IMoniker**) override;

  // IOleWindow (active object and in-place object).
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(WINBOOL) override;
  // IOleInPlaceActiveObject.
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message) override;
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(WINBOOL) override;
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(WINBOOL) override;
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, WINBOOL) override;
  HRESULT STDMETHODCALLTYPE EnableModeless(WINBOOL) override;
  // IOleInPlaceObject.
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE UIDeactivate() override;
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;

  // IOleDocument: CreateView hands out the fake itself as the view.
  HRESULT STDMETHODCALLTYPE CreateView(IOleInPlaceSite* site, IStream*, DWORD, IOleDocumentView** view) override;
  HRESULT STDMETHODCALLTYPE GetDocMiscStatus(DWORD*) override;
  HRESULT STDMETHODCALLTYPE EnumViews(IEnumOleDocumentViews**, IOleDocumentView**) override;

  // IOleDocumentView.
  HRESULT STDMETHODCALLTYPE SetInPlaceSite(IOleInPlaceSite* site) override;
  HRESULT STDMETHODCALLTYPE GetInPlaceSite(IOleInPlaceSite** site) override;
  HRESULT STDMETHODCALLTYPE GetDocument(IUnknown** document) override;
  HRESULT STDMETHODCALLTYPE SetRect(LPRECT view) override;
  HRESULT STDMETHODCALLTYPE GetRect(LPRECT view) override;
  HRESULT STDMETHODCALLTYPE SetRectComplex(LPRECT, LPRECT, LPRECT, LPRECT) override;
  HRESULT STDMETHODCALLTYPE Show(WINBOOL show) override;
  HRESULT STDMETHODCALLTYPE UIActivate(WINBOOL activate) override;
  HRESULT STDMETHODCALLTYPE Open() override;
  HRESULT STDMETHODCALLTYPE CloseView(DWORD) override;
  HRESULT STDMETHODCALLTYPE SaveViewState(LPSTREAM) override;
  HRESULT STDMETHODCALLTYPE ApplyViewState(LPSTREAM) override;
  HRESULT STDMETHODCALLTYPE Clone(IOleInPlaceSite*, IOleDocumentView**) override;

 private:
  ~FakeHtmlDocument() override;
  bool refuses(REFIID iid) override { return !offersActiveObject && IsEqualIID(iid, IID_IOleInPlaceActiveObject); }

  // The connection point lives inside the document and counts on the document's count.
  class PropertyNotifyPoint final
      : public sysenv::ComObject<sysenv::OwnerCount, sysenv::ComInterface<IConnectionPoint>> {
   public:
    explicit PropertyNotifyPoint(FakeHtmlDocument& owner)
        : ComObject(sysenv::OwnerCount{static_cast<IDispatch*>(&owner)}), owner_(owner) {}
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override;

   private:
    FakeHtmlDocument& owner_;
  };

  template <typename T>
  void dropSite(Microsoft::WRL::ComPtr<T>& held);

  PropertyNotifyPoint point_;
  DWORD cookie_ = 0;
};

// Makes CoCreateInstance(CLSID_HTMLDocument) in this process hand out `document` while alive.
class ScopedFakeHtmlDocumentClass {
 public:
  explicit ScopedFakeHtmlDocumentClass(FakeHtmlDocument* document);
  ~ScopedFakeHtmlDocumentClass();
  ScopedFakeHtmlDocumentClass(const ScopedFakeHtmlDocumentClass&) = delete;
  ScopedFakeHtmlDocumentClass& operator=(const ScopedFakeHtmlDocumentClass&) = delete;

  bool registered() const { return cookie_ != 0; }
  HRESULT registrationResult() const { return result_; }
  int createCount() const { return factory_.createCount; }

 private:
  // The factory lives as long as the registration object: COM's references only count.
  struct Factory final : public sysenv::ComObject<sysenv::ObservedCount, sysenv::ComInterface<IClassFactory>> {
    FakeHtmlDocument* document = nullptr;
    int createCount = 0;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(WINBOOL) override { return S_OK; }
  };

  Factory factory_;
  DWORD cookie_ = 0;
  HRESULT result_ = E_FAIL;
};

}  // namespace testsupport
