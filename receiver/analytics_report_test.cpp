#include "receiver/analytics_report.h"

#include <gtest/gtest.h>

#include <string>

#include "receiver/text_rules.h"

namespace {

// A final report as the stub writes it (the document of a failed installation).
const std::string kFinal =
    "<QXDLMAnalytics><requestToken>0F8E2C4A-1B3D-4E5F-8A9B-0C1D2E3F4A5B</requestToken><country>244</country>"
    "<mainApp><productId>KRV</productId><productVersion></productVersion><channelId>web</channelId>"
    "<installLanguage>English</installLanguage><status>error occurred</status><serialKey></serialKey></mainApp>"
    "<error><wrapperError>2</wrapperError><msiError>-2147024891</msiError></error><userEnvironment><OS>Windows 7</OS>"
    "<language>English</language><architecture>x64</architecture><defaultBrowser>Other</defaultBrowser>"
    "</userEnvironment><QXDLMVersion>1.0.20.1</QXDLMVersion>"
    "<machineId>P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C</machineId></QXDLMAnalytics>";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(AnalyticsReport, ReadsEveryFieldOfAFinalReport) {
  const receiver::ReportParse parse = receiver::parseAnalyticsReport(kFinal);
  ASSERT_TRUE(parse.report) << parse.error;
  const receiver::AnalyticsReport& r = *parse.report;
  EXPECT_EQ(r.requestToken, "0F8E2C4A-1B3D-4E5F-8A9B-0C1D2E3F4A5B");
  EXPECT_EQ(r.country, "244");
  EXPECT_EQ(r.productId, "KRV");
  EXPECT_EQ(r.productVersion, "");
  EXPECT_EQ(r.channelId, "web");
  EXPECT_EQ(r.status, "error occurred");
  EXPECT_FALSE(r.isStartReport());
  EXPECT_EQ(r.wrapperError, 2);
  EXPECT_EQ(r.msiError, -2147024891);
  EXPECT_EQ(r.os, "Windows 7");
  EXPECT_EQ(r.architecture, "x64");
  EXPECT_EQ(r.stubVersion, "1.0.20.1");
  EXPECT_EQ(r.machineId, "P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C");
  EXPECT_TRUE(r.properties.empty());
}

TEST(AnalyticsReport, ReadsPlaceholdersEscapesUtf8AndProperties) {
  std::string body = replaced(kFinal, "0F8E2C4A-1B3D-4E5F-8A9B-0C1D2E3F4A5B", "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
  body = replaced(body, "P-001A2B3C", "X-XXXXXXXX");
  body = replaced(body, "4D5E-001A-2B3C-4D5E001A2B3C</machineId>", "XXXX-XXXX-XXXX-XXXXXXXXXXXX</machineId>");
  body = replaced(body, "<channelId>web", "<channelId>a&amp;b&lt;c");
  body = replaced(body, "<OS>Windows 7", "<OS>Windows 7 \xC3\xA9\xE6\x97\xA5");
  body = replaced(body, "<serialKey></serialKey>",
                  "<serialKey></serialKey><externalProperties><property><name>a</name><value></value></property>"
                  "<property><name>b</name><value>2</value></property></externalProperties>");
  const receiver::ReportParse parse = receiver::parseAnalyticsReport(body);
  ASSERT_TRUE(parse.report) << parse.error;
  EXPECT_EQ(parse.report->channelId, "a&b<c");
  EXPECT_EQ(parse.report->os, "Windows 7 \xC3\xA9\xE6\x97\xA5");
  ASSERT_EQ(parse.report->properties.size(), 2u);
  EXPECT_EQ(parse.report->properties[1].first, "b");
  EXPECT_EQ(parse.report->properties[1].second, "2");
}

TEST(AnalyticsReport, TakesEveryStatusOfTheFormat) {
  for (const char* status : {"started", "completed", "error occurred", "canceled", "environment not supported"}) {
    const receiver::ReportParse parse =
        receiver::parseAnalyticsReport(replaced(kFinal, ">error occurred<", std::string(">") + status + "<"));
    ASSERT_TRUE(parse.report) << status << ": " << parse.error;
    EXPECT_EQ(parse.report->isStartReport(), std::string(status) == "started");
  }
}

// Each of these is one fault in an otherwise good document, and each is refused.
TEST(AnalyticsReport, RefusesEveryDeparture) {
  const std::pair<const char*, std::string> faults[] = {
      {"unknown status", replaced(kFinal, ">error occurred<", ">finished<")},
      {"status in another case", replaced(kFinal, ">error occurred<", ">Completed<")},
      {"lowercase token", replaced(kFinal, "0F8E2C4A", "0f8e2c4a")},
      {"token with braces", replaced(replaced(kFinal, ">0F8E2C4A", ">{0F8E2C4A"), "4A5B<", "4A5B}<")},
      {"machine id prefix", replaced(kFinal, ">P-001A", ">Q-001A")},
      {"machine id short", replaced(kFinal, "4D5E001A2B3C</machineId>", "4D5E001A2B3</machineId>")},
      {"number with plus", replaced(kFinal, "<wrapperError>2<", "<wrapperError>+2<")},
      {"number with leading zero", replaced(kFinal, "<wrapperError>2<", "<wrapperError>02<")},
      {"number overflows", replaced(kFinal, "-2147024891", "-2147483649")},
      {"number in hex", replaced(kFinal, "-2147024891", "0x80070005")},
      {"country not a number", replaced(kFinal, ">244<", ">US<")},
      {"architecture", replaced(kFinal, ">x64<", ">arm64<")},
      {"elements swapped",
       replaced(kFinal, "<wrapperError>2</wrapperError><msiError>-2147024891</msiError>",
                "<msiError>-2147024891</msiError><wrapperError>2</wrapperError>")},
      {"element missing", replaced(kFinal, "<serialKey></serialKey>", "")},
      {"extra element", replaced(kFinal, "<serialKey></serialKey>", "<serialKey></serialKey><extra></extra>")},
      {"attribute", replaced(kFinal, "<status>", "<status x=\"1\">")},
      {"child inside a value", replaced(kFinal, "<channelId>web", "<channelId><b>web</b>")},
      {"comment", replaced(kFinal, "<country>", "<!-- hi --><country>")},
      {"declaration", "<?xml version=\"1.0\"?>" + kFinal},
      {"doctype", "<!DOCTYPE QXDLMAnalytics [<!ENTITY a \"b\">]>" + kFinal},
      {"cdata", replaced(kFinal, "<channelId>web", "<channelId><![CDATA[web]]>")},
      {"second root", kFinal + "<QXDLMAnalytics/>"},
      {"unescaped ampersand", replaced(kFinal, "<channelId>web", "<channelId>a&b")},
      {"control character", replaced(kFinal, "<channelId>web", "<channelId>a&#1;b")},
      {"bad utf-8", replaced(kFinal, "<OS>Windows 7", "<OS>Windows \xC0\xAF")},
      {"nul byte", replaced(kFinal, "<OS>Windows 7", std::string("<OS>Windows\0 7", 14))},
      {"empty property block", replaced(kFinal, "<serialKey></serialKey>", "<serialKey></serialKey><externalProperties/>")},
      {"reference to NUL", replaced(kFinal, "<channelId>web", "<channelId>a&#0;b")},
      {"empty reference", replaced(kFinal, "<channelId>web", "<channelId>&;")},
      {"empty hex reference", replaced(kFinal, "<channelId>web", "<channelId>&#x;")},
      {"unknown entity", replaced(kFinal, "<channelId>web", "<channelId>&nbsp;")},
      {"truncated", kFinal.substr(0, kFinal.size() - 5)},
      {"empty", ""},
      {"not xml", "PK\x03\x04"},
  };
  for (const auto& [what, body] : faults) {
    const receiver::ReportParse parse = receiver::parseAnalyticsReport(body);
    EXPECT_FALSE(parse.report) << what;
    EXPECT_FALSE(parse.error.empty()) << what;
  }
}

TEST(AnalyticsReport, RefusesADocumentOverTheCap) {
  std::string body = replaced(kFinal, "<serialKey></serialKey>",
                              "<serialKey>" + std::string(receiver::kMaxReportBytes, 'a') + "</serialKey>");
  EXPECT_FALSE(receiver::parseAnalyticsReport(body).report);
}

TEST(TextRules, IntegersAreThePlainDecimalsOfTheirRange) {
  EXPECT_EQ(receiver::parseInt32("0"), 0);
  EXPECT_EQ(receiver::parseInt32("-2147483648"), INT32_MIN);
  EXPECT_EQ(receiver::parseInt32("2147483647"), INT32_MAX);
  EXPECT_FALSE(receiver::parseInt32("2147483648"));
  EXPECT_FALSE(receiver::parseInt32("-0"));
  EXPECT_FALSE(receiver::parseInt32("-"));
  EXPECT_FALSE(receiver::parseInt32(" 1"));
  EXPECT_EQ(receiver::parseUint32("4294967295"), 4294967295u);
  EXPECT_FALSE(receiver::parseUint32("4294967296"));
  EXPECT_FALSE(receiver::parseUint32("99999999999"));
}

TEST(TextRules, CleanUtf8RefusesControlsAndBadSequences) {
  EXPECT_TRUE(receiver::isCleanUtf8("plain\ttext \xF0\x9F\x98\x80"));
  EXPECT_FALSE(receiver::isCleanUtf8("line\nbreak"));
  EXPECT_FALSE(receiver::isCleanUtf8("\xED\xA0\x80"));        // a surrogate
  EXPECT_FALSE(receiver::isCleanUtf8("\xE0\x80\xAF"));        // overlong
  EXPECT_FALSE(receiver::isCleanUtf8("\xF4\x90\x80\x80"));    // above U+10FFFF
  EXPECT_FALSE(receiver::isCleanUtf8("\xC2\x85"));            // C1 control
  EXPECT_FALSE(receiver::isCleanUtf8("\xE6\x97"));            // cut short
}

}  // namespace
