// Win32 code. The host window, run for real under Xvfb: created over a page, its message loop driven by messages
// posted before the run, closed and destroyed. A fake document stands in for the HTML engine where
// the window must get that far; without it the run fails as it does on a system with no engine.
#include "htmlui/host_window_win.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "htmlui/mshtml_client_win.h"
#include "support/fake_html_document_win.h"
#include "support/recording_script_object_win.h"

namespace {

using htmlui::HostWindowData;
using testsupport::FakeHtmlDocument;
using testsupport::RecordingScriptObject;
using testsupport::ScopedFakeHtmlDocumentClass;

constexpr wchar_t kPagePath[] = L"C:\\payload\\Load.html";
constexpr UINT kRunAction = WM_APP + 1;
constexpr UINT_PTR kWatchdogTimer = 1;

// Things to do inside the host window's message loop: posted to a message-only window before the run,
// they are dispatched by the loop in order. A watchdog closes the host window if a test forgets to.
class LoopScript {
 public:
  LoopScript() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &LoopScript::procedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"HostWindowTestScript";
    ::RegisterClassW(&windowClass);  // fails harmlessly the second time
    window_ = ::CreateWindowExW(0, L"HostWindowTestScript", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetTimer(window_, kWatchdogTimer, 10000, nullptr);
  }
  ~LoopScript() { ::DestroyWindow(window_); }

  HWND window() const { return window_; }
  void post(std::function<void()> action) {
    actions_.push_back(std::move(action));
    ::PostMessageW(window_, kRunAction, actions_.size() - 1, 0);
  }
  // Set before the run: the watchdog closes it.
  HWND* watchedHostWindow = nullptr;
  bool watchdogFired = false;
  std::vector<UINT> otherMessages;  // WM_APP messages that were not actions

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<LoopScript*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && message == kRunAction) {
      self->actions_[wParam]();
      return 0;
    }
    if (self != nullptr && message == WM_TIMER && wParam == kWatchdogTimer) {
      self->watchdogFired = true;
      if (self->watchedHostWindow != nullptr && *self->watchedHostWindow != nullptr) {
        htmlui::requestHostWindowClose(*self->watchedHostWindow);
      }
      return 0;
    }
    if (self != nullptr && message > kRunAction && message < 0xC000) self->otherMessages.push_back(message);
    return ::DefWindowProcW(window, message, wParam, lParam);
  }

  HWND window_ = nullptr;
  std::vector<std::function<void()>> actions_;
};

class HostWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_TRUE(htmlui::registerHostWindowClass());
    script_ = new RecordingScriptObject;
  }
  void TearDown() override {
    EXPECT_EQ(script_->Release(), 0u) << "the window left a reference on the script object";
    ::CoUninitialize();
  }
  // The window the script object was given, or null.
  HWND hostWindow() const { return script_->hostWindows.empty() ? nullptr : script_->hostWindows.front(); }

  RecordingScriptObject* script_ = nullptr;
};

class HostWindowWithDocumentTest : public HostWindowTest {
 protected:
  void SetUp() override {
    HostWindowTest::SetUp();
    document_ = new FakeHtmlDocument;
    registration_ = new ScopedFakeHtmlDocumentClass(document_);
    ASSERT_TRUE(registration_->registered());
    script.watchedHostWindow = &watched_;
  }
  void TearDown() override {
    EXPECT_FALSE(script.watchdogFired) << "the test did not close its window";
    EXPECT_FALSE(document_->holdsSiteReferences()) << "the window's destruction closes the document";
    delete registration_;
    EXPECT_EQ(document_->Release(), 0u) << "the site left a reference on the document";
    HostWindowTest::TearDown();
  }
  // Runs the window; the watchdog knows it from its creation on.
  bool run() {
    script.post([this] { watched_ = hostWindow(); });
    return htmlui::runHostWindow(kPagePath, script_);
  }

  LoopScript script;
  FakeHtmlDocument* document_ = nullptr;
  ScopedFakeHtmlDocumentClass* registration_ = nullptr;
  HWND watched_ = nullptr;
};

