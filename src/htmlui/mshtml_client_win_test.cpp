// Win32 code. The document site, called as the HTML document calls it: through each of its
// interfaces, over a real window. A fake stands in for the document object (Wine has none).
#include "htmlui/mshtml_client_win.h"

#include <gtest/gtest.h>
#include <hlink.h>
#include <mshtmdid.h>
#include <olectl.h>
#include <servprov.h>
#include <urlmon.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "support/fake_html_document_win.h"
#include "support/recording_script_object_win.h"
#include "support/wine_test_support_win.h"

namespace {

using htmlui::MSHTMLClient;
using Microsoft::WRL::ComPtr;
using testsupport::FakeHtmlDocument;
using testsupport::RecordingScriptObject;
using testsupport::ScopedFakeHtmlDocumentClass;

constexpr int kClientWidth = 300;
constexpr int kClientHeight = 200;

class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    window_ = ::CreateWindowExW(0, L"STATIC", L"before", WS_POPUP, 10, 10, kClientWidth, kClientHeight, nullptr,
                                nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    script_ = new RecordingScriptObject;
    site_ = new MSHTMLClient(window_, script_);
  }
  void TearDown() override {
    if (site_ != nullptr) {
      EXPECT_EQ(site_->Release(), 0u);
    }
    if (script_ != nullptr) {
      EXPECT_EQ(script_->Release(), 0u) << "the site left a reference on the script object";
    }
    if (window_ != nullptr) ::DestroyWindow(window_);
    ::CoUninitialize();
  }

  std::wstring caption() const {
    wchar_t text[128] = {};
    ::GetWindowTextW(window_, text, 128);
    return text;
  }

  HWND window_ = nullptr;
  RecordingScriptObject* script_ = nullptr;
  MSHTMLClient* site_ = nullptr;
};

// The nine interface pointers, in the object's order; each is one pointer further into the object.
struct InterfaceRow {
  const char* name;
  IID iid;
  int slot;  // -1: refused
};

const InterfaceRow kInterfaceRows[] = {
    {"IUnknown", IID_IUnknown, 0},
    {"IDispatch", IID_IDispatch, 0},
    {"IDocHostUIHandler", __uuidof(IDocHostUIHandler), 1},
    {"IDocHostUIHandler2", __uuidof(IDocHostUIHandler2), 1},
    {"IDocHostShowUI", __uuidof(IDocHostShowUI), 2},
    {"IOleClientSite", IID_IOleClientSite, 3},
    {"IOleDocumentSite", IID_IOleDocumentSite, 4},
    {"IOleWindow", IID_IOleWindow, 5},
    {"IOleInPlaceSite", IID_IOleInPlaceSite, 5},
    {"IOleInPlaceSiteEx", IID_IOleInPlaceSiteEx, 5},
    {"IOleInPlaceUIWindow", IID_IOleInPlaceUIWindow, 6},
    {"IOleInPlaceFrame", IID_IOleInPlaceFrame, 6},
    {"IPropertyNotifySink", IID_IPropertyNotifySink, 7},
    {"IOleCommandTarget", IID_IOleCommandTarget, 8},
    {"IHlinkFrame", IID_IHlinkFrame, -1},
    {"IServiceProvider", IID_IServiceProvider, 9},
    {"IOleInPlaceSiteWindowless", IID_IOleInPlaceSiteWindowless, -1},
    {"IOleControlSite", IID_IOleControlSite, -1},
    {"IOleContainer", IID_IOleContainer, -1},
    {"IDispatchEx", __uuidof(IDispatchEx), -1},
};

TEST_F(SiteTest, EveryInterfaceIsFoundFromEveryOtherOne) {
  auto* base = reinterpret_cast<char*>(static_cast<IDispatch*>(site_));
  for (const InterfaceRow& from : kInterfaceRows) {
    if (from.slot < 0) continue;
    auto* source = reinterpret_cast<IUnknown*>(base + from.slot * sizeof(void*));
    for (const InterfaceRow& row : kInterfaceRows) {
      void* out = reinterpret_cast<void*>(1);
      HRESULT result = source->QueryInterface(row.iid, &out);
      if (row.slot < 0) {
        EXPECT_EQ(result, E_NOINTERFACE) << row.name << " from " << from.name;
        EXPECT_EQ(out, nullptr) << row.name;
        continue;
      }
      ASSERT_EQ(result, S_OK) << row.name << " from " << from.name;
      EXPECT_EQ(static_cast<char*>(out) - base, static_cast<std::ptrdiff_t>(row.slot * sizeof(void*))) << row.name;
      EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 1u) << row.name << ": one count for the whole object";
    }
  }
}

