// libFuzzer target: the fuzz input is a report body as a client may send it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "receiver/analytics_report.h"
#include "receiver/text_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const receiver::ReportParse parse = receiver::parseAnalyticsReport(body);
  // Either a report or a reason, never both and never neither.
  if (parse.report.has_value() == !parse.error.empty()) std::abort();
  if (parse.report) {
    // What is taken goes into the database and onto a page as it is: its ids have their shape and
    // every text is clean.
    const receiver::AnalyticsReport& r = *parse.report;
    if (!receiver::isRequestToken(r.requestToken) || !receiver::isMachineId(r.machineId)) std::abort();
    for (const std::string* text : {&r.channelId, &r.os, &r.defaultBrowser, &r.installLanguage, &r.language}) {
      if (!receiver::isCleanUtf8(*text)) std::abort();
    }
    if (r.properties.size() > receiver::kMaxProperties) std::abort();
  }
  receiver::toCleanText(body);
  if (!receiver::isCleanUtf8(receiver::toCleanText(body))) std::abort();
  return 0;
}
