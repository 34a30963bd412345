// Win32 test code. The window run over real payload folders; the HTML document is the test's
// stand-in where one is needed, because Wine has no HTML engine.
#include "app/ui_run_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "htmlui/host_window_win.h"
#include "support/fake_html_document_win.h"
#include "support/payload_container_win.h"
#include "support/wine_test_support_win.h"

namespace {

using testsupport::ScratchFolder;

class UiRun : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }

  // A payload unpacked from a container holding a start page.
  std::unique_ptr<payload::UiPayload> loadedPayload() {
    const std::wstring packed = scratch_.file(L"packed.exe");
    EXPECT_TRUE(testsupport::writeFileBytes(
        packed, testsupport::containerFile({testsupport::containerEntry(L"Load.html", "<html></html>")})));
    auto uiPayload = std::make_unique<payload::UiPayload>(&logger_, packed);
    EXPECT_TRUE(uiPayload->loaded());
    return uiPayload;
  }
  std::string logText() { return testsupport::readFileBytes(logger_.logPath()); }

  ScratchFolder scratch_;
  app::Logger logger_;
  app::InstallProperties properties_{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
};

// This thread's host window, if any: other tests may show theirs on the same desktop.
HWND ownHostWindow() {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM out) -> BOOL {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (std::wstring(name) != htmlui::kHostWindowClassName) return TRUE;
        *reinterpret_cast<HWND*>(out) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Closes the host window from inside its own message loop, as a user would.
void CALLBACK closeHostWindow(HWND, UINT, UINT_PTR timer, DWORD) {
  if (HWND window = ownHostWindow()) {
    KillTimer(nullptr, timer);
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
}

TEST_F(UiRun, UnreadablePayloadShowsNoWindowAndHandsTheLogOverAsAnError) {
  payload::UiPayload missing(&logger_, scratch_.file(L"missing.exe"));
  ASSERT_FALSE(missing.loaded());

  EXPECT_FALSE(app::runUi(missing, nullptr, properties_, logger_));

  EXPECT_EQ(properties_.status, app::kStatusErrorOccurred);
  const std::string log = logText();
  EXPECT_NE(log.find("DEBUG] Property osbits: 32\r\n\r\n"), std::string::npos) << log;
  // Closed for the archive: nothing more reaches the file.
  logger_.debug(L"after the close");
  EXPECT_EQ(logText(), log);
}

TEST_F(UiRun, LoadedPayloadShowsTheStartPageUntilTheWindowIsClosed) {
  auto uiPayload = loadedPayload();
  auto* document = new testsupport::FakeHtmlDocument();
  {
    testsupport::ScopedFakeHtmlDocumentClass documentClass(document);
    ASSERT_TRUE(documentClass.registered());
    SetTimer(nullptr, 0, 20, closeHostWindow);

    EXPECT_TRUE(app::runUi(*uiPayload, nullptr, properties_, logger_));
  }
  // The document was given the page as a file URL (what the URL moniker makes of the path).
  std::wstring pageUrl = L"file:///" + uiPayload->payloadFolder() + L"Load.html";
  for (wchar_t& c : pageUrl) c = (c == L'\\') ? L'/' : c;
  EXPECT_EQ(document->loadedUrl, pageUrl);
  EXPECT_EQ(ownHostWindow(), nullptr);
  // The page did not touch the status: the run was no error, and the log stays open.
  EXPECT_EQ(properties_.status, app::kStatusEnvironmentNotSupported);
  logger_.debug(L"still open");
  EXPECT_NE(logText().find("still open"), std::string::npos);
  EXPECT_EQ(logText().find("Property "), std::string::npos);
  document->Release();
}

TEST_F(UiRun, WithoutAnHtmlEngineTheWindowRunFailsAndTheStatusIsKept) {
  auto uiPayload = loadedPayload();

  EXPECT_FALSE(app::runUi(*uiPayload, nullptr, properties_, logger_));

  EXPECT_EQ(ownHostWindow(), nullptr);
  EXPECT_EQ(properties_.status, app::kStatusEnvironmentNotSupported);
  EXPECT_EQ(logText().find("Property "), std::string::npos);
}

}  // namespace