TEST_F(SiteTest, AllInterfacesShareOneReferenceCount) {
  EXPECT_EQ(static_cast<IOleCommandTarget*>(site_)->AddRef(), 2u);
  EXPECT_EQ(static_cast<IOleInPlaceFrame*>(site_)->AddRef(), 3u);
  EXPECT_EQ(static_cast<IDocHostShowUI*>(site_)->Release(), 2u);
  EXPECT_EQ(static_cast<IPropertyNotifySink*>(site_)->Release(), 1u);
}

TEST_F(SiteTest, AmbientPropertiesAnswerOnlyDownloadControl) {
  IDispatch* ambient = site_;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT value;
  ::VariantInit(&value);
  ASSERT_EQ(ambient->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr,
                            nullptr),
            S_OK);
  EXPECT_EQ(V_VT(&value), VT_I4);
  EXPECT_EQ(V_I4(&value), 0x2070);
  for (DISPID other : {DISPID_AMBIENT_USERMODE, DISPID_AMBIENT_DLCONTROL + 1, DISPID_VALUE, DISPID_READYSTATE}) {
    ::VariantInit(&value);
    EXPECT_EQ(ambient->Invoke(other, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND)
        << other;
    EXPECT_EQ(V_VT(&value), VT_EMPTY);
  }
  UINT count = 7;
  EXPECT_EQ(ambient->GetTypeInfoCount(&count), E_NOTIMPL);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(ambient->GetTypeInfo(0, 0, &info), E_NOTIMPL);
  LPOLESTR name = const_cast<LPOLESTR>(L"anything");
  DISPID id = 0;
  EXPECT_EQ(ambient->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), E_NOTIMPL);
}

// The site's fixed answers to the document, through the interface the document holds.
struct AnswerRow {
  const char* name;
  std::function<HRESULT(MSHTMLClient*)> call;
  HRESULT expected;
};

template <typename Interface>
Interface* as(MSHTMLClient* site) {
  return static_cast<Interface*>(site);
}

