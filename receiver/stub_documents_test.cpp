// The receiver takes exactly what the stub writes: documents made by the stub's own builder
// (src/telemetry, compiled natively) for every status and the values the builder must carry as they
// are: escaped characters, non-ASCII names, negative codes, placeholders, external properties.
#include <gtest/gtest.h>

#include <string>

#include "app/install_properties.h"
#include "receiver/analytics_report.h"
#include "telemetry/analytics_document.h"

namespace {

// UTF-16 to UTF-8, as the stub's transport converts the document before sending it.
std::string utf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

app::InstallProperties stubRecord() {
  app::RunEnvironment environment;
  environment.requestToken = u"3F2504E0-4F89-11D3-9A0C-0305E82C3301";
  environment.machineId = u"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C";
  environment.architecture = u"x64";
  environment.defaultBrowser = u"Other";
  environment.os = u"Windows 7";
  environment.country = u"244";
  environment.uiLanguage = 1;
  app::InstallProperties record(u"KRV", u"1.0.20.1", environment);
  record.setInstallLanguage(2);
  return record;
}

TEST(StubDocuments, EveryStatusTheStubWritesIsTaken) {
  app::InstallProperties record = stubRecord();
  const receiver::ReportParse start =
      receiver::parseAnalyticsReport(utf8(telemetry::buildAnalyticsDocument(record, true)));
  ASSERT_TRUE(start.report) << start.error;
  EXPECT_TRUE(start.report->isStartReport());
  EXPECT_EQ(start.report->installLanguage, "French");
  const char* expected[] = {"canceled", "completed", "error occurred", "canceled", "environment not supported"};
  for (std::int32_t status = 0; status <= 4; ++status) {
    record.status = status;
    const receiver::ReportParse final =
        receiver::parseAnalyticsReport(utf8(telemetry::buildAnalyticsDocument(record, false)));
    ASSERT_TRUE(final.report) << status << ": " << final.error;
    EXPECT_EQ(final.report->status, expected[status]);
    EXPECT_EQ(final.report->requestToken, "3F2504E0-4F89-11D3-9A0C-0305E82C3301");
  }
}

TEST(StubDocuments, TheValuesTheStubCarriesComeBackAsTheyWere) {
  app::InstallProperties record = stubRecord();
  record.status = app::kStatusErrorOccurred;
  record.wrapperError = 6;
  record.msiError = static_cast<std::int32_t>(0x80070005u);
  record.channelId = u"partner & <friends>";
  record.OS = u"Windows 10 \u00e9dition \u65e5\u672c";
  record.defaultBrowser = u"Browser \"Q\" \U0001F600";
  record.productVersion = u"2.10.3.4";
  record.externalProperties = {{u"b", u"2 < 3"}, {u"a", u""}};
  record.requestToken = u"XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
  record.machineId = u"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
  const receiver::ReportParse parse =
      receiver::parseAnalyticsReport(utf8(telemetry::buildAnalyticsDocument(record, false)));
  ASSERT_TRUE(parse.report) << parse.error;
  const receiver::AnalyticsReport& r = *parse.report;
  EXPECT_EQ(r.channelId, "partner & <friends>");
  EXPECT_EQ(r.os, utf8(record.OS));
  EXPECT_EQ(r.defaultBrowser, utf8(record.defaultBrowser));
  EXPECT_EQ(r.msiError, -2147024891);
  EXPECT_EQ(r.wrapperError, 6);
  EXPECT_EQ(r.productVersion, "2.10.3.4");
  ASSERT_EQ(r.properties.size(), 2u);
  EXPECT_EQ(r.properties[0].first, "a");
  EXPECT_EQ(r.properties[1].second, "2 < 3");
  EXPECT_EQ(r.requestToken, "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
}

}  // namespace
