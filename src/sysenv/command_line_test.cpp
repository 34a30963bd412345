#include "sysenv/command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(Passthrough, IsTheTextBetweenTheMarkerAndTheNextQuote) {
  const struct {
    const char16_t* commandLine;
    const char16_t* expected;
  } cases[] = {
      {u"\"C:\\Downloads\\setup.exe\" passthro=\"a b\"", u"a b"},
      {u"setup.exe passthro=\"/qn REBOOT=ReallySuppress\" other", u"/qn REBOOT=ReallySuppress"},
      {u"setup.exe passthro=\"\"", u""},
      {u"setup.exe passthro=\"a b", u""},              // no closing quote
      {u"setup.exe", u""},                            // no marker
      {u"", u""},
      {u"setup.exe passthro=a", u""},                 // the quote belongs to the marker
      {u"setup.exe PASSTHRO=\"a\"", u""},             // exact case only
      {u"setup.exe passthro= \"a\"", u""},
      {u"passthro=\"first\" passthro=\"second\"", u"first"},
      {u"x passthro=\"a\\\"b\"", u"a\\"},              // no escapes: a backslash is text
      {u"\"C:\\a passthro=\"x\"", u"x"},               // found anywhere, even inside a quoted path
      {u"setup.exe passthro=\"", u""},                // marker at the very end
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sysenv::passthroughFromCommandLine(c.commandLine), c.expected)
        << std::string(c.commandLine, c.commandLine + std::char_traits<char16_t>::length(c.commandLine));
  }
}

TEST(Passthrough, KeepsTextOutsideAscii) {
  EXPECT_EQ(sysenv::passthroughFromCommandLine(u"s.exe passthro=\"\u00e9t\u00e9 \u65e5\u672c\""),
            u"\u00e9t\u00e9 \u65e5\u672c");
}

}  // namespace