TEST_F(HostWindowTest, ClassIsRegisteredOnceWithRoomForTheRecordPointer) {
  ATOM atom = htmlui::hostWindowClassAtom();
  ASSERT_NE(atom, 0);
  EXPECT_TRUE(htmlui::registerHostWindowClass());
  EXPECT_EQ(htmlui::hostWindowClassAtom(), atom);
  WNDCLASSEXW info = {};
  info.cbSize = sizeof(info);
  ASSERT_EQ(::GetClassInfoExW(::GetModuleHandleW(nullptr), L"HTMLUI", &info), atom);
  EXPECT_EQ(info.style, 0u);
  EXPECT_EQ(info.cbClsExtra, 0);
  EXPECT_EQ(info.cbWndExtra, static_cast<int>(sizeof(LONG_PTR)));
  EXPECT_EQ(info.hbrBackground, nullptr);
  EXPECT_EQ(info.hIcon, nullptr);
  EXPECT_EQ(info.lpszMenuName, nullptr);
  EXPECT_EQ(info.hCursor, ::LoadCursorW(nullptr, IDC_ARROW));
}

TEST_F(HostWindowTest, WithoutHtmlEngineTheRunFailsAndCleansUp) {
  // Wine has no HTML document object: the real platform answer, not an injected one.
  EXPECT_FALSE(htmlui::runHostWindow(kPagePath, script_));
  ASSERT_EQ(script_->hostWindows.size(), 2u);
  EXPECT_NE(script_->hostWindows[0], nullptr);
  EXPECT_EQ(script_->hostWindows[1], nullptr);
  EXPECT_FALSE(::IsWindow(script_->hostWindows[0]));
  EXPECT_EQ(script_->references(), 1u);
}

TEST_F(HostWindowTest, WithoutPagePathNoWindowIsMade) {
  EXPECT_FALSE(htmlui::runHostWindow(nullptr, script_));
  EXPECT_TRUE(script_->hostWindows.empty());
}

TEST_F(HostWindowWithDocumentTest, PageThatDoesNotStartLoadingFailsTheRun) {
  document_->failLoad = true;
  EXPECT_FALSE(htmlui::runHostWindow(kPagePath, script_));
  EXPECT_EQ(document_->loadCount, 1);
  ASSERT_EQ(script_->hostWindows.size(), 2u);
  EXPECT_EQ(script_->hostWindows[1], nullptr);
  EXPECT_FALSE(::IsWindow(script_->hostWindows[0]));
  EXPECT_EQ(script_->references(), 1u);
  EXPECT_EQ(document_->lastSiteReleaseCount, 1u) << "only the window's own reference was left on the site";
}

TEST_F(HostWindowWithDocumentTest, RunsUntilClosedThenDestroysTheWindow) {
  bool visible = false;
  RECT rect = {-1, -1, -1, -1};
  HostWindowData record = {};
  script.post([&] {
    visible = ::IsWindowVisible(hostWindow()) != FALSE;
    ::GetWindowRect(hostWindow(), &rect);
    if (HostWindowData* live = htmlui::hostWindowData(hostWindow())) record = *live;
    ::PostMessageW(hostWindow(), WM_CLOSE, 0, 0);
  });
  EXPECT_TRUE(run());

  EXPECT_TRUE(visible);
  EXPECT_EQ(rect.right - rect.left, 0);
  EXPECT_EQ(rect.bottom - rect.top, 0);
  EXPECT_NE(record.site, nullptr);
  EXPECT_EQ(record.scriptObject, script_);
  EXPECT_EQ(record.focusWindow, nullptr);
  EXPECT_NE(record.closeRequested, nullptr);
  // The page was loaded from its path through a URL moniker.
  EXPECT_EQ(document_->loadedUrl, L"file:///C:/payload/Load.html");
  EXPECT_EQ(document_->lastVerbParent, hostWindow());

  ASSERT_EQ(script_->hostWindows.size(), 2u);
  EXPECT_EQ(script_->hostWindows[1], nullptr);
  EXPECT_FALSE(::IsWindow(hostWindow()));
  EXPECT_EQ(script_->references(), 1u);
  EXPECT_EQ(document_->lastSiteReleaseCount, 1u) << "only the window's own reference was left on the site";
}

TEST_F(HostWindowWithDocumentTest, QuitEndsTheRunAndStaysQueued) {
  script.post([] { ::PostQuitMessage(7); });
  EXPECT_TRUE(run());
  EXPECT_FALSE(::IsWindow(hostWindow()));
  MSG quit = {};
  ASSERT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 7u);
}

