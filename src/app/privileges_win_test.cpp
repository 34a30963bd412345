// Win32 code. The privilege check shows a real message box; a watcher thread reads it as a user would and
// presses OK.
#include "app/privileges_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "support/wine_test_support_win.h"
#include "sysenv/unique_handle_win.h"

namespace {

constexpr int kGerman = 3, kSpanish = 6, kJapanese = 5;

bool notElevated() { return false; }
bool elevated() { return true; }

struct SeenBox {
  std::wstring caption;
  std::wstring text;
};

BOOL CALLBACK collectStaticText(HWND child, LPARAM parameter) {
  wchar_t className[32];
  GetClassNameW(child, className, 32);
  if (_wcsicmp(className, L"Static") == 0) {
    wchar_t text[1024];
    if (GetWindowTextW(child, text, 1024) > 0) *reinterpret_cast<std::wstring*>(parameter) += text;
  }
  return TRUE;
}

// Waits for a message box of this process to appear, records its caption and text, closes it.
class MessageBoxWatcher {
 public:
  MessageBoxWatcher() : thread_([this] { watch(); }) {}
  ~MessageBoxWatcher() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // Waits until the box has been seen and closed (or the watcher gave up).
  SeenBox seen() {
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  struct Search {
    DWORD process;
    HWND found;
  };
  static BOOL CALLBACK findDialog(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[16];
    GetClassNameW(window, className, 16);
    if (process == search->process && wcscmp(className, L"#32770") == 0 && IsWindowVisible(window)) {
      search->found = window;
      return FALSE;
    }
    return TRUE;
  }
  void watch() {
    for (int tries = 0; tries < 1000 && !stop_; ++tries) {
      Search search{GetCurrentProcessId(), nullptr};
      EnumWindows(findDialog, reinterpret_cast<LPARAM>(&search));
      if (search.found != nullptr) {
        wchar_t caption[256];
        GetWindowTextW(search.found, caption, 256);
        seen_.caption = caption;
        EnumChildWindows(search.found, collectStaticText, reinterpret_cast<LPARAM>(&seen_.text));
        PostMessageW(search.found, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(10);
    }
  }
  std::atomic<bool> stop_{false};
  SeenBox seen_;
  std::thread thread_;
};

class PrivilegeCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    stub_.reset(LoadLibraryExW(testsupport::stubExePath().c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(stub_);
  }
  SeenBox refuse(int uiLanguage) {
    MessageBoxWatcher watcher;
    EXPECT_FALSE(app::checkPrivileges(uiLanguage, {notElevated, stub_.get()}));
    return watcher.seen();
  }
  sysenv::UniqueModule stub_;
};

TEST_F(PrivilegeCheck, ElevatedProcessContinuesWithoutABox) {
  EXPECT_TRUE(app::checkPrivileges(kGerman, {elevated, stub_.get()}));
}

TEST_F(PrivilegeCheck, GermanUserSeesTheGermanBox) {
  SeenBox box = refuse(kGerman);
  EXPECT_EQ(box.caption, L"Warnung");
  EXPECT_EQ(box.text.rfind(L"Sie verf\u00fcgen nicht \u00fcber die erforderlichen Rechte", 0), 0u) << box.text.size();
}

TEST_F(PrivilegeCheck, SpanishUserSeesEnglishBecauseNoSpanishTextsExist) {
  SeenBox box = refuse(kSpanish);
  EXPECT_EQ(box.caption, L"Warning");
  EXPECT_EQ(box.text,
            L"You do not have sufficient privileges to complete this installation. Log on as administrator and retry "
            L"this installation.");
}

TEST_F(PrivilegeCheck, JapaneseUserSeesTheJapaneseCaption) {
  EXPECT_EQ(refuse(kJapanese).caption, L"\u8B66\u544A");
}

}  // namespace
