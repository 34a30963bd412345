#include "app/install_properties.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/language_table.h"

namespace {

app::RunEnvironment sampleEnvironment(const std::u16string& architecture) {
  app::RunEnvironment environment;
  environment.passthrough = u"/quiet";
  environment.requestToken = u"XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
  environment.machineId = u"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
  environment.architecture = architecture;
  environment.defaultBrowser = u"FIREFOX.EXE";
  environment.os = u"Windows 10";
  environment.country = u"94";
  environment.uiLanguage = 3;
  return environment;
}

TEST(InstallProperties, OsBitsIs64OnlyForExactlyX64) {
  struct Case {
    std::u16string architecture;
    std::u16string osbits;
  };
  const Case cases[] = {
      {u"x64", u"64"}, {u"x86", u"32"}, {u"X64", u"32"}, {u"x64 ", u"32"}, {u"", u"32"}, {u"amd64", u"32"},
  };
  for (const Case& c : cases) {
    app::InstallProperties properties(u"KRV", u"1.0.20.1", sampleEnvironment(c.architecture));
    EXPECT_EQ(properties.properties.at(u"osbits"), c.osbits);
    EXPECT_EQ(properties.architecture, c.architecture);
  }
}

TEST(InstallProperties, ConstructorStoresTheEnvironmentAndStartsAsNotSupported) {
  app::InstallProperties properties(u"KRV", u"1.0.20.1", sampleEnvironment(u"x64"));
  EXPECT_EQ(properties.productId, u"KRV");
  EXPECT_EQ(properties.QXDLMVersion, u"1.0.20.1");
  EXPECT_EQ(properties.passthrough, u"/quiet");
  EXPECT_EQ(properties.requestToken, u"XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
  EXPECT_EQ(properties.machineId, u"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
  EXPECT_EQ(properties.defaultBrowser, u"FIREFOX.EXE");
  EXPECT_EQ(properties.OS, u"Windows 10");
  EXPECT_EQ(properties.country, u"94");
  EXPECT_EQ(properties.language, 3);

  EXPECT_EQ(properties.status, app::kStatusEnvironmentNotSupported);
  EXPECT_EQ(properties.status, 4);
  EXPECT_EQ(properties.wrapperError, 0);
  EXPECT_EQ(properties.msiError, 0);
  EXPECT_TRUE(properties.productVersion.empty());
  EXPECT_TRUE(properties.channelId.empty());
  EXPECT_TRUE(properties.serialKey.empty());
  EXPECT_TRUE(properties.externalProperties.empty());
  // The report names the language before the choice "Other".
  EXPECT_EQ(properties.installLanguage, 0);
  EXPECT_EQ(app::languageName(properties.installLanguage), u"Other");
  // The constructor writes "osbits" and nothing else; "lang" comes with the language choice.
  ASSERT_EQ(properties.properties.size(), 1u);
  EXPECT_EQ(properties.properties.count(u"lang"), 0u);
}

TEST(InstallProperties, SetInstallLanguageStoresIndexAndCode) {
  app::InstallProperties properties(u"KRV", u"1.0.20.1", sampleEnvironment(u"x86"));
  properties.setInstallLanguage(5);
  EXPECT_EQ(properties.installLanguage, 5);
  EXPECT_EQ(properties.properties.at(u"lang"), u"jp");
  properties.setInstallLanguage(107);
  EXPECT_EQ(properties.installLanguage, 107);
  EXPECT_EQ(properties.properties.at(u"lang"), u"zu");
  // The UI language is a separate field and stays as gathered.
  EXPECT_EQ(properties.language, 3);
}

TEST(InstallProperties, SetInstallLanguageOutsideTheTableIsOther) {
  app::InstallProperties properties(u"KRV", u"1.0.20.1", sampleEnvironment(u"x86"));
  for (int index : {-1, app::kLanguageCount, 1000}) {
    properties.setInstallLanguage(index);
    EXPECT_EQ(properties.installLanguage, app::kLanguageOther) << index;
    EXPECT_EQ(properties.properties.at(u"lang"), u"other") << index;
  }
}

TEST(InstallProperties, PropertyMapIsOrderedByUtf16CodeUnits) {
  app::InstallProperties properties(u"KRV", u"1.0.20.1", sampleEnvironment(u"x86"));
  properties.setInstallLanguage(1);
  properties.properties[u"downloadTotal"] = u"1";
  properties.properties[u"Zebra"] = u"";
  properties.properties[u"\u00E9t\u00E9"] = u"";  // a unit above 0x7F sorts after every ASCII key
  properties.properties[u"\uFF21"] = u"";          // fullwidth A: after the Latin-1 key
  properties.properties[u"arch"] = u"x86";
  properties.properties[u"osVersion"] = u"10.0";

  std::vector<std::u16string> keys;
  for (const auto& entry : properties.properties) keys.push_back(entry.first);
  const std::vector<std::u16string> expected = {
      u"Zebra", u"arch", u"downloadTotal", u"lang", u"osVersion", u"osbits", u"\u00E9t\u00E9", u"\uFF21",
  };
  EXPECT_EQ(keys, expected);
}

}  // namespace
