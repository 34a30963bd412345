// Win32 code.
#include "sysenv/unique_handle_win.h"

#include <gtest/gtest.h>

TEST(UniqueHandle, ClosesOnResetAndHandsOverOnMove) {
  sysenv::UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  HANDLE raw = event.get();
  sysenv::UniqueKernelHandle moved(std::move(event));
  EXPECT_FALSE(event);
  EXPECT_EQ(moved.get(), raw);
  moved.reset();
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(raw, &flags));  // closed exactly once, by the owner
}
