// Win32 code. The document site's answers to the document's host questions: ambient properties, host UI flags
// and context menus, message boxes, the client, in-place and frame site rows, and commands.
#include <mshtmdid.h>
#include <urlmon.h>

#include <cwchar>
#include <optional>
#include <string>

#include "htmlui/mshtml_client_win.h"
#include "htmlui/mshtml_external_win.h"
#include "htmlui/page_location.h"
#include "htmlui/page_security_manager_win.h"

namespace htmlui {

namespace {

// Images, videos and background sounds load; scripts and controls are not restricted; content is
// revalidated rather than taken from the cache.
constexpr LONG kDownloadControl = DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS | DLCTL_RESYNCHRONIZE;
static_assert(kDownloadControl == 0x2070, "download control flags");

// A dialog-like, borderless, themed, DPI-aware page with no help menu that navigates in place.
constexpr DWORD kHostFlags = DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_DISABLE_HELP_MENU |
                             DOCHOSTUIFLAG_ENABLE_INPLACE_NAVIGATION | DOCHOSTUIFLAG_THEME |
                             DOCHOSTUIFLAG_NO3DOUTERBORDER | DOCHOSTUIFLAG_DPI_AWARE;
static_assert(kHostFlags == 0x40250003, "host UI flags");

// Context menus the document may show: the edit menu of controls and selected text, and the menus of
// the horizontal scroll bar and of media. Every other kind (page background, images, tables, links,
// the vertical scroll bar...) shows nothing.
bool showsStandardMenu(DWORD kind) {
  return kind == CONTEXT_MENU_CONTROL || kind == CONTEXT_MENU_TEXTSELECT || kind == CONTEXT_MENU_HSCROLL ||
         kind == CONTEXT_MENU_MEDIA;
}

// Commands of the document-host group that are answered without action, so that the document does
// not carry them out itself.
constexpr DWORD kSwallowedHostCommands[] = {6, 6041};

template <typename T>
void clearOut(T** out) {
  if (out != nullptr) *out = nullptr;
}

}  // namespace

// IDispatch: ambient properties.

HRESULT MSHTMLClient::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT MSHTMLClient::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT MSHTMLClient::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT MSHTMLClient::Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) {
  if (dispid != DISPID_AMBIENT_DLCONTROL) return DISP_E_MEMBERNOTFOUND;
  if (result == nullptr) return E_POINTER;
  ::VariantInit(result);
  V_VT(result) = VT_I4;
  V_I4(result) = kDownloadControl;
  return S_OK;
}

// IDocHostUIHandler2.

HRESULT MSHTMLClient::ShowContextMenu(DWORD id, POINT*, IUnknown*, IDispatch*) {
  return showsStandardMenu(id) ? S_FALSE : S_OK;
}

HRESULT MSHTMLClient::GetHostInfo(DOCHOSTUIINFO* info) {
  if (info == nullptr) return E_POINTER;
  // cbSize stays as the document set it.
  info->dwFlags = kHostFlags;
  info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  info->pchHostCss = nullptr;
  info->pchHostNS = nullptr;
  return S_OK;
}

HRESULT MSHTMLClient::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                             IOleInPlaceUIWindow*) {
  return S_FALSE;
}
HRESULT MSHTMLClient::HideUI() { return S_OK; }
HRESULT MSHTMLClient::UpdateUI() { return S_OK; }
HRESULT MSHTMLClient::EnableModeless(WINBOOL) { return S_OK; }
HRESULT MSHTMLClient::OnDocWindowActivate(WINBOOL) { return E_NOTIMPL; }
HRESULT MSHTMLClient::OnFrameWindowActivate(WINBOOL) { return E_NOTIMPL; }
HRESULT MSHTMLClient::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, WINBOOL) { return E_NOTIMPL; }
// The document handles its own accelerators.
HRESULT MSHTMLClient::TranslateAccelerator(LPMSG, const GUID*, DWORD) { return E_NOTIMPL; }

HRESULT MSHTMLClient::GetOptionKeyPath(LPOLESTR* key, DWORD) {
  clearOut(key);
  return S_FALSE;
}
HRESULT MSHTMLClient::GetOverrideKeyPath(LPOLESTR* key, DWORD) {
  clearOut(key);
  return S_FALSE;
}

HRESULT MSHTMLClient::GetDropTarget(IDropTarget*, IDropTarget** replacement) {
  clearOut(replacement);
  return E_FAIL;
}

