#include "sysenv/scope_exit.h"

#include <gtest/gtest.h>

TEST(ScopeExit, RunsOnLeavingAndNotWhenDismissed) {
  int runs = 0;
  {
    sysenv::ScopeExit guard([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
  {
    sysenv::ScopeExit guard([&] { ++runs; });
    guard.dismiss();
  }
  EXPECT_EQ(runs, 1);
}
