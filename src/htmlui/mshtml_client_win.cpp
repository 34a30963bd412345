// Win32 code. The document site's life: its identity and reference count, creating, loading, activating, sizing
// and closing the document, and the page-complete notification. The answers to the document's host
// questions are in mshtml_client_host_win.cpp.
#include "htmlui/mshtml_client_win.h"

#include <olectl.h>
#include <urlmon.h>

#include <utility>

#include "htmlui/mshtml_external_win.h"
#include "htmlui/page_location.h"
#include "sysenv/shell_win.h"
#include "sysenv/system_dll_win.h"
#include "sysenv/wide_text_win.h"

namespace htmlui {

using Microsoft::WRL::ComPtr;

const CLSID kHtmlDocumentClsid = {0x25336920, 0x03f9, 0x11cf, {0x8f, 0xd0, 0x00, 0xaa, 0x00, 0x68, 0x6f, 0x13}};
const GUID kDocHostCommandHandlerGroup = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};

namespace {

// The ready-state property is read with the system default locale, as the document expects from its
// host.
constexpr LCID kSystemDefaultLocale = 0x0800;
constexpr LONG kReadyStateComplete = 4;

template <typename T>
void** putVoid(ComPtr<T>& pointer) {
  return reinterpret_cast<void**>(pointer.ReleaseAndGetAddressOf());
}

}  // namespace

std::u16string longPathOf(const std::u16string& path) {
  if (path.empty()) return {};
  return sysenv::toU16(sysenv::longPathName(sysenv::toWide(path)));
}

MSHTMLClient::MSHTMLClient(HWND hostWindow, MSHTMLExternal* scriptObject)
    : hostWindow_(hostWindow), scriptObject_(scriptObject) {}

MSHTMLClient::~MSHTMLClient() { closeDocument(); }

bool MSHTMLClient::clientRect(RECT* rect) const {
  return hostWindow_ != nullptr && ::GetClientRect(hostWindow_, rect) != FALSE;
}

bool MSHTMLClient::createDocument() {
  ComPtr<IHTMLDocument2> document;
  if (FAILED(::CoCreateInstance(kHtmlDocumentClsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IHTMLDocument2),
                                putVoid(document)))) {
    return false;
  }
  closeDocument();
  document_ = std::move(document);

  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  if (FAILED(document_.As(&container)) ||
      FAILED(container->FindConnectionPoint(__uuidof(IPropertyNotifySink), point.ReleaseAndGetAddressOf())) ||
      FAILED(point->Advise(static_cast<IPropertyNotifySink*>(this), &notifyCookie_))) {
    return false;
  }

  ComPtr<IOleObject> object;
  if (FAILED(document_.As(&object)) || FAILED(object->SetClientSite(static_cast<IOleClientSite*>(this)))) {
    return false;
  }

  RECT client;
  if (!clientRect(&client)) return false;
  return SUCCEEDED(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0,
                                  hostWindow_, &client));
}

bool MSHTMLClient::loadUrl(const wchar_t* url) {
  if (!document_ || url == nullptr) return false;
  const std::wstring page(url);
  startPage_ = std::u16string(page.begin(), page.end());
  pageFolder_ = pageFolderOf(startPage_);
  pageFolderLong_ = longPathOf(pageFolder_);
  // URL monikers live in urlmon.dll, which is not a Known DLL: it comes from System32 only.
  static const auto createUrlMoniker =
      sysenv::systemFunction<decltype(&::CreateURLMonikerEx)>(L"urlmon.dll", "CreateURLMonikerEx");
  if (createUrlMoniker == nullptr) return false;

  ComPtr<IMoniker> moniker;
  ComPtr<IBindCtx> bindContext;
  ComPtr<IPersistMoniker> persist;
  if (FAILED(createUrlMoniker(nullptr, url, moniker.ReleaseAndGetAddressOf(), URL_MK_UNIFORM)) ||
      FAILED(::CreateBindCtx(0, bindContext.ReleaseAndGetAddressOf())) || FAILED(document_.As(&persist))) {
    return false;
  }
  return SUCCEEDED(persist->Load(FALSE, moniker.Get(), bindContext.Get(), 0));
}