std::u16string MSHTMLClient::documentUrl() {
  if (!document_) return {};
  Microsoft::WRL::ComPtr<IHTMLDocument2> document = document_;
  DISPPARAMS noArguments = {nullptr, nullptr, 0, 0};
  VARIANT url;
  ::VariantInit(&url);
  const HRESULT result = document->Invoke(DISPID_IHTMLDOCUMENT2_URL, IID_NULL, LOCALE_SYSTEM_DEFAULT,
                                          DISPATCH_PROPERTYGET, &noArguments, &url, nullptr, nullptr);
  std::u16string text;
  if (SUCCEEDED(result) && V_VT(&url) == VT_BSTR && V_BSTR(&url) != nullptr) {
    text.assign(V_BSTR(&url), V_BSTR(&url) + ::SysStringLen(V_BSTR(&url)));
  }
  ::VariantClear(&url);
  return text;
}

bool MSHTMLClient::documentIsFromPageFolder() {
  const std::u16string url = documentUrl();
  return !url.empty() && isPageFolderUrl(url, {});
}

bool MSHTMLClient::isPageFolderUrl(const std::u16string& url, const std::u16string& base) const {
  if (isInsidePageFolder(url, pageFolder_, base)) return true;
  if (pageFolderLong_.empty()) return false;
  const std::optional<std::u16string> path = base.empty() ? localPageLocation(url) : resolvePageReference(url, base);
  return path && isInsidePageFolder(longPathOf(*path), pageFolderLong_);
}

HRESULT MSHTMLClient::GetExternal(IDispatch** external) {
  if (external == nullptr) return E_POINTER;
  *external = nullptr;
  // Scripts then see no window.external: none to hand out, or a document that is not one of ours.
  if (scriptObject_ == nullptr || !documentIsFromPageFolder()) return S_FALSE;
  *external = scriptObject_;
  scriptObject_->AddRef();
  return S_OK;
}

HRESULT MSHTMLClient::TranslateUrl(DWORD, LPWSTR urlIn, LPWSTR* urlOut) {
  if (urlOut == nullptr) return E_POINTER;
  *urlOut = nullptr;
  if (urlIn == nullptr) return S_FALSE;
  const std::wstring url(urlIn);
  // A relative URL is the current document's to resolve; before the first one, the start page's.
  std::u16string base = documentUrl();
  if (base.empty()) base = startPage_;
  if (isPageFolderUrl(std::u16string(url.begin(), url.end()), base)) return S_FALSE;  // goes as it is
  if (scriptObject_ != nullptr) scriptObject_->OnNavigationRefused(url);
  // Anywhere else the window shows an empty page instead: the document loads nothing from outside.
  static const wchar_t kBlank[] = L"about:blank";
  auto* blank = static_cast<LPWSTR>(::CoTaskMemAlloc(sizeof kBlank));
  if (blank == nullptr) return E_OUTOFMEMORY;
  std::wmemcpy(blank, kBlank, sizeof kBlank / sizeof kBlank[0]);
  *urlOut = blank;
  return S_OK;
}

HRESULT MSHTMLClient::FilterDataObject(IDataObject*, IDataObject** replacement) {
  clearOut(replacement);
  return E_NOTIMPL;
}

// IDocHostShowUI: page scripts' alert and confirm never appear; pages use the script object's own
// message box.

HRESULT MSHTMLClient::ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD, LPOLESTR, DWORD, LRESULT*) { return S_OK; }
HRESULT MSHTMLClient::ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) { return E_NOTIMPL; }

// IOleClientSite.

HRESULT MSHTMLClient::SaveObject() { return E_NOTIMPL; }
HRESULT MSHTMLClient::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  clearOut(moniker);
  return E_NOTIMPL;
}
HRESULT MSHTMLClient::GetContainer(IOleContainer** container) {
  clearOut(container);
  return E_NOINTERFACE;
}
HRESULT MSHTMLClient::ShowObject() { return E_NOTIMPL; }
HRESULT MSHTMLClient::OnShowWindow(WINBOOL) { return E_NOTIMPL; }
HRESULT MSHTMLClient::RequestNewObjectLayout() { return E_NOTIMPL; }

// IOleWindow, for the in-place site and the frame alike.

HRESULT MSHTMLClient::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = hostWindow_;
  return hostWindow_ != nullptr ? S_OK : E_FAIL;  // E_FAIL once the window has gone
}
HRESULT MSHTMLClient::ContextSensitiveHelp(WINBOOL) { return E_NOTIMPL; }

