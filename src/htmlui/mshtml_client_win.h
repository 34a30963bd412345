// Win32 code. The OLE container site that hosts the system's HTML document object in the host
// window: it creates the document, activates it in place over the window's client area, loads the
// start page through a URL moniker, answers the document's host questions (UI flags, context menus,
// download control, `window.external`, its security manager, where it may navigate), copies the title
// into the caption and tells the script object when a page has finished loading. UI thread only.
#pragma once

#include <windows.h>

#include <docobj.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <oleidl.h>
#include <ocidl.h>
#include <servprov.h>
#include <wrl/client.h>

#include <string>

#include "sysenv/com_object_win.h"

namespace htmlui {

class MSHTMLExternal;

// The HTML document object's class and the document host's command group. Spelled out here because
// mingw's import libraries lack both.
extern const CLSID kHtmlDocumentClsid;                // CLSID_HTMLDocument
extern const GUID kDocHostCommandHandlerGroup;        // CGID_DocHostCommandHandler

// One COM object with ten interfaces; each entry below is one interface pointer inside the object, in
// this order, and every QueryInterface/AddRef/Release of any of them acts on the one reference count.
// The count is plain: the object never leaves the UI thread's apartment.
// Where two interfaces share a method with the same signature (GetWindow, ContextSensitiveHelp,
// EnableModeless) the answer is the same for both, so one override serves both.
// Everything else, IHlinkFrame among them, is refused, and the service provider serves nothing but
// the security manager: the document navigates on its own, through TranslateUrl.
using MSHTMLClientBase =
    sysenv::ComObject<sysenv::ApartmentCount, sysenv::ComInterface<IDispatch>,
                      sysenv::ComInterface<IDocHostUIHandler2, IDocHostUIHandler>, sysenv::ComInterface<IDocHostShowUI>,
                      sysenv::ComInterface<IOleClientSite>, sysenv::ComInterface<IOleDocumentSite>,
                      sysenv::ComInterface<IOleInPlaceSiteEx, IOleWindow, IOleInPlaceSite>,
                      sysenv::ComInterface<IOleInPlaceFrame, IOleInPlaceUIWindow>,
                      sysenv::ComInterface<IPropertyNotifySink>, sysenv::ComInterface<IOleCommandTarget>,
                      sysenv::ComInterface<IServiceProvider>>;

// `path` (a local path) in its long form (sysenv::longPathName); empty when it is empty.
std::u16string longPathOf(const std::u16string& path);

class MSHTMLClient final : public MSHTMLClientBase {
 public:
  // Reference count 1, owned by the caller (the host window). Neither the window nor the script
  // object is owned; the host window clears both with detach() before it goes.
  MSHTMLClient(HWND hostWindow, MSHTMLExternal* scriptObject);
  MSHTMLClient(const MSHTMLClient&) = delete;
  MSHTMLClient& operator=(const MSHTMLClient&) = delete;

  // Creates the document object, subscribes to its property changes, makes this its client site and
  // activates it in place over the host window's client area (the document calls back ActivateMe).
  // False on any failure; what was set up stays until closeDocument or the last Release.
  bool createDocument();
  // Starts loading a URL or a file path into the document (asynchronously, as the document does).
  // False without a document or when the document refuses to load. The page's folder becomes the
  // page folder: only documents inside it get `window.external`, and the window navigates nowhere
  // outside it (htmlui/page_location.h).
  bool loadUrl(const wchar_t* url);
  // Fits the document to the host window's client area.
  void resizeDocument();
  // Ends the view, the subscription and the client-site link and releases the document. Safe to call
  // again; the last Release calls it too.
  void closeDocument();
  // The host window is going: no further calls into it or into the script object.
  void detach();

  // The document (its IUnknown/IDispatch members only), or null. Not AddRef'd.
  IUnknown* document() const { return document_.Get(); }
  HWND hostWindow() const { return hostWindow_; }

  // IDispatch: ambient properties. Only DISPID_AMBIENT_DLCONTROL is answered.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* dispids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepinfo, UINT* argErr) override;