TEST_F(HostWindowWithDocumentTest, CloseRequestThroughTheRecordEndsTheRun) {
  bool first = false, second = true, otherWindow = true;
  script.post([&] {
    HWND notOurs = ::CreateWindowExW(0, L"STATIC", nullptr, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    otherWindow = htmlui::requestHostWindowClose(notOurs) || htmlui::hostWindowData(notOurs) != nullptr;
    ::DestroyWindow(notOurs);
    first = htmlui::requestHostWindowClose(hostWindow());
    second = htmlui::requestHostWindowClose(hostWindow());
  });
  EXPECT_TRUE(run());
  EXPECT_FALSE(otherWindow) << "a window of another class is never touched";
  EXPECT_TRUE(first);
  EXPECT_FALSE(second) << "closing was already requested";
  EXPECT_FALSE(::IsWindow(hostWindow()));
}

TEST_F(HostWindowWithDocumentTest, SizeChangesFitTheDocument) {
  script.post([&] {
    ::SetWindowPos(hostWindow(), nullptr, 0, 0, 400, 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    htmlui::requestHostWindowClose(hostWindow());
  });
  EXPECT_TRUE(run());
  const RECT client = {0, 0, 400, 200};
  EXPECT_TRUE(::EqualRect(&document_->viewRect, &client));
}

TEST_F(HostWindowWithDocumentTest, CompletePageReachesTheScriptObject) {
  script.post([&] {
    document_->fireChanged(DISPID_READYSTATE);
    htmlui::requestHostWindowClose(hostWindow());
  });
  EXPECT_TRUE(run());
  EXPECT_EQ(script_->documentCompleteCount, 1);
  EXPECT_NE(script_->lastCompletedSite, nullptr);
}

TEST_F(HostWindowWithDocumentTest, DocumentSeesEveryMessageFirst) {
  constexpr UINT kConsumed = WM_APP + 5;
  constexpr UINT kPassedOn = WM_APP + 6;
  document_->consumedMessage = kConsumed;
  int offeredBefore = 0;
  script.post([&] {
    offeredBefore = document_->translateAcceleratorCount;
    ::PostMessageW(script.window(), kConsumed, 0, 0);
    ::PostMessageW(script.window(), kPassedOn, 0, 0);
    script.post([&] { htmlui::requestHostWindowClose(hostWindow()); });
  });
  EXPECT_TRUE(run());
  EXPECT_GE(document_->translateAcceleratorCount, offeredBefore + 3);
  EXPECT_EQ(script.otherMessages, std::vector<UINT>{kPassedOn});
}

TEST_F(HostWindowWithDocumentTest, DocumentWithoutActiveObjectGetsMessagesDispatched) {
  document_->offersActiveObject = false;
  script.post([&] { htmlui::requestHostWindowClose(hostWindow()); });
  EXPECT_TRUE(run());
  EXPECT_EQ(document_->translateAcceleratorCount, 0);
}

TEST_F(HostWindowWithDocumentTest, FocusReturnsToTheChildThatHadIt) {
  HWND field = nullptr, focusBefore = nullptr, remembered = nullptr, restored = nullptr;
  HWND keptWhenMinimised = nullptr;
  HWND rememberedWhenWindowItselfHadFocus = field;
  script.post([&] {
    HWND host = hostWindow();
    HostWindowData* record = htmlui::hostWindowData(host);
    ::SetWindowPos(host, nullptr, 0, 0, 400, 200, SWP_NOMOVE | SWP_NOZORDER);
    ::SetForegroundWindow(host);
    field = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 10, 10, 100, 20, host, nullptr, nullptr, nullptr);
    ::SetFocus(field);
    focusBefore = ::GetFocus();
    // Deactivated while the field has the focus: remembered, and given back with the focus.
    ::SendMessageW(host, WM_ACTIVATE, WA_INACTIVE, 0);
    remembered = record->focusWindow;
    ::SetFocus(host);
    restored = ::GetFocus();
    // The window itself has the focus: minimising does not change what is remembered...
    record->focusWindow = nullptr;
    ::SetFocus(host);
    record->focusWindow = field;
    ::SendMessageW(host, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, TRUE), 0);
    keptWhenMinimised = record->focusWindow;
    // ...but deactivation remembers that there is no child to give the focus back to.
    ::SendMessageW(host, WM_ACTIVATE, WA_INACTIVE, 0);
    rememberedWhenWindowItselfHadFocus = record->focusWindow;
    htmlui::requestHostWindowClose(host);
  });
  EXPECT_TRUE(run());
  ASSERT_EQ(focusBefore, field) << "the test could not give the field the focus";
  EXPECT_EQ(remembered, field);
  EXPECT_EQ(restored, field) << "focus given to the window goes on to the remembered field";
  EXPECT_EQ(keptWhenMinimised, field);
  EXPECT_EQ(rememberedWhenWindowItselfHadFocus, nullptr);
}

