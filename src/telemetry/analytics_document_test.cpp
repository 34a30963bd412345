#include "telemetry/analytics_document.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "telemetry/identity_placeholders.h"

namespace {

// The final report of a run in the United States, English on both sides, on 64-bit Windows 7 with
// no registered browser, whose installer failed with 1603 (stage 2, result 3), and which had neither
// a request token nor a machine id.
app::InstallProperties failedInstallRun() {
  app::RunEnvironment environment;
  environment.requestToken = telemetry::kRequestTokenPlaceholder;
  environment.machineId = telemetry::kMachineIdPlaceholder;
  environment.architecture = u"x64";
  environment.defaultBrowser = u"Other";
  environment.os = u"Windows 7";
  environment.country = u"244";
  environment.uiLanguage = 1;
  app::InstallProperties properties(u"KRV", u"1.0.20.1", environment);
  properties.setInstallLanguage(1);
  properties.status = app::kStatusErrorOccurred;
  properties.wrapperError = 2;
  properties.msiError = 3;
  return properties;
}

const std::u16string kFailedInstallDocument =
    u"<QXDLMAnalytics><requestToken>XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX</requestToken><country>244</country>"
    u"<mainApp><productId>KRV</productId><productVersion></productVersion><channelId></channelId>"
    u"<installLanguage>English</installLanguage><status>error occurred</status><serialKey></serialKey>"
    u"</mainApp><error><wrapperError>2</wrapperError><msiError>3</msiError></error><userEnvironment>"
    u"<OS>Windows 7</OS><language>English</language><architecture>x64</architecture>"
    u"<defaultBrowser>Other</defaultBrowser></userEnvironment><QXDLMVersion>1.0.20.1</QXDLMVersion>"
    u"<machineId>X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX</machineId></QXDLMAnalytics>";

// The text between <tag> and </tag>, or "(missing)".
std::u16string elementText(const std::u16string& document, const std::u16string& tag) {
  const std::u16string open = u"<" + tag + u">", close = u"</" + tag + u">";
  const std::size_t start = document.find(open);
  const std::size_t end = document.find(close);
  if (start == std::u16string::npos || end == std::u16string::npos) return u"(missing)";
  return document.substr(start + open.size(), end - start - open.size());
}

TEST(AnalyticsDocument, FailedInstallRunComesOutByteForByte) {
  EXPECT_EQ(telemetry::buildAnalyticsDocument(failedInstallRun(), false), kFailedInstallDocument);
}

TEST(AnalyticsDocument, StartReportDiffersFromTheFinalOneOnlyInItsStatus) {
  std::u16string expected = kFailedInstallDocument;
  const std::u16string finalStatus = u"<status>error occurred</status>";
  expected.replace(expected.find(finalStatus), finalStatus.size(), u"<status>started</status>");
  EXPECT_EQ(telemetry::buildAnalyticsDocument(failedInstallRun(), true), expected);
}

TEST(AnalyticsDocument, StatusTextPerRecordStatusAndReport) {
  struct Case {
    std::int32_t status;
    const char16_t* startText;
    const char16_t* finalText;
  };
  const Case cases[] = {
      {0, u"started", u"canceled"},
      {1, u"started", u"completed"},
      {2, u"started", u"error occurred"},
      {3, u"started", u"canceled"},
      {4, u"started", u"environment not supported"},
      // Never stored by the page; shown as what it is rather than read past the table.
      {5, u"started", u"5"},
      {-1, u"started", u"-1"},
  };
  for (const Case& c : cases) {
    app::InstallProperties properties = failedInstallRun();
    properties.status = c.status;
    EXPECT_EQ(elementText(telemetry::buildAnalyticsDocument(properties, true), u"status"), c.startText) << c.status;
    EXPECT_EQ(elementText(telemetry::buildAnalyticsDocument(properties, false), u"status"), c.finalText) << c.status;
  }
}

TEST(AnalyticsDocument, ErrorCodesAreSignedDecimals) {
  struct Case {
    std::int32_t value;
    const char16_t* text;
  };
  const Case cases[] = {
      {0, u"0"},
      {1603, u"1603"},
      {static_cast<std::int32_t>(0x80070005u), u"-2147024891"},
      {INT32_MIN, u"-2147483648"},
      {INT32_MAX, u"2147483647"},
  };
  for (const Case& c : cases) {
    app::InstallProperties properties = failedInstallRun();
    properties.wrapperError = c.value;
    properties.msiError = c.value;
    const std::u16string document = telemetry::buildAnalyticsDocument(properties, false);
    EXPECT_EQ(elementText(document, u"wrapperError"), c.text);
    EXPECT_EQ(elementText(document, u"msiError"), c.text);
  }
}

TEST(AnalyticsDocument, LanguagesAreWrittenAsEnglishNames) {
  app::InstallProperties properties = failedInstallRun();
  properties.setInstallLanguage(2);
  properties.language = 107;
  std::u16string document = telemetry::buildAnalyticsDocument(properties, false);
  EXPECT_EQ(elementText(document, u"installLanguage"), u"French");
  EXPECT_EQ(elementText(document, u"language"), u"Zulu");

  properties.installLanguage = 0;  // before the choice is made
  properties.language = 12;
  document = telemetry::buildAnalyticsDocument(properties, false);
  EXPECT_EQ(elementText(document, u"installLanguage"), u"Other");
  EXPECT_EQ(elementText(document, u"language"), u"Simplified Chinese");
}

TEST(AnalyticsDocument, MarkupCharactersInValuesAreEscapedAndQuotesKept) {
  app::InstallProperties properties = failedInstallRun();
  properties.channelId = u"a&b<c>d\"e'f";
  properties.defaultBrowser = u"&amp;";
  properties.externalProperties[u"<k>"] = u"x&y";
  const std::u16string document = telemetry::buildAnalyticsDocument(properties, false);
  EXPECT_EQ(elementText(document, u"channelId"), u"a&amp;b&lt;c&gt;d\"e'f");
  EXPECT_EQ(elementText(document, u"defaultBrowser"), u"&amp;amp;");
  EXPECT_EQ(elementText(document, u"externalProperties"),
            u"<property><name>&lt;k&gt;</name><value>x&amp;y</value></property>");
}

TEST(AnalyticsDocument, NonAsciiValuesAreCopiedUnchanged) {
  app::InstallProperties properties = failedInstallRun();
  properties.OS = u"Windows 7 Profesi\u00F3n \U0001F600";
  EXPECT_EQ(elementText(telemetry::buildAnalyticsDocument(properties, false), u"OS"), properties.OS);
}

TEST(AnalyticsDocument, NoExternalPropertiesElementForAnEmptyMap) {
  const std::u16string document = telemetry::buildAnalyticsDocument(failedInstallRun(), false);
  EXPECT_EQ(document.find(u"externalProperties"), std::u16string::npos);
  EXPECT_NE(document.find(u"<serialKey></serialKey></mainApp>"), std::u16string::npos);
}

TEST(AnalyticsDocument, ExternalPropertiesInUtf16CodeUnitOrderAfterSerialKey) {
  app::InstallProperties properties = failedInstallRun();
  properties.externalProperties[u"b"] = u"2";
  properties.externalProperties[u"a"] = u"1";
  properties.externalProperties[u"B"] = u"";
  // U+FF21 sorts after the surrogate pair of U+1F600 in code units, though not in code points.
  properties.externalProperties[u"\uFF21"] = u"w";
  properties.externalProperties[u"\U0001F600"] = u"s";
  const std::u16string document = telemetry::buildAnalyticsDocument(properties, false);
  EXPECT_NE(document.find(u"<serialKey></serialKey><externalProperties><property><name>B</name>"),
            std::u16string::npos);
  EXPECT_EQ(elementText(document, u"externalProperties"),
            u"<property><name>B</name><value></value></property>"
            u"<property><name>a</name><value>1</value></property>"
            u"<property><name>b</name><value>2</value></property>"
            u"<property><name>\U0001F600</name><value>s</value></property>"
            u"<property><name>\uFF21</name><value>w</value></property>");
  EXPECT_NE(document.find(u"</externalProperties></mainApp><error>"), std::u16string::npos);
}

}  // namespace
