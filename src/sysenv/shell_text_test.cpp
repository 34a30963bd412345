#include "sysenv/shell_text.h"

#include <gtest/gtest.h>

namespace {

TEST(EscapeAmpersands, PutsACaretBeforeEveryAmpersandOnly) {
  const struct {
    const char16_t* url;
    const char16_t* expected;
  } cases[] = {
      {u"https://example.com/thanks?a=1&b=2", u"https://example.com/thanks?a=1^&b=2"},
      {u"https://example.com/?a&&b&", u"https://example.com/?a^&^&b^&"},
      {u"&", u"^&"},
      {u"https://example.com/", u"https://example.com/"},
      {u"", u""},
      {u"a^b|c<d>e", u"a^b|c<d>e"},  // other command-interpreter characters pass unchanged
  };
  for (const auto& c : cases) EXPECT_EQ(sysenv::escapeAmpersandsForShell(c.url), c.expected);
}

TEST(TickFolderName, IsLowercaseHexWithoutLeadingZeros) {
  const struct {
    std::uint32_t tick;
    const char16_t* name;
  } cases[] = {{0x1A2B, u"1a2b"}, {0, u"0"}, {0xF, u"f"}, {0x10, u"10"},
               {0x00ABCDEF, u"abcdef"}, {0xFFFFFFFFu, u"ffffffff"}, {0x80000000u, u"80000000"}};
  for (const auto& c : cases) EXPECT_EQ(sysenv::tickFolderName(c.tick), c.name) << c.tick;
}

}  // namespace
