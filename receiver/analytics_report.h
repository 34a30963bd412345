// The analytics document that every run posts twice (start and final report), read with pugixml
// and held to its exact shape: the elements in their order and nesting, no attributes, no other
// nodes, and every value of the shape its field has. A document that fails any of it is refused
// whole; nothing of it is kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace receiver {

// The report's status texts, as a final report spells them; a start report says "started".
inline constexpr const char* kFinalStatuses[] = {"completed", "error occurred", "canceled",
                                                 "environment not supported"};
inline constexpr char kStartStatus[] = "started";

struct AnalyticsReport {
  std::string requestToken;
  std::string country;  // the decimal geographical-location number
  std::string productId;
  std::string productVersion;
  std::string channelId;
  std::string installLanguage;
  std::string status;
  std::string serialKey;
  std::vector<std::pair<std::string, std::string>> properties;  // in document order
  std::int32_t wrapperError = 0;
  std::int32_t msiError = 0;
  std::string os;
  std::string language;
  std::string architecture;
  std::string defaultBrowser;
  std::string stubVersion;  // the element QXDLMVersion
  std::string machineId;

  bool isStartReport() const { return status == kStartStatus; }
};

// The largest document taken, in bytes: far above the few hundred bytes a stub sends, far below
// anything that costs the server.
inline constexpr std::size_t kMaxReportBytes = 64 * 1024;

// At most this many external properties.
inline constexpr std::size_t kMaxProperties = 64;

struct ReportParse {
  std::optional<AnalyticsReport> report;
  std::string error;  // why it was refused, for the answer and the log; empty when taken
};

// Reads a report body (UTF-8, no byte-order mark). Never throws; anything that is not a document of
// the exact shape comes back as an error.
ReportParse parseAnalyticsReport(std::string_view body);

}  // namespace receiver
