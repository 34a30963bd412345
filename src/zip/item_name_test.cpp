#include "zip/item_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
  std::u16string name;
  std::u16string relative;
};

TEST(ItemName, NamesInsideTheFolderResolveToTheirRelativePath) {
  const Case cases[] = {
      {u"setup.exe", u"setup.exe"},
      {u"a\\b\\c.txt", u"a\\b\\c.txt"},
      {u"docs\\", u"docs"},  // a folder item
      {u"a\\\\b", u"a\\b"},  // doubled separator
      {u".\\a\\.\\b", u"a\\b"},
      {u"a\\..\\inside.txt", u"inside.txt"},  // climbs, but not out
      {u"a\\b\\..\\..\\c", u"c"},
      {u"a\\b\\..", u"a"},
      {u"...dots.txt", u"...dots.txt"},  // dots in a name are a name
      {u"name.", u"name."},
      {u"console.txt", u"console.txt"},  // only the device names themselves are devices
      {u"com10", u"com10"},
      {u"lpt", u"lpt"},
      {u"nul_not.txt", u"nul_not.txt"},
      {u"with space\\x y.txt", u"with space\\x y.txt"},
      {u"caf\u00E9\\\u65E5\u672C.txt", u"caf\u00E9\\\u65E5\u672C.txt"},
      {u"", u""},  // the destination itself
      {u".\\", u""},
      {u"a\\..", u""},
  };
  for (const Case& c : cases) {
    const auto relative = zip::containedItemPath(c.name);
    ASSERT_TRUE(relative.has_value()) << std::string(c.name.begin(), c.name.end());
    EXPECT_EQ(*relative, c.relative) << std::string(c.name.begin(), c.name.end());
  }
}

TEST(ItemName, NamesThatWouldLeaveTheFolderAreRefused) {
  const std::u16string refused[] = {
      u"..\\evil.txt",
      u"..",
      u"a\\..\\..\\evil.txt",
      u"a\\b\\..\\..\\..\\evil.txt",
      u"\\evil.txt",  // root of the destination's drive
      u"\\\\server\\share\\evil.txt",
      u"\\\\?\\C:\\evil.txt",
      u"\\\\.\\PhysicalDrive0",
      u"C:\\evil.txt",
      u"C:evil.txt",  // relative to the drive's current folder
      u"a:b",         // alternate data stream of "a"
      u"a\\b.txt:stream",
      u"...\\evil.txt",  // only dots and spaces: Windows would not keep the name
      u".. \\evil.txt",
      u"a\\. .\\b",
      u" \\x",
      u"nul",  // devices, in any folder, with any extension and case
      u"a\\NUL.txt",
      u"con\\x.txt",
      u"Com1.log",
      u"lpt9",
      u"aux .c",
      u"conout$",
      u"com\u00B9",
  };
  for (const std::u16string& name : refused) {
    EXPECT_FALSE(zip::containedItemPath(name).has_value()) << std::string(name.begin(), name.end());
  }
}

}  // namespace
