#include "htmlui/page_location.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::u16string kFolder = u"C:\\Users\\Jo Doe\\AppData\\Local\\Temp\\1a2b\\";

struct LocationCase {
  const char* what;
  std::u16string url;
  bool inside;
};

const LocationCase kLocationCases[] = {
    {"the start page's path", u"C:\\Users\\Jo Doe\\AppData\\Local\\Temp\\1a2b\\Load.html", true},
    {"the URL the document gives it", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/Load.html", true},
    {"a page below", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/js/external.js", true},
    {"with fragment and query", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/Download.html#close?x", true},
    {"an escaped # is part of the name", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/a%23b.html", true},
    {"scheme and drive in another case", u"FILE:///c:/users/jo%20doe/appdata/local/temp/1A2B/Load.html", true},
    {"two slashes and backslashes", u"file://C:\\Users\\Jo Doe\\AppData\\Local\\Temp\\1a2b\\Load.html", true},
    {"one slash", u"file:/C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/Load.html", true},
    {"the folder itself", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/", false},
    {"the folder without its slash", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b", false},
    {"a sibling that starts alike", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2bc/Load.html", false},
    {"the temporary folder", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/evil.html", false},
    {"out through ..", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/../evil.html", false},
    {"out through an escaped ..", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/%2e%2e/evil.html", false},
    {"out through escaped separators",
     u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/..%2F..%5Cevil.html", false},
    {"a dot segment", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/./Load.html", false},
    {"a double separator", u"C:\\Users\\Jo Doe\\AppData\\Local\\Temp\\1a2b\\\\Load.html", false},
    {"a stream", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/Load.html:evil", false},
    {"an escaped stream", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/Load.html%3Aevil", false},
    {"an escaped NUL", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/Load.html%00.js", false},
    {"a broken escape", u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/Load%2", false},
    {"an escape with a non-hex digit", u"file:///C:/Users/Jo%2gDoe/AppData/Local/Temp/1a2b/Load.html", false},
    {"a UNC share", u"file:////server/share/1a2b/Load.html", false},
    {"a host", u"file://server/C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/Load.html", false},
    {"localhost is a host too", u"file://localhost/C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/Load.html", false},
    {"a UNC path", u"\\\\server\\share\\Load.html", false},
    {"a device path", u"\\\\?\\C:\\Users\\Jo Doe\\AppData\\Local\\Temp\\1a2b\\Load.html", false},
    {"another drive", u"D:\\Users\\Jo Doe\\AppData\\Local\\Temp\\1a2b\\Load.html", false},
    {"the web", u"http://127.0.0.1:8631/Load.html", false},
    {"a blank page", u"about:blank", false},
    {"script", u"javascript:external.closeWindow()", false},
    {"a resource", u"res://ieframe.dll/navcancl.htm", false},
    {"empty", u"", false},
};

TEST(PageLocation, OnlyFilesInsideThePageFolderAreInside) {
  for (const LocationCase& c : kLocationCases) {
    EXPECT_EQ(htmlui::isInsidePageFolder(c.url, kFolder), c.inside) << c.what;
  }
  EXPECT_FALSE(htmlui::isInsidePageFolder(u"C:\\Load.html", u"")) << "no folder holds nothing";
}

TEST(PageLocation, EscapesDecodeAsUtf8OrElseAsSingleBytes) {
  const std::u16string folder = u"C:\\Users\\Jos\u00E9\\\u5B89\\";
  EXPECT_TRUE(htmlui::isInsidePageFolder(u"file:///C:/Users/Jos%C3%A9/%E5%AE%89/Load.html", folder));
  EXPECT_TRUE(htmlui::isInsidePageFolder(u"file:///C:/Users/Jos%E9/%E5%AE%89/Load.html", folder)) << "Latin-1";
  EXPECT_TRUE(htmlui::isInsidePageFolder(u"file:///C:/Users/Jos\u00E9/\u5B89/Load.html", folder)) << "unescaped";
  EXPECT_FALSE(htmlui::isInsidePageFolder(u"file:///C:/Users/JOS%C3%89/%E5%AE%89/Load.html", folder))
      << "only A to Z fold";
  EXPECT_EQ(htmlui::localPageLocation(u"file:///C:/a/%F0%9F%98%80.html"), u"C:\\a\\\U0001F600.html");
  EXPECT_EQ(htmlui::localPageLocation(u"file:///C:/a/%ED%A0%80.html"), u"C:\\a\\\u00ED\u00A0\u0080.html")
      << "an escaped surrogate is no UTF-8";
}

TEST(PageLocation, ARelativeReferenceIsResolvedAgainstTheDocument) {
  const std::u16string document = u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/Load.html";
  const struct {
    const char* what;
    std::u16string reference;
    bool inside;
  } cases[] = {
      {"the next page", u"Download.html", true},
      {"with query and fragment", u"Download.html?lang=de#top", true},
      {"escaped, in either case", u"Dow%6Eload.html", true},
      {"a page below", u"js/external.js", true},
      {"backslashes", u"js\\external.js", true},
      {"a dot segment", u"./Download.html", true},
      {"down and up again", u"js/../Download.html", true},
      {"the document itself", u"#close", true},
      {"out through ..", u"../evil.html", false},
      {"out through an escaped ..", u"%2e%2e/evil.html", false},
      {"out through escaped separators", u"js%2F..%2F..%5Cevil.html", false},
      {"a folder", u"js/", false},
      {"from the root", u"/Users/Jo Doe/AppData/Local/Temp/1a2b/Load.html", false},
      {"another scheme", u"http:Download.html", false},
      {"a stream", u"Load.html:evil", false},
      {"a double separator", u"js//external.js", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(htmlui::isInsidePageFolder(c.reference, kFolder, document), c.inside) << c.what;
  }
  EXPECT_EQ(htmlui::resolvePageReference(u"js/../Download.html", document),
            u"C:\\Users\\Jo Doe\\AppData\\Local\\Temp\\1a2b\\Download.html");
  EXPECT_EQ(htmlui::resolvePageReference(u"../../../../../../../x.html", document), std::nullopt);
  EXPECT_EQ(htmlui::resolvePageReference(u"Download.html", u"http://127.0.0.1/Load.html"), std::nullopt);
}

TEST(PageLocation, ThePageFolderIsTheStartPagesFolder) {
  EXPECT_EQ(htmlui::pageFolderOf(u"C:\\Users\\Jo Doe\\AppData\\Local\\Temp\\1a2b\\Load.html"), kFolder);
  EXPECT_EQ(htmlui::pageFolderOf(u"file:///C:/Users/Jo%20Doe/AppData/Local/Temp/1a2b/Load.html"), kFolder);
  EXPECT_EQ(htmlui::pageFolderOf(u"http://127.0.0.1/Load.html"), u"");
  EXPECT_EQ(htmlui::pageFolderOf(u"C:\\1a2b\\..\\Load.html"), u"");
  EXPECT_EQ(htmlui::pageFolderOf(u"C:\\Load.html"), u"C:\\");
}

}  // namespace