HRESULT MSHTMLClient::activateView(IOleDocumentView* view) {
  // A second view replaces the first, which must let go of this site.
  if (view_ && view_.Get() != view) {
    ComPtr<IOleDocumentView> previous = std::move(view_);
    previous->CloseView(0);
  }
  view->SetInPlaceSite(static_cast<IOleInPlaceSiteEx*>(this));
  RECT client;
  if (clientRect(&client)) view->SetRect(&client);
  view->UIActivate(TRUE);
  view->Show(TRUE);
  view_ = view;
  return S_OK;
}

HRESULT MSHTMLClient::ActivateMe(IOleDocumentView* view) {
  if (view != nullptr) return activateView(view);
  // The document left it to the site to make its view.
  if (!document_) return E_UNEXPECTED;
  ComPtr<IOleDocument> document;
  HRESULT result = document_.As(&document);
  if (FAILED(result)) return result;
  ComPtr<IOleDocumentView> created;
  result = document->CreateView(static_cast<IOleInPlaceSiteEx*>(this), nullptr, 0, created.ReleaseAndGetAddressOf());
  if (FAILED(result)) return result;
  if (!created) return E_UNEXPECTED;
  return activateView(created.Get());
}

void MSHTMLClient::resizeDocument() {
  RECT client;
  if (!clientRect(&client)) return;
  if (view_) {
    view_->SetRect(&client);
    return;
  }
  ComPtr<IOleInPlaceObject> inPlace;
  if (document_ && SUCCEEDED(document_.As(&inPlace))) inPlace->SetObjectRects(&client, &client);
}

void MSHTMLClient::unadvise() {
  DWORD cookie = std::exchange(notifyCookie_, 0);
  if (cookie == 0 || !document_) return;
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  if (SUCCEEDED(document_.As(&container)) &&
      SUCCEEDED(container->FindConnectionPoint(__uuidof(IPropertyNotifySink), point.ReleaseAndGetAddressOf()))) {
    point->Unadvise(cookie);
  }
}

void MSHTMLClient::closeDocument() {
  // Each member is forgotten before the call out, so a call back into closeDocument finds nothing.
  if (view_) {
    ComPtr<IOleDocumentView> view = std::move(view_);
    view->CloseView(0);
  }
  unadvise();
  if (document_) {
    ComPtr<IHTMLDocument2> document = std::move(document_);
    ComPtr<IOleObject> object;
    if (SUCCEEDED(document.As(&object))) object->SetClientSite(nullptr);
  }
}

void MSHTMLClient::detach() {
  hostWindow_ = nullptr;
  scriptObject_ = nullptr;
}

HRESULT MSHTMLClient::OnChanged(DISPID dispid) {
  if (scriptObject_ == nullptr || dispid != DISPID_READYSTATE || !document_) return S_OK;
  ComPtr<IHTMLDocument2> document = document_;  // the document may be closed from the notification
  DISPPARAMS noArguments = {nullptr, nullptr, 0, 0};
  VARIANT state;
  ::VariantInit(&state);
  HRESULT result = document->Invoke(DISPID_READYSTATE, IID_NULL, kSystemDefaultLocale, DISPATCH_PROPERTYGET,
                                    &noArguments, &state, nullptr, nullptr);
  bool complete = SUCCEEDED(result) && V_VT(&state) == VT_I4 && V_I4(&state) == kReadyStateComplete;
  ::VariantClear(&state);
  if (complete) {
    // The script object may close the window, and so release this site, from inside the call.
    AddRef();
    scriptObject_->OnDocumentComplete(this);
    Release();
  }
  return S_OK;
}

HRESULT MSHTMLClient::OnRequestEdit(DISPID) { return S_OK; }

}  // namespace htmlui