const AnswerRow kAnswerRows[] = {
    // Host UI.
    {"ShowUI", [](MSHTMLClient* s) { return as<IDocHostUIHandler2>(s)->ShowUI(0, nullptr, nullptr, nullptr, nullptr); }, S_FALSE},
    {"HideUI", [](MSHTMLClient* s) { return as<IDocHostUIHandler2>(s)->HideUI(); }, S_OK},
    {"UpdateUI", [](MSHTMLClient* s) { return as<IDocHostUIHandler2>(s)->UpdateUI(); }, S_OK},
    {"host EnableModeless", [](MSHTMLClient* s) { return as<IDocHostUIHandler2>(s)->EnableModeless(TRUE); }, S_OK},
    {"OnDocWindowActivate", [](MSHTMLClient* s) { return as<IDocHostUIHandler2>(s)->OnDocWindowActivate(TRUE); }, E_NOTIMPL},
    {"OnFrameWindowActivate", [](MSHTMLClient* s) { return as<IDocHostUIHandler2>(s)->OnFrameWindowActivate(TRUE); }, E_NOTIMPL},
    {"ResizeBorder", [](MSHTMLClient* s) { RECT r = {}; return as<IDocHostUIHandler2>(s)->ResizeBorder(&r, nullptr, TRUE); }, E_NOTIMPL},
    {"host TranslateAccelerator", [](MSHTMLClient* s) { MSG m = {}; return as<IDocHostUIHandler2>(s)->TranslateAccelerator(&m, nullptr, 0); }, E_NOTIMPL},
    {"GetDropTarget", [](MSHTMLClient* s) { IDropTarget* t = nullptr; return as<IDocHostUIHandler2>(s)->GetDropTarget(nullptr, &t); }, E_FAIL},
    {"FilterDataObject", [](MSHTMLClient* s) { IDataObject* d = nullptr; return as<IDocHostUIHandler2>(s)->FilterDataObject(nullptr, &d); }, E_NOTIMPL},
    // Messages.
    {"ShowHelp", [](MSHTMLClient* s) { return as<IDocHostShowUI>(s)->ShowHelp(nullptr, nullptr, 0, 0, POINT{}, nullptr); }, E_NOTIMPL},
    // Client site.
    {"SaveObject", [](MSHTMLClient* s) { return as<IOleClientSite>(s)->SaveObject(); }, E_NOTIMPL},
    {"GetMoniker", [](MSHTMLClient* s) { IMoniker* m = nullptr; return as<IOleClientSite>(s)->GetMoniker(0, 0, &m); }, E_NOTIMPL},
    {"ShowObject", [](MSHTMLClient* s) { return as<IOleClientSite>(s)->ShowObject(); }, E_NOTIMPL},
    {"OnShowWindow", [](MSHTMLClient* s) { return as<IOleClientSite>(s)->OnShowWindow(TRUE); }, E_NOTIMPL},
    {"RequestNewObjectLayout", [](MSHTMLClient* s) { return as<IOleClientSite>(s)->RequestNewObjectLayout(); }, E_NOTIMPL},
    // In-place site.
    {"site ContextSensitiveHelp", [](MSHTMLClient* s) { return as<IOleInPlaceSiteEx>(s)->ContextSensitiveHelp(TRUE); }, E_NOTIMPL},
    {"Scroll", [](MSHTMLClient* s) { return as<IOleInPlaceSiteEx>(s)->Scroll(SIZE{1, 1}); }, E_NOTIMPL},
    {"DiscardUndoState", [](MSHTMLClient* s) { return as<IOleInPlaceSiteEx>(s)->DiscardUndoState(); }, E_NOTIMPL},
    {"DeactivateAndUndo", [](MSHTMLClient* s) { return as<IOleInPlaceSiteEx>(s)->DeactivateAndUndo(); }, E_NOTIMPL},
    {"OnPosRectChange", [](MSHTMLClient* s) { RECT r = {}; return as<IOleInPlaceSiteEx>(s)->OnPosRectChange(&r); }, E_NOTIMPL},
    {"CanInPlaceActivate", [](MSHTMLClient* s) { return as<IOleInPlaceSiteEx>(s)->CanInPlaceActivate(); }, S_OK},
    {"OnInPlaceActivate", [](MSHTMLClient* s) { return as<IOleInPlaceSiteEx>(s)->OnInPlaceActivate(); }, S_OK},
    {"OnUIActivate", [](MSHTMLClient* s) { return as<IOleInPlaceSiteEx>(s)->OnUIActivate(); }, S_OK},
    {"OnUIDeactivate", [](MSHTMLClient* s) { return as<IOleInPlaceSiteEx>(s)->OnUIDeactivate(FALSE); }, S_OK},
    {"OnInPlaceDeactivate", [](MSHTMLClient* s) { return as<IOleInPlaceSiteEx>(s)->OnInPlaceDeactivate(); }, S_OK},
    {"OnInPlaceDeactivateEx", [](MSHTMLClient* s) { return as<IOleInPlaceSiteEx>(s)->OnInPlaceDeactivateEx(TRUE); }, S_OK},
    {"RequestUIActivate", [](MSHTMLClient* s) { return as<IOleInPlaceSiteEx>(s)->RequestUIActivate(); }, S_OK},
    // Frame.
    {"frame ContextSensitiveHelp", [](MSHTMLClient* s) { return as<IOleInPlaceFrame>(s)->ContextSensitiveHelp(TRUE); }, E_NOTIMPL},
    {"GetBorder", [](MSHTMLClient* s) { RECT r = {}; return as<IOleInPlaceFrame>(s)->GetBorder(&r); }, E_NOTIMPL},
    {"RequestBorderSpace", [](MSHTMLClient* s) { BORDERWIDTHS b = {}; return as<IOleInPlaceFrame>(s)->RequestBorderSpace(&b); }, E_NOTIMPL},
    {"SetBorderSpace", [](MSHTMLClient* s) { BORDERWIDTHS b = {}; return as<IOleInPlaceFrame>(s)->SetBorderSpace(&b); }, E_NOTIMPL},
    {"SetActiveObject", [](MSHTMLClient* s) { return as<IOleInPlaceFrame>(s)->SetActiveObject(nullptr, L"x"); }, S_OK},
    {"InsertMenus", [](MSHTMLClient* s) { OLEMENUGROUPWIDTHS w = {}; return as<IOleInPlaceFrame>(s)->InsertMenus(nullptr, &w); }, E_NOTIMPL},
    {"SetMenu", [](MSHTMLClient* s) { return as<IOleInPlaceFrame>(s)->SetMenu(nullptr, nullptr, nullptr); }, E_NOTIMPL},
    {"RemoveMenus", [](MSHTMLClient* s) { return as<IOleInPlaceFrame>(s)->RemoveMenus(nullptr); }, E_NOTIMPL},
    {"SetStatusText", [](MSHTMLClient* s) { return as<IOleInPlaceFrame>(s)->SetStatusText(L"status"); }, S_OK},
    {"frame EnableModeless", [](MSHTMLClient* s) { return as<IOleInPlaceFrame>(s)->EnableModeless(FALSE); }, S_OK},
    {"frame TranslateAccelerator", [](MSHTMLClient* s) { MSG m = {}; return as<IOleInPlaceFrame>(s)->TranslateAccelerator(&m, 0); }, E_NOTIMPL},
    // Commands and notifications.
    {"QueryStatus", [](MSHTMLClient* s) { OLECMD c = {OLECMDID_SETTITLE, 0}; return as<IOleCommandTarget>(s)->QueryStatus(nullptr, 1, &c, nullptr); }, E_NOTIMPL},
    {"OnRequestEdit", [](MSHTMLClient* s) { return as<IPropertyNotifySink>(s)->OnRequestEdit(DISPID_READYSTATE); }, S_OK},
};

