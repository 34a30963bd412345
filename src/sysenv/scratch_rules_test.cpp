#include "sysenv/scratch_rules.h"

#include <gtest/gtest.h>

namespace {

using sysenv::ScratchRoot;

TEST(ScratchRules, AnElevatedProcessWorksOnlyUnderTheWindowsTemporaryFolders) {
  EXPECT_EQ(sysenv::scratchRootsFor(true), (std::vector<ScratchRoot>{ScratchRoot::SystemTemp, ScratchRoot::WindowsTemp}));
  EXPECT_EQ(sysenv::scratchRootsFor(false), std::vector<ScratchRoot>{ScratchRoot::UserTemp});
}

TEST(ScratchRules, ARootIsUsableOnlyAsAPlainExistingFolder) {
  EXPECT_TRUE(sysenv::isUsableScratchRoot(0x10));           // directory
  EXPECT_TRUE(sysenv::isUsableScratchRoot(0x10 | 0x2000));  // directory, not indexed
  EXPECT_FALSE(sysenv::isUsableScratchRoot(0xFFFFFFFFu));   // missing
  EXPECT_FALSE(sysenv::isUsableScratchRoot(0x20));          // a file of that name
  EXPECT_FALSE(sysenv::isUsableScratchRoot(0x410));         // a junction or folder link
}

TEST(ScratchRules, FolderNamesAreUppercaseGuidsWithoutBraces) {
  EXPECT_TRUE(sysenv::isScratchFolderName(u"0F8E2A41-93B4-4C1D-A0E5-7B6C5D4E3F21"));
  EXPECT_FALSE(sysenv::isScratchFolderName(u"0f8e2a41-93b4-4c1d-a0e5-7b6c5d4e3f21"));   // lowercase
  EXPECT_FALSE(sysenv::isScratchFolderName(u"{0F8E2A41-93B4-4C1D-A0E5-7B6C5D4E3F21}"));  // braces
  EXPECT_FALSE(sysenv::isScratchFolderName(u"0F8E2A41-93B4-4C1D-A0E5-7B6C5D4E3F2"));     // short
  EXPECT_FALSE(sysenv::isScratchFolderName(u"0F8E2A41993B4-4C1D-A0E5-7B6C5D4E3F21"));    // no dash
  EXPECT_FALSE(sysenv::isScratchFolderName(u"1a2b"));                                     // a tick name
}

}  // namespace
