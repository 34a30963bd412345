#include "telemetry/analytics_document.h"

#include <utility>

#include "app/language_table.h"

namespace telemetry {
namespace {

std::u16string decimal(std::int32_t value) {
  // Through 64 bits, so that the most negative value has a magnitude to print.
  const bool negative = value < 0;
  std::uint64_t magnitude = negative ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(value))
                                     : static_cast<std::uint64_t>(value);
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) digits.insert(digits.begin(), u'-');
  return digits;
}

class DocumentWriter {
 public:
  void open(const char16_t* tag) { text_.append(u"<").append(tag).append(u">"); }
  void close(const char16_t* tag) { text_.append(u"</").append(tag).append(u">"); }
  void element(const char16_t* tag, const std::u16string& value) {
    open(tag);
    text_ += escapeXmlText(value);
    close(tag);
  }
  std::u16string take() { return std::move(text_); }

 private:
  std::u16string text_;
};

}  // namespace

std::u16string statusText(std::int32_t status) {
  static const char16_t* const kTexts[] = {u"started", u"completed", u"error occurred", u"canceled",
                                           u"environment not supported"};
  if (status < 0 || status >= static_cast<std::int32_t>(sizeof kTexts / sizeof kTexts[0])) return decimal(status);
  return kTexts[status];
}

std::u16string escapeXmlText(const std::u16string& value) {
  std::u16string escaped;
  escaped.reserve(value.size());
  for (const char16_t c : value) {
    switch (c) {
      case u'&': escaped += u"&amp;"; break;
      case u'<': escaped += u"&lt;"; break;
      case u'>': escaped += u"&gt;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::u16string buildAnalyticsDocument(const app::InstallProperties& properties, bool startReport) {
  const std::int32_t status = startReport ? app::kStatusNotStarted
                              : properties.status == app::kStatusNotStarted ? app::kStatusCanceled
                                                                            : properties.status;
  DocumentWriter document;
  document.open(u"QXDLMAnalytics");
  document.element(u"requestToken", properties.requestToken);
  document.element(u"country", properties.country);
  document.open(u"mainApp");
  document.element(u"productId", properties.productId);
  document.element(u"productVersion", properties.productVersion);
  document.element(u"channelId", properties.channelId);
  document.element(u"installLanguage", app::languageName(properties.installLanguage));
  document.element(u"status", statusText(status));
  document.element(u"serialKey", properties.serialKey);
  if (!properties.externalProperties.empty()) {
    document.open(u"externalProperties");
    // The map's own order is ascending UTF-16 code units, which is the order the server expects.
    for (const auto& entry : properties.externalProperties) {
      document.open(u"property");
      document.element(u"name", entry.first);
      document.element(u"value", entry.second);
      document.close(u"property");
    }
    document.close(u"externalProperties");
  }
  document.close(u"mainApp");
  document.open(u"error");
  document.element(u"wrapperError", decimal(properties.wrapperError));
  document.element(u"msiError", decimal(properties.msiError));
  document.close(u"error");
  document.open(u"userEnvironment");
  document.element(u"OS", properties.OS);
  document.element(u"language", app::languageName(properties.language));
  document.element(u"architecture", properties.architecture);
  document.element(u"defaultBrowser", properties.defaultBrowser);
  document.close(u"userEnvironment");
  document.element(u"QXDLMVersion", properties.QXDLMVersion);
  document.element(u"machineId", properties.machineId);
  document.close(u"QXDLMAnalytics");
  return document.take();
}

}  // namespace telemetry