TEST_F(SiteTest, FixedAnswersToTheDocument) {
  for (const AnswerRow& row : kAnswerRows) EXPECT_EQ(row.call(site_), row.expected) << row.name;
}

TEST_F(SiteTest, ContextMenusOnlyForEditsSelectionsHorizontalScrollBarAndMedia) {
  for (DWORD kind = 0; kind <= 12; ++kind) {
    bool standardMenu = kind == 2 || kind == 4 || kind == 10 || kind == 11;
    POINT at = {5, 5};
    EXPECT_EQ(as<IDocHostUIHandler2>(site_)->ShowContextMenu(kind, &at, nullptr, nullptr),
              standardMenu ? S_FALSE : S_OK)
        << "menu kind " << kind;
  }
}

TEST_F(SiteTest, HostInfoFlagsLeaveSizeAlone) {
  DOCHOSTUIINFO info;
  std::memset(&info, 0xAB, sizeof(info));
  info.cbSize = sizeof(info);
  ASSERT_EQ(as<IDocHostUIHandler2>(site_)->GetHostInfo(&info), S_OK);
  EXPECT_EQ(info.cbSize, sizeof(info));
  EXPECT_EQ(info.dwFlags, 0x40250003u);
  EXPECT_EQ(info.dwDoubleClick, 0u);
  EXPECT_EQ(info.pchHostCss, nullptr);
  EXPECT_EQ(info.pchHostNS, nullptr);
}

TEST_F(SiteTest, DeclinedOutputsAreCleared) {
  auto* garbage = reinterpret_cast<wchar_t*>(0x10);
  LPOLESTR key = garbage;
  EXPECT_EQ(as<IDocHostUIHandler2>(site_)->GetOptionKeyPath(&key, 0), S_FALSE);
  EXPECT_EQ(key, nullptr);
  key = garbage;
  EXPECT_EQ(as<IDocHostUIHandler2>(site_)->GetOverrideKeyPath(&key, 0), S_FALSE);
  EXPECT_EQ(key, nullptr);
  IOleContainer* container = reinterpret_cast<IOleContainer*>(0x10);
  EXPECT_EQ(as<IOleClientSite>(site_)->GetContainer(&container), E_NOINTERFACE);
  EXPECT_EQ(container, nullptr);
}

TEST_F(SiteTest, ScriptMessagesAreSwallowedWithoutAResult) {
  LRESULT result = 12345;
  EXPECT_EQ(as<IDocHostShowUI>(site_)->ShowMessage(window_, const_cast<LPOLESTR>(L"alert"),
                                                   const_cast<LPOLESTR>(L"caption"), MB_OK, nullptr, 0, &result),
            S_OK);
  EXPECT_EQ(result, 12345);
}

TEST_F(SiteTest, WindowContextIsTheHostWindowAsFrame) {
  IOleInPlaceFrame* frame = nullptr;
  IOleInPlaceUIWindow* documentWindow = reinterpret_cast<IOleInPlaceUIWindow*>(0x10);
  RECT position = {}, clip = {};
  OLEINPLACEFRAMEINFO info;
  std::memset(&info, 0xAB, sizeof(info));
  info.cb = 1234;
  ASSERT_EQ(as<IOleInPlaceSiteEx>(site_)->GetWindowContext(&frame, &documentWindow, &position, &clip, &info), S_OK);
  EXPECT_EQ(frame, static_cast<IOleInPlaceFrame*>(site_));
  EXPECT_EQ(documentWindow, nullptr);
  const RECT client = {0, 0, kClientWidth, kClientHeight};
  EXPECT_TRUE(::EqualRect(&position, &client));
  EXPECT_TRUE(::EqualRect(&clip, &client));
  EXPECT_EQ(info.cb, 1234u);
  EXPECT_FALSE(info.fMDIApp);
  EXPECT_EQ(info.hwndFrame, window_);
  EXPECT_EQ(info.haccel, nullptr);
  EXPECT_EQ(info.cAccelEntries, 0u);
  EXPECT_EQ(frame->Release(), 1u) << "the frame is handed out with a reference";

  HWND fromSite = nullptr, fromFrame = nullptr;
  EXPECT_EQ(as<IOleInPlaceSiteEx>(site_)->GetWindow(&fromSite), S_OK);
  EXPECT_EQ(as<IOleInPlaceFrame>(site_)->GetWindow(&fromFrame), S_OK);
  EXPECT_EQ(fromSite, window_);
  EXPECT_EQ(fromFrame, window_);
  BOOL noRedraw = FALSE;
  EXPECT_EQ(as<IOleInPlaceSiteEx>(site_)->OnInPlaceActivateEx(&noRedraw, 0), S_OK);
  EXPECT_TRUE(noRedraw);
}

