// Win32 code.
#include "support/fake_html_document_win.h"

#include <mshtmdid.h>
#include <olectl.h>

#include "htmlui/mshtml_client_win.h"

namespace testsupport {

using Microsoft::WRL::ComPtr;

FakeHtmlDocument::FakeHtmlDocument() : point_(*this) {
  ::VariantInit(&readyState);
  V_VT(&readyState) = VT_I4;
  V_I4(&readyState) = 4;
}

FakeHtmlDocument::~FakeHtmlDocument() { ::VariantClear(&readyState); }

template <typename T>
void FakeHtmlDocument::dropSite(ComPtr<T>& held) {
  if (!held) return;
  T* site = held.Detach();
  lastSiteReleaseCount = site->Release();
}

HRESULT FakeHtmlDocument::fireChanged(DISPID dispid) {
  if (!sink) return E_FAIL;
  ComPtr<IPropertyNotifySink> subscriber = sink;
  return subscriber->OnChanged(dispid);
}

// IDispatch.

HRESULT FakeHtmlDocument::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT FakeHtmlDocument::Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO*, UINT*) {
  if (dispid == DISPID_IHTMLDOCUMENT2_URL && (flags & DISPATCH_PROPERTYGET) != 0 && result != nullptr) {
    ::VariantInit(result);
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = ::SysAllocString(url.c_str());
    return S_OK;
  }
  lastInvokeDispid = dispid;
  lastInvokeLocale = lcid;
  lastInvokeFlags = flags;
  lastInvokeIidWasNull = iid == IID_NULL;
  if (dispid != DISPID_READYSTATE) return DISP_E_MEMBERNOTFOUND;
  ++readyStateReads;
  if (params == nullptr || params->cArgs != 0 || result == nullptr) return E_INVALIDARG;
  if (FAILED(readyStateResult)) return readyStateResult;
  return ::VariantCopy(result, &readyState);
}

// IOleObject.

HRESULT FakeHtmlDocument::SetClientSite(IOleClientSite* site) {
  if (failSetClientSite && site != nullptr) return E_FAIL;
  dropSite(clientSite);
  clientSite = site;
  return S_OK;
}
HRESULT FakeHtmlDocument::GetClientSite(IOleClientSite** site) {
  *site = clientSite.Get();
  if (*site != nullptr) (*site)->AddRef();
  return S_OK;
}
HRESULT FakeHtmlDocument::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }
HRESULT FakeHtmlDocument::Close(DWORD) { return S_OK; }
HRESULT FakeHtmlDocument::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::GetMoniker(DWORD, DWORD, IMoniker**) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::InitFromData(IDataObject*, WINBOOL, DWORD) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::GetClipboardData(DWORD, IDataObject**) { return E_NOTIMPL; }

HRESULT FakeHtmlDocument::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND parent,
                                 LPCRECT position) {
  ++doVerbCount;
  lastVerb = verb;
  lastVerbParent = parent;
  if (position != nullptr) lastVerbRect = *position;
  if (failDoVerb) return E_FAIL;
  if (activateOnDoVerb && activeSite != nullptr) {
    ComPtr<IOleDocumentSite> documentSite;
    if (SUCCEEDED(activeSite->QueryInterface(IID_IOleDocumentSite, reinterpret_cast<void**>(documentSite.GetAddressOf())))) {
      return documentSite->ActivateMe(nullptr);
    }
  }
  return S_OK;
}

HRESULT FakeHtmlDocument::EnumVerbs(IEnumOLEVERB**) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::Update() { return S_OK; }
HRESULT FakeHtmlDocument::IsUpToDate() { return S_OK; }
HRESULT FakeHtmlDocument::GetUserClassID(CLSID*) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::GetUserType(DWORD, LPOLESTR*) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::SetExtent(DWORD, SIZEL*) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::GetExtent(DWORD, SIZEL*) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::Advise(IAdviseSink*, DWORD*) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::Unadvise(DWORD) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::EnumAdvise(IEnumSTATDATA**) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::GetMiscStatus(DWORD, DWORD*) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// IConnectionPointContainer and its one point.