  // IDocHostUIHandler2.
  HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD id, POINT* point, IUnknown* commandTarget,
                                            IDispatch* element) override;
  HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) override;
  HRESULT STDMETHODCALLTYPE ShowUI(DWORD id, IOleInPlaceActiveObject* activeObject,
                                   IOleCommandTarget* commandTarget, IOleInPlaceFrame* frame,
                                   IOleInPlaceUIWindow* document) override;
  HRESULT STDMETHODCALLTYPE HideUI() override;
  HRESULT STDMETHODCALLTYPE UpdateUI() override;
  HRESULT STDMETHODCALLTYPE EnableModeless(WINBOOL enable) override;  // also IOleInPlaceFrame's
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(WINBOOL activate) override;
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(WINBOOL activate) override;
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, WINBOOL frameWindow) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message, const GUID* group, DWORD command) override;
  HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget* dropTarget, IDropTarget** replacement) override;
  // The script object, only to a document from the page folder.
  HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) override;
  // The navigation hook: a URL outside the page folder becomes "about:blank".
  HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD translate, LPWSTR urlIn, LPWSTR* urlOut) override;
  HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject* dataObject, IDataObject** replacement) override;
  HRESULT STDMETHODCALLTYPE GetOverrideKeyPath(LPOLESTR* key, DWORD reserved) override;

  // IDocHostShowUI.
  HRESULT STDMETHODCALLTYPE ShowMessage(HWND window, LPOLESTR text, LPOLESTR caption, DWORD type,
                                        LPOLESTR helpFile, DWORD helpContext, LRESULT* result) override;
  HRESULT STDMETHODCALLTYPE ShowHelp(HWND window, LPOLESTR helpFile, UINT command, DWORD data, POINT mouse,
                                     IDispatch* objectHit) override;

  // IOleClientSite.
  HRESULT STDMETHODCALLTYPE SaveObject() override;
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD whichMoniker, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override;
  HRESULT STDMETHODCALLTYPE ShowObject() override;
  HRESULT STDMETHODCALLTYPE OnShowWindow(WINBOOL show) override;
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override;

  // IOleDocumentSite.
  HRESULT STDMETHODCALLTYPE ActivateMe(IOleDocumentView* view) override;

  // IOleWindow (through IOleInPlaceSiteEx and IOleInPlaceFrame alike).
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(WINBOOL enterMode) override;

  // IOleInPlaceSiteEx.
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override;
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override;
  HRESULT STDMETHODCALLTYPE OnUIActivate() override;
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** documentWindow,
                                             LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) override;
  HRESULT STDMETHODCALLTYPE Scroll(SIZE extent) override;
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(WINBOOL undoable) override;
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override;
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override;
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT position) override;
  HRESULT STDMETHODCALLTYPE OnInPlaceActivateEx(WINBOOL* noRedraw, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivateEx(WINBOOL noRedraw) override;
  HRESULT STDMETHODCALLTYPE RequestUIActivate() override;

  // IOleInPlaceFrame (with IOleInPlaceUIWindow).
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT border) override;
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS widths) override;
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS widths) override;
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* activeObject, LPCOLESTR name) override;
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU shared, LPOLEMENUGROUPWIDTHS widths) override;
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU shared, HOLEMENU oleMenu, HWND activeObject) override;
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU shared) override;
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR text) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message, WORD id) override;

  // IPropertyNotifySink: a ready state of 4 (complete) tells the script object.
  HRESULT STDMETHODCALLTYPE OnChanged(DISPID dispid) override;
  HRESULT STDMETHODCALLTYPE OnRequestEdit(DISPID dispid) override;

  // IOleCommandTarget: the title command sets the caption; two commands of the document-host group
  // are swallowed so that the document does not carry them out itself.
  HRESULT STDMETHODCALLTYPE QueryStatus(const GUID* group, ULONG count, OLECMD commands[],
                                        OLECMDTEXT* text) override;
  HRESULT STDMETHODCALLTYPE Exec(const GUID* group, DWORD command, DWORD options, VARIANT* in,
                                 VARIANT* out) override;

  // IServiceProvider: SID_SInternetSecurityManager only, a manager that refuses ActiveX, scripting of
  // controls and downloads to every document (htmlui::PageSecurityManager).
  HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID iid, void** out) override;

 private:
  // Through the last Release only: closes the document first (closeDocument). The document may drop
  // references to this site while it closes; they land on the parked count.
  ~MSHTMLClient() override;

  bool clientRect(RECT* rect) const;
  // The URL of the document now loaded (its URL property, read through IDispatch as the ready state
  // is); empty when there is none.
  std::u16string documentUrl();
  // Whether the document now loaded comes from the page folder.
  bool documentIsFromPageFolder();
  // Whether `url`, relative to `base` where it is relative, names a page of the page folder: as
  // given, or with both sides in their long form (the engine may name the folder by its 8.3 name
  // where the host used the long one, or the other way round).
  bool isPageFolderUrl(const std::u16string& url, const std::u16string& base) const;
  HRESULT activateView(IOleDocumentView* view);
  void unadvise();

  HWND hostWindow_;
  Microsoft::WRL::ComPtr<IHTMLDocument2> document_;
  Microsoft::WRL::ComPtr<IOleDocumentView> view_;
  MSHTMLExternal* scriptObject_;  // not owned
  DWORD notifyCookie_ = 0;
  std::u16string pageFolder_;  // empty until a page is loaded: then nothing is inside
  std::u16string pageFolderLong_;  // the same in its long form; empty where that is not known
  std::u16string startPage_;
};

}  // namespace htmlui