struct CommandRow {
  const char* name;
  const GUID* group;
  DWORD command;
  HRESULT expected;
};

const GUID kOtherGroup = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

const CommandRow kCommandRows[] = {
    {"host group command 6", &htmlui::kDocHostCommandHandlerGroup, 6, S_OK},
    {"host group command 6041", &htmlui::kDocHostCommandHandlerGroup, 6041, S_OK},
    {"host group command 1", &htmlui::kDocHostCommandHandlerGroup, 1, OLECMDERR_E_NOTSUPPORTED},
    {"host group command 40", &htmlui::kDocHostCommandHandlerGroup, 40, OLECMDERR_E_NOTSUPPORTED},
    {"host group title command number", &htmlui::kDocHostCommandHandlerGroup, OLECMDID_SETTITLE,
     OLECMDERR_E_NOTSUPPORTED},
    {"another group", &kOtherGroup, 6, OLECMDERR_E_UNKNOWNGROUP},
    {"the null GUID as a group", &GUID_NULL, 6, OLECMDERR_E_UNKNOWNGROUP},
    {"no group: print", nullptr, OLECMDID_PRINT, E_NOTIMPL},
    {"no group: 6", nullptr, 6, E_NOTIMPL},
};

TEST_F(SiteTest, CommandsByGroup) {
  for (const CommandRow& row : kCommandRows) {
    EXPECT_EQ(as<IOleCommandTarget>(site_)->Exec(row.group, row.command, 0, nullptr, nullptr), row.expected)
        << row.name;
  }
  EXPECT_EQ(caption(), L"before");
}

