// Win32 code.
#include <gtest/gtest.h>

#include <string>

#include "sysenv/shell_win.h"

namespace {

TEST(ToUtf8, IsTheUtf8EncodingByteForByte) {
  const struct {
    std::wstring text;
    std::string utf8;
  } cases[] = {
      {L"", ""},
      {L"plain ASCII", "plain ASCII"},
      {L"\u00e9t\u00e9", "\xc3\xa9t\xc3\xa9"},                            // two bytes each
      {L"\u65e5\u672c\u8a9e", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"},  // three bytes each
      {L"\U0001F600", "\xf0\x9f\x98\x80"},                                // a surrogate pair: four bytes
      {L"\xd800x", "\xef\xbf\xbdx"},                                      // a lone surrogate: U+FFFD
  };
  for (const auto& c : cases) {
    const std::string utf8 = sysenv::toUtf8(c.text);
    EXPECT_EQ(utf8, c.utf8);
    EXPECT_EQ(utf8.size(), c.utf8.size());
  }
}

TEST(ToUtf8, EndsAtTheFirstNul) {
  EXPECT_EQ(sysenv::toUtf8(std::wstring(L"before\0after", 12)), "before");
  EXPECT_EQ(sysenv::toUtf8(std::wstring(L"\0after", 6)), "");
}

TEST(ToUtf8, HandlesLongText) {
  const std::wstring text(100000, L'\u00fc');
  const std::string utf8 = sysenv::toUtf8(text);
  ASSERT_EQ(utf8.size(), 200000u);
  EXPECT_EQ(utf8.substr(199998), "\xc3\xbc");
}

}  // namespace