HRESULT FakeHtmlDocument::EnumConnectionPoints(IEnumConnectionPoints**) { return E_NOTIMPL; }

HRESULT FakeHtmlDocument::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  *point = nullptr;
  if (iid != IID_IPropertyNotifySink) return CONNECT_E_NOCONNECTION;
  *point = &point_;
  point_.AddRef();
  return S_OK;
}

HRESULT FakeHtmlDocument::PropertyNotifyPoint::GetConnectionInterface(IID* iid) {
  *iid = IID_IPropertyNotifySink;
  return S_OK;
}

HRESULT FakeHtmlDocument::PropertyNotifyPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  *container = static_cast<IConnectionPointContainer*>(&owner_);
  owner_.AddRef();
  return S_OK;
}

HRESULT FakeHtmlDocument::PropertyNotifyPoint::Advise(IUnknown* subscriber, DWORD* cookie) {
  *cookie = 0;
  ++owner_.adviseCount;
  if (owner_.failAdvise) return E_FAIL;
  if (owner_.sink) return CONNECT_E_ADVISELIMIT;
  ComPtr<IPropertyNotifySink> notifySink;
  if (subscriber == nullptr ||
      FAILED(subscriber->QueryInterface(IID_IPropertyNotifySink, reinterpret_cast<void**>(notifySink.GetAddressOf())))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  owner_.sink = std::move(notifySink);
  owner_.cookie_ = 0x51;
  *cookie = owner_.cookie_;
  return S_OK;
}

HRESULT FakeHtmlDocument::PropertyNotifyPoint::Unadvise(DWORD cookie) {
  ++owner_.unadviseCount;
  if (!owner_.sink || cookie != owner_.cookie_) return CONNECT_E_NOCONNECTION;
  owner_.dropSite(owner_.sink);
  owner_.cookie_ = 0;
  return S_OK;
}

HRESULT FakeHtmlDocument::PropertyNotifyPoint::EnumConnections(IEnumConnections**) { return E_NOTIMPL; }

// IPersistMoniker.

HRESULT FakeHtmlDocument::GetClassID(CLSID* clsid) {
  *clsid = htmlui::kHtmlDocumentClsid;
  return S_OK;
}
HRESULT FakeHtmlDocument::IsDirty() { return S_FALSE; }

HRESULT FakeHtmlDocument::Load(WINBOOL fullyAvailable, IMoniker* name, LPBC bindContext, DWORD) {
  ++loadCount;
  loadFullyAvailable = fullyAvailable;
  loadedUrl.clear();
  if (name != nullptr) {
    LPOLESTR displayName = nullptr;
    if (SUCCEEDED(name->GetDisplayName(bindContext, nullptr, &displayName)) && displayName != nullptr) {
      loadedUrl = displayName;
      ::CoTaskMemFree(displayName);
    }
  }
  return failLoad ? E_FAIL : S_OK;
}

HRESULT FakeHtmlDocument::Save(IMoniker*, LPBC, WINBOOL) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::SaveCompleted(IMoniker*, LPBC) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::GetCurMoniker(IMoniker**) { return E_NOTIMPL; }

// IOleWindow, IOleInPlaceActiveObject, IOleInPlaceObject.

HRESULT FakeHtmlDocument::GetWindow(HWND* window) {
  if (window == nullptr || documentWindow == nullptr) return E_NOTIMPL;
  *window = documentWindow;
  return S_OK;
}
HRESULT FakeHtmlDocument::ContextSensitiveHelp(WINBOOL) { return E_NOTIMPL; }

HRESULT FakeHtmlDocument::TranslateAccelerator(LPMSG message) {
  ++translateAcceleratorCount;
  return message != nullptr && consumedMessage != 0 && message->message == consumedMessage ? S_OK : S_FALSE;
}

HRESULT FakeHtmlDocument::OnFrameWindowActivate(WINBOOL) { return S_OK; }
HRESULT FakeHtmlDocument::OnDocWindowActivate(WINBOOL) { return S_OK; }
HRESULT FakeHtmlDocument::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, WINBOOL) { return S_OK; }
HRESULT FakeHtmlDocument::EnableModeless(WINBOOL) { return S_OK; }
HRESULT FakeHtmlDocument::InPlaceDeactivate() { return S_OK; }
HRESULT FakeHtmlDocument::UIDeactivate() { return S_OK; }