TEST_F(SiteTest, TitleCommandSetsTheCaption) {
  VARIANT title;
  ::VariantInit(&title);
  V_VT(&title) = VT_BSTR;
  V_BSTR(&title) = ::SysAllocString(L"Sorvane Pro \x5B89\x88C5");
  EXPECT_EQ(as<IOleCommandTarget>(site_)->Exec(nullptr, OLECMDID_SETTITLE, OLECMDEXECOPT_DONTPROMPTUSER, &title,
                                              nullptr),
            S_OK);
  EXPECT_EQ(caption(), L"Sorvane Pro \x5B89\x88C5");
  ::VariantClear(&title);

  VARIANT number;
  V_VT(&number) = VT_I4;
  V_I4(&number) = 5;
  EXPECT_EQ(as<IOleCommandTarget>(site_)->Exec(nullptr, OLECMDID_SETTITLE, 0, &number, nullptr), S_OK);
  EXPECT_EQ(as<IOleCommandTarget>(site_)->Exec(nullptr, OLECMDID_SETTITLE, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(caption(), L"Sorvane Pro \x5B89\x88C5") << "only text changes the caption";
}

TEST_F(SiteTest, NoExternalWithoutADocumentFromThePageFolder) {
  IDispatch* external = reinterpret_cast<IDispatch*>(0x10);
  EXPECT_EQ(as<IDocHostUIHandler2>(site_)->GetExternal(&external), S_FALSE);
  EXPECT_EQ(external, nullptr);
  EXPECT_EQ(script_->references(), 1u);
}

TEST_F(SiteTest, SecurityManagerIsTheOnlyService) {
  ComPtr<IInternetSecurityManager> manager;
  ASSERT_EQ(as<IServiceProvider>(site_)->QueryService(SID_SInternetSecurityManager, __uuidof(IInternetSecurityManager),
                                                      reinterpret_cast<void**>(manager.GetAddressOf())),
            S_OK);
  DWORD policy = URLPOLICY_ALLOW;
  EXPECT_EQ(manager->ProcessUrlAction(L"file:///C:/pages/Load.html", URLACTION_ACTIVEX_RUN,
                                      reinterpret_cast<BYTE*>(&policy), sizeof policy, nullptr, 0, 0, 0),
            S_FALSE);
  EXPECT_EQ(policy, static_cast<DWORD>(URLPOLICY_DISALLOW));
  for (const GUID& other : {SID_SHlinkFrame, SID_SInternetHostSecurityManager, IID_IOleCommandTarget}) {
    void* out = reinterpret_cast<void*>(0x10);
    EXPECT_EQ(as<IServiceProvider>(site_)->QueryService(other, IID_IUnknown, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
}

TEST_F(SiteTest, NoExternalWithoutScriptObject) {
  MSHTMLClient* bare = new MSHTMLClient(window_, nullptr);
  IDispatch* external = reinterpret_cast<IDispatch*>(0x10);
  EXPECT_EQ(as<IDocHostUIHandler2>(bare)->GetExternal(&external), S_FALSE);
  EXPECT_EQ(external, nullptr);
  EXPECT_EQ(bare->Release(), 0u);
}

TEST_F(SiteTest, NoDocumentWithoutTheHtmlEngine) {
  // Wine has no HTML document object: this is the real answer of the platform here.
  IUnknown* probe = nullptr;
  HRESULT result = ::CoCreateInstance(htmlui::kHtmlDocumentClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      reinterpret_cast<void**>(&probe));
  ASSERT_TRUE(FAILED(result)) << "this prefix has an HTML engine; the test assumes none";
  EXPECT_FALSE(site_->createDocument());
  EXPECT_EQ(site_->document(), nullptr);
  EXPECT_FALSE(site_->loadUrl(L"C:\\pages\\Load.html"));
}

// With the fake document standing in for the HTML engine.
class SiteWithDocumentTest : public SiteTest {
 protected:
  void SetUp() override {
    SiteTest::SetUp();
    document_ = new FakeHtmlDocument;
    registration_ = new ScopedFakeHtmlDocumentClass(document_);
    ASSERT_TRUE(registration_->registered()) << std::hex << registration_->registrationResult();
  }
  void TearDown() override {
    if (site_ != nullptr) {
      // As the host window lets go of the site.
      site_->closeDocument();
      site_->detach();
      EXPECT_EQ(site_->Release(), 0u);
      site_ = nullptr;
    }
    EXPECT_FALSE(document_->holdsSiteReferences());
    delete registration_;
    EXPECT_EQ(document_->Release(), 0u) << "the site left a reference on the document";
    SiteTest::TearDown();
  }

  FakeHtmlDocument* document_ = nullptr;
  ScopedFakeHtmlDocumentClass* registration_ = nullptr;
};

TEST_F(SiteWithDocumentTest, CreateDocumentActivatesInPlaceOverTheClientArea) {
  ASSERT_TRUE(site_->createDocument());
  EXPECT_EQ(site_->document(), static_cast<IDispatch*>(document_));
  EXPECT_EQ(document_->adviseCount, 1);
  EXPECT_EQ(document_->sink.Get(), static_cast<IPropertyNotifySink*>(site_));
  EXPECT_EQ(document_->clientSite.Get(), static_cast<IOleClientSite*>(site_));
  EXPECT_EQ(document_->doVerbCount, 1);
  EXPECT_EQ(document_->lastVerb, OLEIVERB_INPLACEACTIVATE);
  EXPECT_EQ(document_->lastVerbParent, window_);
  const RECT client = {0, 0, kClientWidth, kClientHeight};
  EXPECT_TRUE(::EqualRect(&document_->lastVerbRect, &client));
  // The document left the view to the site (ActivateMe with none).
  EXPECT_EQ(document_->createViewCount, 1);
  EXPECT_EQ(document_->inPlaceSite.Get(), static_cast<IOleInPlaceSite*>(static_cast<IOleInPlaceSiteEx*>(site_)));
  EXPECT_TRUE(::EqualRect(&document_->viewRect, &client));
  EXPECT_TRUE(document_->viewUiActive);
  EXPECT_TRUE(document_->viewShown);
}

TEST_F(SiteWithDocumentTest, ActivateMeUsesTheDocumentsOwnView) {
  document_->activateOnDoVerb = false;
  ASSERT_TRUE(site_->createDocument());
  EXPECT_EQ(as<IOleDocumentSite>(site_)->ActivateMe(static_cast<IOleDocumentView*>(document_)), S_OK);
  EXPECT_EQ(document_->createViewCount, 0);
  EXPECT_NE(document_->inPlaceSite.Get(), nullptr);
  EXPECT_TRUE(document_->viewShown);
}

struct CreateFailureRow {
  const char* what;
  bool FakeHtmlDocument::*failure;
};

const CreateFailureRow kCreateFailures[] = {
    {"subscription refused", &FakeHtmlDocument::failAdvise},
    {"client site refused", &FakeHtmlDocument::failSetClientSite},
    {"in-place activation failed", &FakeHtmlDocument::failDoVerb},
};

TEST_F(SiteWithDocumentTest, CreateDocumentFailsWhenAnyStepFails) {
  for (const CreateFailureRow& row : kCreateFailures) {
    document_->failAdvise = document_->failSetClientSite = document_->failDoVerb = false;
    document_->*row.failure = true;
    EXPECT_FALSE(site_->createDocument()) << row.what;
    site_->closeDocument();
    EXPECT_FALSE(document_->holdsSiteReferences()) << row.what;
  }
}

TEST_F(SiteWithDocumentTest, LoadUrlHandsTheDocumentAUrlMoniker) {
  ASSERT_TRUE(site_->createDocument());
  EXPECT_TRUE(site_->loadUrl(L"C:\\pages\\Load.html"));
  EXPECT_EQ(document_->loadCount, 1);
  EXPECT_FALSE(document_->loadFullyAvailable);
  EXPECT_EQ(document_->loadedUrl, L"file:///C:/pages/Load.html");
  document_->failLoad = true;
  EXPECT_FALSE(site_->loadUrl(L"C:\\pages\\Download.html"));
}

TEST_F(SiteWithDocumentTest, ExternalOnlyForDocumentsFromTheStartPagesFolder) {
  ASSERT_TRUE(site_->createDocument());
  ASSERT_TRUE(site_->loadUrl(L"C:\\pages\\Load.html"));
  struct Row {
    const wchar_t* documentUrl;
    bool external;
  };
  const Row rows[] = {
      {L"file:///C:/pages/Load.html", true},
      {L"file:///C:/pages/sub/Download.html#close", true},
      {L"file:///C:/pages/../evil.html", false},
      {L"file:///C:/pagesX/Load.html", false},
      {L"file:///C:/Users/Public/Load.html", false},
      {L"http://example.test/Load.html", false},
      {L"about:blank", false},
  };
  for (const Row& row : rows) {
    document_->url = row.documentUrl;
    IDispatch* external = reinterpret_cast<IDispatch*>(0x10);
    EXPECT_EQ(as<IDocHostUIHandler2>(site_)->GetExternal(&external), row.external ? S_OK : S_FALSE)
        << row.documentUrl;
    EXPECT_EQ(external, row.external ? static_cast<IDispatch*>(script_) : nullptr) << row.documentUrl;
    EXPECT_EQ(script_->references(), row.external ? 2u : 1u) << row.documentUrl;
    if (external != nullptr) external->Release();
  }
}

TEST_F(SiteWithDocumentTest, NavigationOutsideTheStartPagesFolderShowsABlankPage) {
  ASSERT_TRUE(site_->createDocument());
  ASSERT_TRUE(site_->loadUrl(L"C:\\pages\\Load.html"));
  struct Row {
    const wchar_t* url;
    bool stays;
  };
  const Row rows[] = {
      {L"file:///C:/pages/Download.html", true},
      {L"file:///C:/pages/Download.html#close", true},
      {L"Download.html", true},
      {L"sub/Download.html?lang=de", true},
      {L"file://C:\\pages\\Download.html", true},
      {L"file:///c:/PAGES/Dow%6enload.html", true},
      {L"../evil.html", false},
      {L"file:///C:/pages/..%2Fevil.html", false},
      {L"file://server/share/pages/Load.html", false},
      {L"http://127.0.0.1:8631/thankyou.html", false},
      {L"javascript:external.closeWindow()", false},
  };
  for (const Row& row : rows) {
    LPWSTR translated = reinterpret_cast<LPWSTR>(0x10);
    const HRESULT result =
        as<IDocHostUIHandler2>(site_)->TranslateUrl(0, const_cast<LPWSTR>(row.url), &translated);
    if (row.stays) {
      EXPECT_EQ(result, S_FALSE) << row.url;
      EXPECT_EQ(translated, nullptr) << row.url;
    } else {
      EXPECT_EQ(result, S_OK) << row.url;
      ASSERT_NE(translated, nullptr) << row.url;
      EXPECT_STREQ(translated, L"about:blank") << row.url;
      CoTaskMemFree(translated);
    }
  }
}

// The engine may name the page folder by its 8.3 name where the host used the long one, or the
// other way round: both are the same folder.
TEST_F(SiteWithDocumentTest, TheShortAndTheLongFormOfThePageFolderAreTheSameFolder) {
  testsupport::ScratchFolder scratch;
  const std::wstring longFolder = scratch.path() + L"\\Sorvane Pro pages folder";
  ASSERT_TRUE(CreateDirectoryW(longFolder.c_str(), nullptr));
  ASSERT_TRUE(testsupport::writeFileBytes(longFolder + L"\\Download.html", "<html></html>"));
  wchar_t shortBuffer[MAX_PATH] = {};
  const DWORD length = GetShortPathNameW(longFolder.c_str(), shortBuffer, MAX_PATH);
  const std::wstring shortFolder(shortBuffer, length < MAX_PATH ? length : 0);
  if (shortFolder.empty() || shortFolder == longFolder) GTEST_SKIP() << "no 8.3 names here";

  ASSERT_TRUE(site_->createDocument());
  for (const auto& [loaded, navigated] : {std::make_pair(shortFolder, longFolder), std::make_pair(longFolder, shortFolder)}) {
    ASSERT_TRUE(site_->loadUrl((loaded + L"\\Load.html").c_str()));
    std::wstring url = navigated + L"\\Download.html";
    LPWSTR translated = nullptr;
    EXPECT_EQ(as<IDocHostUIHandler2>(site_)->TranslateUrl(0, url.data(), &translated), S_FALSE) << url.c_str();
    EXPECT_EQ(translated, nullptr);
    std::wstring outside = scratch.path() + L"\\Download.html";
    EXPECT_EQ(as<IDocHostUIHandler2>(site_)->TranslateUrl(0, outside.data(), &translated), S_OK);
    if (translated != nullptr) CoTaskMemFree(translated);
  }
}

TEST_F(SiteWithDocumentTest, ResizeFitsTheViewOrElseTheInPlaceObject) {
  ASSERT_TRUE(site_->createDocument());
  ASSERT_TRUE(::SetWindowPos(window_, nullptr, 0, 0, 400, 250, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
  site_->resizeDocument();
  const RECT resized = {0, 0, 400, 250};
  EXPECT_TRUE(::EqualRect(&document_->viewRect, &resized));
  EXPECT_EQ(document_->setObjectRectsCount, 0);

  site_->closeDocument();
  document_->activateOnDoVerb = false;  // no view this time
  ASSERT_TRUE(site_->createDocument());
  site_->resizeDocument();
  EXPECT_EQ(document_->setObjectRectsCount, 1);
  EXPECT_TRUE(::EqualRect(&document_->objectRect, &resized));
}

TEST_F(SiteWithDocumentTest, CloseDocumentLetsGoOfEverything) {
  ASSERT_TRUE(site_->createDocument());
  EXPECT_EQ(document_->references(), 3) << "the test, the site's document and its view (the fake is its own view)";
  site_->closeDocument();
  EXPECT_EQ(document_->closeViewCount, 1);
  EXPECT_EQ(document_->unadviseCount, 1);
  EXPECT_FALSE(document_->holdsSiteReferences());
  EXPECT_EQ(document_->lastSiteReleaseCount, 1u) << "only the owner's reference is left on the site";
  EXPECT_EQ(document_->references(), 1);
  EXPECT_EQ(site_->document(), nullptr);
  site_->closeDocument();  // again: nothing left to do
  EXPECT_EQ(document_->unadviseCount, 1);
}

struct ReadyStateRow {
  const char* what;
  DISPID dispid;
  VARTYPE type;
  LONG value;
  HRESULT readResult;
  int completions;
};

const ReadyStateRow kReadyStateRows[] = {
    {"complete", DISPID_READYSTATE, VT_I4, 4, S_OK, 1},
    {"interactive", DISPID_READYSTATE, VT_I4, 3, S_OK, 0},
    {"loading", DISPID_READYSTATE, VT_I4, 1, S_OK, 0},
    {"4 as a 16-bit integer", DISPID_READYSTATE, VT_I2, 4, S_OK, 0},
    {"read fails", DISPID_READYSTATE, VT_I4, 4, E_FAIL, 0},
    {"another property", DISPID_UNKNOWN, VT_I4, 4, S_OK, 0},
    {"the title", DISPID_IHTMLDOCUMENT2_TITLE, VT_I4, 4, S_OK, 0},
};

TEST_F(SiteWithDocumentTest, CompleteReadyStateTellsTheScriptObject) {
  ASSERT_TRUE(site_->createDocument());
  for (const ReadyStateRow& row : kReadyStateRows) {
    script_->documentCompleteCount = 0;
    ::VariantClear(&document_->readyState);
    V_VT(&document_->readyState) = row.type;
    if (row.type == VT_I2) {
      V_I2(&document_->readyState) = static_cast<SHORT>(row.value);
    } else {
      V_I4(&document_->readyState) = row.value;
    }
    document_->readyStateResult = row.readResult;
    EXPECT_EQ(document_->fireChanged(row.dispid), S_OK) << row.what;
    EXPECT_EQ(script_->documentCompleteCount, row.completions) << row.what;
  }
  EXPECT_EQ(script_->lastCompletedSite, site_);
  EXPECT_EQ(document_->lastInvokeDispid, DISPID_READYSTATE);
  EXPECT_EQ(document_->lastInvokeLocale, 0x0800u);
  EXPECT_EQ(document_->lastInvokeFlags, DISPATCH_PROPERTYGET);
  EXPECT_TRUE(document_->lastInvokeIidWasNull);
}

TEST_F(SiteWithDocumentTest, NoScriptObjectNoNotification) {
  ASSERT_TRUE(site_->createDocument());
  site_->detach();
  EXPECT_EQ(document_->fireChanged(DISPID_READYSTATE), S_OK);
  EXPECT_EQ(document_->readyStateReads, 0);
  EXPECT_EQ(script_->documentCompleteCount, 0);
}

TEST_F(SiteWithDocumentTest, ScriptObjectMayCloseTheDocumentWhileNotified) {
  ASSERT_TRUE(site_->createDocument());
  script_->onDocumentComplete = [](MSHTMLClient* site) { site->closeDocument(); };
  EXPECT_EQ(document_->fireChanged(DISPID_READYSTATE), S_OK);
  EXPECT_EQ(script_->documentCompleteCount, 1);
  EXPECT_FALSE(document_->holdsSiteReferences());
}

}  // namespace