// IOleInPlaceSiteEx.

HRESULT MSHTMLClient::CanInPlaceActivate() { return S_OK; }
HRESULT MSHTMLClient::OnInPlaceActivate() { return S_OK; }
HRESULT MSHTMLClient::OnUIActivate() { return S_OK; }

HRESULT MSHTMLClient::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** documentWindow,
                                       LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) {
  if (frame == nullptr || documentWindow == nullptr || position == nullptr || clip == nullptr ||
      frameInfo == nullptr) {
    return E_POINTER;
  }
  *frame = static_cast<IOleInPlaceFrame*>(this);
  AddRef();
  *documentWindow = nullptr;
  RECT client = {0, 0, 0, 0};
  clientRect(&client);
  *position = client;
  *clip = client;
  // cb stays as the document set it.
  frameInfo->fMDIApp = FALSE;
  frameInfo->hwndFrame = hostWindow_;
  frameInfo->haccel = nullptr;
  frameInfo->cAccelEntries = 0;
  return S_OK;
}

HRESULT MSHTMLClient::Scroll(SIZE) { return E_NOTIMPL; }
HRESULT MSHTMLClient::OnUIDeactivate(WINBOOL) { return S_OK; }
HRESULT MSHTMLClient::OnInPlaceDeactivate() { return S_OK; }
HRESULT MSHTMLClient::DiscardUndoState() { return E_NOTIMPL; }
HRESULT MSHTMLClient::DeactivateAndUndo() { return E_NOTIMPL; }
HRESULT MSHTMLClient::OnPosRectChange(LPCRECT) { return E_NOTIMPL; }

HRESULT MSHTMLClient::OnInPlaceActivateEx(WINBOOL* noRedraw, DWORD) {
  if (noRedraw != nullptr) *noRedraw = TRUE;
  return S_OK;
}
HRESULT MSHTMLClient::OnInPlaceDeactivateEx(WINBOOL) { return S_OK; }
HRESULT MSHTMLClient::RequestUIActivate() { return S_OK; }

// IOleInPlaceFrame: no menus, no borders, no status bar.

HRESULT MSHTMLClient::GetBorder(LPRECT) { return E_NOTIMPL; }
HRESULT MSHTMLClient::RequestBorderSpace(LPCBORDERWIDTHS) { return E_NOTIMPL; }
HRESULT MSHTMLClient::SetBorderSpace(LPCBORDERWIDTHS) { return E_NOTIMPL; }
HRESULT MSHTMLClient::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) { return S_OK; }
HRESULT MSHTMLClient::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) { return E_NOTIMPL; }
HRESULT MSHTMLClient::SetMenu(HMENU, HOLEMENU, HWND) { return E_NOTIMPL; }
HRESULT MSHTMLClient::RemoveMenus(HMENU) { return E_NOTIMPL; }
HRESULT MSHTMLClient::SetStatusText(LPCOLESTR) { return S_OK; }
HRESULT MSHTMLClient::TranslateAccelerator(LPMSG, WORD) { return E_NOTIMPL; }

// IOleCommandTarget.

HRESULT MSHTMLClient::QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) { return E_NOTIMPL; }

HRESULT MSHTMLClient::Exec(const GUID* group, DWORD command, DWORD, VARIANT* in, VARIANT*) {
  if (group != nullptr) {
    if (*group != kDocHostCommandHandlerGroup) return OLECMDERR_E_UNKNOWNGROUP;
    for (DWORD swallowed : kSwallowedHostCommands) {
      if (command == swallowed) return S_OK;
    }
    return OLECMDERR_E_NOTSUPPORTED;
  }
  if (command != OLECMDID_SETTITLE) return E_NOTIMPL;
  // The document's title becomes the caption, and so the taskbar button's text.
  if (in != nullptr && V_VT(in) == VT_BSTR && hostWindow_ != nullptr) {
    ::SetWindowTextW(hostWindow_, V_BSTR(in) != nullptr ? V_BSTR(in) : L"");
  }
  return S_OK;
}

// IServiceProvider.

HRESULT MSHTMLClient::QueryService(REFGUID service, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualGUID(service, SID_SInternetSecurityManager)) return E_NOINTERFACE;
  return PageSecurityManager::create(iid, out);
}

}  // namespace htmlui
