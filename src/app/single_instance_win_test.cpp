// Win32 code. A second stub while the first one runs: started as a real process against a real "HTMLUI" window.
#include "app/single_instance_win.h"

#include <gtest/gtest.h>

#include "support/wine_test_support_win.h"

namespace {

using testsupport::ScratchFolder;

LRESULT CALLBACK plainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

// What the first instance holds while it shows its page: the mutex and a window of its class.
class FirstInstance {
 public:
  FirstInstance() : instance_(app::acquireSingleInstance()) {}
  ~FirstInstance() {
    if (window_ != nullptr) DestroyWindow(window_);
    UnregisterClassW(app::kHostWindowClassName, GetModuleHandleW(nullptr));
  }
  bool ownsMutex() const { return instance_.mutex && !instance_.alreadyRunning; }
  HWND showMinimisedWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = plainWindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = app::kHostWindowClassName;
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, app::kHostWindowClassName, L"Sorvane Pro", WS_POPUP | WS_VISIBLE, 100, 100, 651,
                              272, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(window_, SW_MINIMIZE);
    return window_;
  }

 private:
  app::SingleInstance instance_;
  HWND window_ = nullptr;
};

testsupport::ChildResult startSecondStub(const ScratchFolder& temp) {
  return testsupport::runChild(testsupport::quoted(testsupport::stubExePath()),
                               {{L"TMP", temp.path()}, {L"TEMP", temp.path()}}, 30000);
}

TEST(SingleInstance, SecondStubRestoresTheMinimisedWindowAndExitsWithZero) {
  FirstInstance first;
  ASSERT_TRUE(first.ownsMutex());
  HWND window = first.showMinimisedWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(IsIconic(window));

  ScratchFolder temp;
  testsupport::ChildResult second = startSecondStub(temp);
  ASSERT_TRUE(second.finished);
  EXPECT_EQ(second.exitCode, 0u);
  EXPECT_FALSE(IsIconic(window)) << "the first instance's window is restored";
  EXPECT_TRUE(testsupport::listFolder(temp.path()).empty()) << "the second stub made no log";
}

TEST(SingleInstance, SecondStubBeforeTheFirstHasAWindowExitsWithZeroAndDoesNothing) {
  FirstInstance first;
  ASSERT_TRUE(first.ownsMutex());
  ScratchFolder temp;
  testsupport::ChildResult second = startSecondStub(temp);
  ASSERT_TRUE(second.finished);
  EXPECT_EQ(second.exitCode, 0u);
  EXPECT_TRUE(testsupport::listFolder(temp.path()).empty());
}

TEST(SingleInstance, TheMutexIsFreeAgainWhenItsOwnerCloses) {
  { FirstInstance first; }
  FirstInstance again;
  EXPECT_TRUE(again.ownsMutex());
}

}  // namespace
