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

namespace {

TEST(QuietSwitch, IsAnArgumentOfItsOwnInAnyCaseOutsideThePassthroughText) {
  const struct {
    const char16_t* commandLine;
    bool quiet;
  } cases[] = {
      {u"SorvaneProSetup.exe /quiet", true},
      {u"\"C:\\Users\\a b\\Downloads\\SorvaneProSetup.exe\" /quiet", true},
      {u"SorvaneProSetup.exe /QUIET", true},
      {u"SorvaneProSetup.exe /Quiet passthro=\"/qn\"", true},
      {u"SorvaneProSetup.exe passthro=\"/qn\" /quiet", true},
      {u"SorvaneProSetup.exe\t/quiet\t", true},
      {u"SorvaneProSetup.exe \"/quiet\"", true},                  // quotes are dropped, as argv does
      {u"SorvaneProSetup.exe", false},
      {u"", false},
      {u"SorvaneProSetup.exe passthro=\"/quiet\"", false},       // the installer's, not ours
      {u"SorvaneProSetup.exe passthro=\"a /quiet b\"", false},
      {u"SorvaneProSetup.exe passthro=\"a /quiet", false},        // unclosed: the rest is pass-through
      {u"SorvaneProSetup.exe passthro=\"a\"/quiet", true},        // the span ends an argument
      {u"SorvaneProSetup.exe /quietly", false},
      {u"SorvaneProSetup.exe /quiet=1", false},
      {u"SorvaneProSetup.exe -quiet", false},
      {u"SorvaneProSetup.exe quiet", false},
      {u"SorvaneProSetup.exe x/quiet", false},
      {u"SorvaneProSetup.exe \"a /quiet\"", false},               // one quoted argument
      {u"/quiet", false},                                          // the program's own name
      {u"\"C:\\x /quiet\\setup.exe\" /other", false},              // inside the quoted program name
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sysenv::hasQuietSwitch(c.commandLine), c.quiet)
        << std::string(c.commandLine, c.commandLine + std::char_traits<char16_t>::length(c.commandLine));
  }
}

}  // namespace
