// The vendor's own address (127.0.0.1 unless told otherwise): the dashboard page, its script and
// charting library, and the JSON API it reads, every one behind the dashboard password.
#pragma once

#include <httplib.h>

#include <cstdint>
#include <functional>
#include <string>

#include "receiver/store.h"

namespace receiver {

struct DashboardOptions {
  std::string password;
  std::string assetFolder;      // dashboard.html, dashboard.js, dashboard.css
  std::string chartLibrary;     // the file of the pinned charting library
  std::int64_t abandonAfter = 3600 * 1000;
  std::function<std::int64_t()> clock;
};

// "2026-12-09" or "2026-12-09T18:20:00Z" as milliseconds since 1970; a bare date is the start of
// that day, or with `endOfDay` the start of the next one (a "to" date includes its day).
std::optional<std::int64_t> parseUtcTime(const std::string& text, bool endOfDay);

class DashboardServer {
 public:
  DashboardServer(ReportStore& store, DashboardOptions options);
  int bind(const std::string& host, int port);
  bool serve();
  void stop();

 private:
  bool queryOf(const httplib::Request& request, httplib::Response& response, SummaryQuery& query);
  ReportStore& store_;
  DashboardOptions options_;
  httplib::Server server_;
};

}  // namespace receiver
