#include "payload/language_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using List = std::vector<std::u16string>;

TEST(ScanLanguageList, FollowsTheScanRules) {
  const struct {
    const char* name;
    std::string file;
    List expected;
  } cases[] = {
      {"shipped member", R"(var p = {"LANG":["en","fr","jp","de","it","nl"],"X":1};)",
       {u"en", u"fr", u"jp", u"de", u"it", u"nl"}},
      {"blanks around the colon and in the brackets", R"({"LANG" :  [ "en" ] })", {u"en"}},
      {"empty array", R"({"LANG":[],"CH":"web"})", {}},
      {"plain string takes every later quoted text up to the next ]",
       R"({"LANG":"en","CH":"web","V":[1]} "after")", {u"en", u"CH", u"web", u"V"}},
      {"inside another string", R"(var s = 'x "LANG": ["de"]'; var p = {"LANG":["en"]};)", {u"de"}},
      {"only the first occurrence", R"("LANG":["fr"] "LANG":["en"])", {u"fr"}},
      {"no member", R"({"LANGS":["en"]})", {}},
      {"lower case is another name", R"({"lang":["en"]})", {}},
      {"the character after the quote is skipped whatever it is", R"("LANG""en"])", {}},
      {"match at the very end", R"(x"LANG")", {}},
      {"match with one character after it", R"("LANG":)", {}},
      {"no closing bracket runs to the end", R"("LANG":["en","fr")", {u"en", u"fr"}},
      {"unclosed quote at the end is dropped", R"("LANG":["en","fr)", {u"en"}},
      {"] inside a string ends the scan", R"("LANG":["e]n","fr"])", {}},
      {"no escapes", R"("LANG":["a\"b"])", {u"a\\"}},
      {"empty text", R"("LANG":["","en"])", {u"", u"en"}},
      {"NUL bytes are characters", std::string("\"LANG\":[\"e\0n\"]", 14), {std::u16string(u"e\0n", 3)}},
      {"empty file", "", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(payload::scanLanguageList(c.file), c.expected) << c.name;
}

TEST(ScanLanguageList, KeepsTheByteOrderMarkAsACharacter) {
  // The mark is one character of the text, so it shifts nothing and the member is still found.
  EXPECT_EQ(payload::scanLanguageList("\xEF\xBB\xBF{\"LANG\":[\"en\"]}"), List{u"en"});
  // Inside a quoted text it comes back as U+FEFF.
  EXPECT_EQ(payload::scanLanguageList("\"LANG\":[\"\xEF\xBB\xBF" "en\"]"), List{u"\uFEFFen"});
}

TEST(ScanLanguageList, DecodesMultiByteCharactersAndSurrogatePairs) {
  EXPECT_EQ(payload::scanLanguageList("\"LANG\":[\"\xC3\xA9\",\"\xE6\x97\xA5\",\"\xF0\x9F\x98\x80\",\"\xF4\x8F\xBF\xBF\"]"),
            (List{u"\u00E9", u"\u65E5", u"\xD83D\xDE00", u"\xDBFF\xDFFF"}));
}

TEST(ScanLanguageList, InvalidUtf8GivesAnEmptyList) {
  const struct {
    const char* name;
    const char* bytes;
  } cases[] = {
      {"overlong slash", "\xC0\xAF"},
      {"overlong NUL", "\xC0\x80"},
      {"overlong three-byte", "\xE0\x80\xAF"},
      {"overlong four-byte", "\xF0\x80\x80\xAF"},
      {"encoded high surrogate", "\xED\xA0\x80"},
      {"encoded low surrogate", "\xED\xBF\xBF"},
      {"above U+10FFFF", "\xF4\x90\x80\x80"},
      {"five-byte lead", "\xF8\x88\x80\x80\x80"},
      {"byte FF", "\xFF"},
      {"stray continuation", "\x80"},
      {"truncated two-byte at the end", "\xC3"},
      {"truncated four-byte at the end", "\xF0\x9F\x98"},
      {"lead followed by ASCII", "\xC3" "A"},
      {"three-byte missing its last byte", "\xE6\x97" "A"},
  };
  for (const auto& c : cases) {
    const std::string file = std::string("{\"LANG\":[\"en\"],\"x\":\"") + c.bytes + "\"}";
    EXPECT_TRUE(payload::scanLanguageList(file).empty()) << c.name;
  }
}

TEST(DecodeUtf8, AcceptsTheEdgesOfEachLength) {
  const struct {
    const char* bytes;
    std::u16string text;
  } cases[] = {
      {"\x7F", u"\x7F"},
      {"\xC2\x80", u"\x80"},
      {"\xDF\xBF", u"\x7FF"},
      {"\xE0\xA0\x80", u"\x800"},
      {"\xED\x9F\xBF", u"\xD7FF"},
      {"\xEE\x80\x80", u"\xE000"},
      {"\xEF\xBF\xBF", u"\xFFFF"},
      {"\xF0\x90\x80\x80", u"\xD800\xDC00"},
  };
  for (const auto& c : cases) {
    std::u16string text;
    ASSERT_TRUE(payload::decodeUtf8(c.bytes, text)) << c.bytes;
    EXPECT_EQ(text, c.text);
  }
}

}  // namespace