TEST_F(HostWindowWithDocumentTest, FocusWithNothingRememberedGoesToTheDocumentsWindow) {
  HWND focusedOnDocument = nullptr, focusedWithoutOne = nullptr, documentWindow = nullptr;
  HWND outsider = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  script.post([&] {
    HWND host = hostWindow();
    ::SetWindowPos(host, nullptr, 0, 0, 400, 200, SWP_NOMOVE | SWP_NOZORDER);
    ::SetForegroundWindow(host);
    documentWindow = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 0, 400, 200, host, nullptr,
                                       nullptr, nullptr);
    document_->documentWindow = documentWindow;
    // As on activation: the focus arrives from elsewhere (a window that has it already gets no
    // WM_SETFOCUS).
    ::SetFocus(nullptr);
    ::SetFocus(host);
    focusedOnDocument = ::GetFocus();
    // A window that is not inside the host is never given the focus.
    document_->documentWindow = outsider;
    ::SetFocus(host);
    focusedWithoutOne = ::GetFocus();
    document_->documentWindow = nullptr;
    htmlui::requestHostWindowClose(host);
  });
  EXPECT_TRUE(run());
  ::DestroyWindow(outsider);
  ASSERT_NE(documentWindow, nullptr);
  EXPECT_EQ(focusedOnDocument, documentWindow) << "the keys go to the page from the first activation on";
  EXPECT_EQ(focusedWithoutOne, hostWindow());
}

// The window rectangle for a real window: DPI as the screen reports it, frame of its styles,
// centred on the owner or on the work area under the cursor.
class WindowRectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HDC screen = ::GetDC(nullptr);
    dpiX_ = ::GetDeviceCaps(screen, LOGPIXELSX);
    dpiY_ = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
  }
  int dpiX_ = 0, dpiY_ = 0;
};

TEST_F(WindowRectTest, BorderlessWindowIsCentredOnTheWorkAreaUnderTheCursor) {
  HWND window = ::CreateWindowExW(WS_EX_APPWINDOW, L"STATIC", nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  POINT cursor = {};
  ::GetCursorPos(&cursor);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &monitor));
  const RECT& work = monitor.rcWork;

  RECT rect = htmlui::computeWindowRect(window, 651, 272);
  EXPECT_EQ(rect.right - rect.left, 651 * dpiX_ / 96) << "no frame on a borderless window";
  EXPECT_EQ(rect.bottom - rect.top, 272 * dpiY_ / 96);
  EXPECT_LE(std::abs((rect.left + rect.right) - (work.left + work.right)), 1);
  EXPECT_LE(std::abs((rect.top + rect.bottom) - (work.top + work.bottom)), 1);

  RECT huge = htmlui::computeWindowRect(window, 20000, 20000);
  EXPECT_EQ(huge.left, work.left) << "larger than the work area: from its left edge";
  EXPECT_EQ(huge.top, work.top);
  ::DestroyWindow(window);
}

TEST_F(WindowRectTest, OwnedWindowWithFrameIsCentredOnItsOwner) {
  HWND owner = ::CreateWindowExW(0, L"STATIC", nullptr, WS_POPUP, 100, 100, 400, 300, nullptr, nullptr, nullptr,
                                 nullptr);
  HWND owned = ::CreateWindowExW(WS_EX_DLGMODALFRAME, L"STATIC", nullptr, WS_POPUP | WS_CAPTION, 0, 0, 10, 10, owner,
                                 nullptr, nullptr, nullptr);
  ASSERT_NE(owned, nullptr);
  RECT frame = {0, 0, 200 * dpiX_ / 96, 100 * dpiY_ / 96};
  ::AdjustWindowRectEx(&frame, WS_POPUP | WS_CAPTION, FALSE, WS_EX_DLGMODALFRAME);
  RECT rect = htmlui::computeWindowRect(owned, 200, 100);
  EXPECT_EQ(rect.right - rect.left, frame.right - frame.left);
  EXPECT_EQ(rect.bottom - rect.top, frame.bottom - frame.top);
  EXPECT_GT(rect.bottom - rect.top, 100 * dpiY_ / 96) << "the caption adds height";
  EXPECT_LE(std::abs((rect.left + rect.right) - 600), 1);
  EXPECT_LE(std::abs((rect.top + rect.bottom) - 500), 1);
  ::DestroyWindow(owned);
  ::DestroyWindow(owner);
}

}  // namespace
