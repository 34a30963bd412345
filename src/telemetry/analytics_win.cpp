// Win32 code. The start and final analytics reports.
#include "telemetry/analytics_win.h"

#include "sysenv/shell_win.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/analytics_document.h"
#include "telemetry/report_transport_win.h"

namespace downloadmanagercore {
namespace {

constexpr wchar_t kAnalyticsPath[] = L"/v1/logAnalytics";
constexpr wchar_t kAnalyticsVerb[] = L"POST";

bool sendAnalyticsDocument(const app::InstallProperties& properties, bool startReport) {
  const std::string body = sysenv::toUtf8(sysenv::toWide(telemetry::buildAnalyticsDocument(properties, startReport)));
  return telemetry::sendReportRequest(body.data(), static_cast<std::uint32_t>(body.size()), kAnalyticsPath,
                                      kAnalyticsVerb);
}

}  // namespace

bool Analytics::sendStartReport() { return sendAnalyticsDocument(*properties_, true); }

bool Analytics::sendFinalReport() { return sendAnalyticsDocument(*properties_, false); }

}  // namespace downloadmanagercore