HRESULT FakeHtmlDocument::SetObjectRects(LPCRECT position, LPCRECT) {
  ++setObjectRectsCount;
  if (position != nullptr) objectRect = *position;
  return S_OK;
}

HRESULT FakeHtmlDocument::ReactivateAndUndo() { return E_NOTIMPL; }

// IOleDocument.

HRESULT FakeHtmlDocument::CreateView(IOleInPlaceSite* site, IStream*, DWORD, IOleDocumentView** view) {
  ++createViewCount;
  if (site != nullptr) SetInPlaceSite(site);
  *view = static_cast<IOleDocumentView*>(this);
  AddRef();
  return S_OK;
}

HRESULT FakeHtmlDocument::GetDocMiscStatus(DWORD*) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::EnumViews(IEnumOleDocumentViews**, IOleDocumentView**) { return E_NOTIMPL; }

// IOleDocumentView.

HRESULT FakeHtmlDocument::SetInPlaceSite(IOleInPlaceSite* site) {
  if (site == inPlaceSite.Get()) return S_OK;
  dropSite(inPlaceSite);
  inPlaceSite = site;
  return S_OK;
}

HRESULT FakeHtmlDocument::GetInPlaceSite(IOleInPlaceSite** site) {
  *site = inPlaceSite.Get();
  if (*site != nullptr) (*site)->AddRef();
  return S_OK;
}

HRESULT FakeHtmlDocument::GetDocument(IUnknown** document) {
  *document = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

HRESULT FakeHtmlDocument::SetRect(LPRECT view) {
  ++setRectCount;
  if (view != nullptr) viewRect = *view;
  return S_OK;
}

HRESULT FakeHtmlDocument::GetRect(LPRECT view) {
  *view = viewRect;
  return S_OK;
}

HRESULT FakeHtmlDocument::SetRectComplex(LPRECT, LPRECT, LPRECT, LPRECT) { return E_NOTIMPL; }

HRESULT FakeHtmlDocument::Show(WINBOOL show) {
  viewShown = show != FALSE;
  return S_OK;
}

HRESULT FakeHtmlDocument::UIActivate(WINBOOL activate) {
  viewUiActive = activate != FALSE;
  return S_OK;
}

HRESULT FakeHtmlDocument::Open() { return E_NOTIMPL; }

HRESULT FakeHtmlDocument::CloseView(DWORD) {
  ++closeViewCount;
  viewShown = false;
  viewUiActive = false;
  dropSite(inPlaceSite);
  return S_OK;
}

HRESULT FakeHtmlDocument::SaveViewState(LPSTREAM) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::ApplyViewState(LPSTREAM) { return E_NOTIMPL; }
HRESULT FakeHtmlDocument::Clone(IOleInPlaceSite*, IOleDocumentView**) { return E_NOTIMPL; }

// The class object.

HRESULT ScopedFakeHtmlDocumentClass::Factory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  *out = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  ++createCount;
  return document->QueryInterface(iid, out);
}

ScopedFakeHtmlDocumentClass::ScopedFakeHtmlDocumentClass(FakeHtmlDocument* document) {
  factory_.document = document;
  result_ = ::CoRegisterClassObject(htmlui::kHtmlDocumentClsid, &factory_, CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie_);
  if (FAILED(result_)) cookie_ = 0;
}

ScopedFakeHtmlDocumentClass::~ScopedFakeHtmlDocumentClass() {
  if (cookie_ != 0) ::CoRevokeClassObject(cookie_);
}

}  // namespace testsupport
