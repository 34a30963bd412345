#include "sorvane/installer_rules.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(InstallerRules, CommandLineKeepsTheArgumentsAsTheyCome) {
  struct Case {
    const char16_t* arguments;
    const char16_t* expected;
  };
  const Case cases[] = {
      // An empty pass-through text leaves the blank that joins it to the page's parameters.
      {u" x=1", uR"("C:\T\5f3a\setup.exe"  x=1 /L*v "C:\T\5f3a\log.txt")"},
      {u"/passive x=1", uR"("C:\T\5f3a\setup.exe" /passive x=1 /L*v "C:\T\5f3a\log.txt")"},
      {u"", uR"("C:\T\5f3a\setup.exe"  /L*v "C:\T\5f3a\log.txt")"},
      {u"a=\"b c\" ", uR"("C:\T\5f3a\setup.exe" a="b c"  /L*v "C:\T\5f3a\log.txt")"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(installerCommandLine(u"C:\\T\\5f3a\\setup.exe", c.arguments, u"C:\\T\\5f3a\\log.txt"), c.expected);
  // No folder found: the bare names, run relative to the current folder.
  EXPECT_EQ(installerCommandLine(u"setup.exe", u" a=1", u"log.txt"), uR"("setup.exe"  a=1 /L*v "log.txt")");
}

TEST(InstallerRules, ExitCodesMapToThePagesResults) {
  const std::pair<std::uint32_t, std::int32_t> cases[] = {
      {0, 0},    {3010, 0}, {1602, 2}, {1603, 3},        {1618, 4}, {5, 1},
      {1, 1},    {1641, 1}, {3011, 1}, {0xC0000005u, 1}, {259, 1},  {0xFFFFFFFFu, 1},
  };
  for (const auto& [exitCode, result] : cases) EXPECT_EQ(installResultFromExitCode(exitCode), result) << exitCode;
}

TEST(InstallerRules, ProductCodeFollowsTheArchitectureExactly) {
  EXPECT_EQ(std::u16string(productCodeFor(u"x64")), u"{3C7E52A1-90B4-4F6D-8E21-5AD0C47B19E3}");
  for (const char16_t* other : {u"x86", u"X64", u"x64 ", u"", u"arm64"})
    EXPECT_EQ(std::u16string(productCodeFor(other)), u"{B81F0D64-2E3A-47C9-9B58-E6174A03C2DF}");
}

TEST(InstallerRules, TheInstallersTemporaryFolderIsItsOwnAndNothingElseChanges) {
  using namespace std::string_literals;
  const std::u16string block = u"=C:=C:\\dl\0Path=C:\\Windows\0temp=C:\\Users\\u\\Temp\0"
                               u"TMP=C:\\Users\\u\\Temp\0TEMPLATE=x\0Tmpdir=y\0\0"s;
  EXPECT_EQ(installerEnvironment(block, u"C:\\W\\1\\"),
            u"=C:=C:\\dl\0Path=C:\\Windows\0TEMP=C:\\W\\1\\\0TMP=C:\\W\\1\\\0TEMPLATE=x\0Tmpdir=y\0\0"s);
  // Missing ones are added; a name given twice is set once.
  EXPECT_EQ(installerEnvironment(u"A=1\0\0"s, u"D\\"), u"A=1\0TEMP=D\\\0TMP=D\\\0\0"s);
  EXPECT_EQ(installerEnvironment(u"TEMP=a\0TEMP=b\0\0"s, u"D"), u"TEMP=D\0TMP=D\0\0"s);
  EXPECT_EQ(installerEnvironment(u""s, u"D"), u"TEMP=D\0TMP=D\0\0"s);
}

}  // namespace
}  // namespace sorvane
