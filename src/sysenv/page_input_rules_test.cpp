#include "sysenv/page_input_rules.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
  const char* what;
  std::u16string name;
  bool accepted;
};

const NameCase kNameCases[] = {
    {"the page's own name", u"Sorvane Pro Setup.lnk", true},
    {"extension in capitals", u"Sorvane.LNK", true},
    {"dots inside the name", u"Sorvane 1.0.lnk", true},
    {"non-ASCII name", u"Sorvane \u5B89\u88C5.lnk", true},
    {"empty", u"", false},
    {"extension alone", u".lnk", false},
    {"another extension", u"Sorvane.exe", false},
    {"extension not at the end", u"Sorvane.lnk.exe", false},
    {"trailing dot", u"Sorvane.lnk.", false},
    {"absolute path", u"C:\\Windows\\System32\\x.lnk", false},
    {"drive-relative", u"C:x.lnk", false},
    {"subfolder", u"sub\\x.lnk", false},
    {"forward slash", u"sub/x.lnk", false},
    {"parent folder", u"..\\x.lnk", false},
    {"dot-dot inside", u"a..lnk", false},
    {"UNC", u"\\\\server\\share\\x.lnk", false},
    {"device path", u"\\\\.\\x.lnk", false},
    {"alternate stream", u"x.lnk:evil", false},
    {"stream before the extension", u"x:evil.lnk", false},
    {"wildcard", u"*.lnk", false},
    {"quote", u"a\".lnk", false},
    {"pipe", u"a|b.lnk", false},
    {"control character", u"a\tb.lnk", false},
    {"NUL inside", std::u16string(u"a\0b.lnk", 7), false},
    {"device name", u"CON.lnk", false},
    {"device name in lower case", u"nul.lnk", false},
    {"device name with a blank", u"aux .lnk", false},
    {"numbered device", u"COM1.lnk", false},
    {"printer port with a second extension", u"LPT9.txt.lnk", false},
    {"console input", u"CONIN$.lnk", false},
    {"COM0 is no device", u"COM0.lnk", true},
    {"a longer name that starts like a device", u"CONSOLE.lnk", true},
    {"255 characters", std::u16string(251, u'a') + u".lnk", true},
    {"256 characters", std::u16string(252, u'a') + u".lnk", false},
};

TEST(PageInputRules, ShortcutNamesAreBareLnkFileNames) {
  for (const NameCase& c : kNameCases) {
    EXPECT_EQ(sysenv::isBareShortcutName(c.name), c.accepted) << c.what;
  }
}

struct UrlCase {
  const char* what;
  std::u16string url;
  bool accepted;
};

const UrlCase kUrlCases[] = {
    {"the page's own thank-you page", u"http://127.0.0.1:8631/thankyou.html", true},
    {"https with query and fragment", u"https://example.com/thanks?a=1&b=2#top", true},
    {"scheme in capitals", u"HTTPS://EXAMPLE.COM/", true},
    {"escapes", u"http://example.com/a%20b%2F", true},
    {"user information and port", u"http://user:pw@example.com:8080/", true},
    {"IPv6 host", u"http://[::1]/", true},
    {"empty", u"", false},
    {"scheme alone", u"http://", false},
    {"no host", u"http:///etc/passwd", false},
    {"no slashes", u"http:example.com", false},
    {"file URL", u"file:///C:/Windows/System32/calc.exe", false},
    {"local path", u"C:\\Windows\\System32\\cmd.exe", false},
    {"UNC path", u"\\\\server\\share\\x.exe", false},
    {"another scheme", u"ftp://example.com/", false},
    {"script scheme", u"javascript:alert(1)", false},
    {"protocol handler", u"ms-settings:", false},
    {"scheme that starts like http", u"httpx://example.com/", false},
    {"leading blank", u" http://example.com/", false},
    {"blank inside", u"http://example.com/a b", false},
    {"quote to break out of a command line", u"http://example.com/\" --flag", false},
    {"command separators", u"http://example.com/|calc", false},
    {"redirection", u"http://example.com/>out", false},
    {"caret", u"http://example.com/^", false},
    {"backslash", u"http://example.com\\x", false},
    {"control character", u"http://example.com/\n", false},
    {"non-ASCII", u"http://example.com/\u00E9", false},
    {"broken escape", u"http://example.com/%2", false},
    {"escape with a non-hex digit", u"http://example.com/%zz", false},
};

TEST(PageInputRules, PagesOpenOnlyHttpAndHttpsUrls) {
  for (const UrlCase& c : kUrlCases) {
    EXPECT_EQ(sysenv::isWebPageUrl(c.url), c.accepted) << c.what;
  }
}

}  // namespace
