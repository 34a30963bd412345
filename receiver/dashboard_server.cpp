#include "receiver/dashboard_server.h"

#include <chrono>
#include <fstream>
#include <sstream>

#include "receiver/dashboard_auth.h"
#include "receiver/json_text.h"
#include "receiver/text_rules.h"

namespace receiver {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool digitsAt(const std::string& text, std::size_t at, std::size_t count, unsigned& value) {
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return file ? content.str() : std::string();
}

void serveFile(httplib::Response& response, const std::string& path, const char* type) {
  const std::string content = readFile(path);
  if (content.empty()) {
    response.status = 404;
    response.set_content("missing\n", "text/plain");
    return;
  }
  response.set_content(content, type);
}

std::string optionalTime(const std::optional<std::int64_t>& time) {
  return time ? std::to_string(*time) : "null";
}

}  // namespace

std::optional<std::int64_t> parseUtcTime(const std::string& text, bool endOfDay) {
  unsigned year, month, day, hour = 0, minute = 0, second = 0;
  if ((text.size() != 10 && text.size() != 20) || !digitsAt(text, 0, 4, year) || text[4] != '-' ||
      !digitsAt(text, 5, 2, month) || text[7] != '-' || !digitsAt(text, 8, 2, day)) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || year < 1970) return std::nullopt;
  if (text.size() == 20) {
    if (text[10] != 'T' || !digitsAt(text, 11, 2, hour) || text[13] != ':' || !digitsAt(text, 14, 2, minute) ||
        text[16] != ':' || !digitsAt(text, 17, 2, second) || text[19] != 'Z' || hour > 23 || minute > 59 || second > 59) {
      return std::nullopt;
    }
  }
  std::int64_t days = daysFromCivil(year, month, day);
  if (text.size() == 10 && endOfDay) ++days;
  return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000;
}

DashboardServer::DashboardServer(ReportStore& store, DashboardOptions options)
    : store_(store), options_(std::move(options)) {
  server_.set_read_timeout(10, 0);
  server_.set_payload_max_length(64 * 1024);
  server_.set_tcp_nodelay(true);
  // Every path, the page included, needs the password.
  server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    if (authorizes(request.get_header_value("Authorization"), options_.password)) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    response.status = 401;
    response.set_header("WWW-Authenticate", "Basic realm=\"Sorvane receiver\", charset=\"UTF-8\"");
    response.set_content("the dashboard needs its password\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  });
  server_.set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("Content-Security-Policy", "default-src 'self'; style-src 'self'; img-src 'self' data:");
  });
  server_.Get("/", [this](const httplib::Request&, httplib::Response& r) {
    serveFile(r, options_.assetFolder + "/dashboard.html", "text/html; charset=utf-8");
  });
  server_.Get("/dashboard.js", [this](const httplib::Request&, httplib::Response& r) {
    serveFile(r, options_.assetFolder + "/dashboard.js", "text/javascript; charset=utf-8");
  });
  server_.Get("/dashboard.css", [this](const httplib::Request&, httplib::Response& r) {
    serveFile(r, options_.assetFolder + "/dashboard.css", "text/css; charset=utf-8");
  });
  server_.Get("/chart.js", [this](const httplib::Request&, httplib::Response& r) {
    serveFile(r, options_.chartLibrary, "text/javascript; charset=utf-8");
  });
  // Browsers ask for it unbidden; an empty answer keeps their consoles quiet.
  server_.Get("/favicon.ico", [](const httplib::Request&, httplib::Response& r) { r.status = 204; });
  server_.Get("/api/summary", [this](const httplib::Request& request, httplib::Response& response) {
    SummaryQuery query;
    if (!queryOf(request, response, query)) return;
    const std::optional<Summary> summary = store_.summary(query);
    if (!summary) {
      response.status = 503;
      return;
    }
    response.set_content(summaryJson(*summary) + "\n", "application/json");
  });
  server_.Get("/api/signatures", [this](const httplib::Request& request, httplib::Response& response) {
    SummaryQuery query;
    if (!queryOf(request, response, query)) return;
    const auto signatures = store_.signatures(query);
    if (!signatures) {
      response.status = 503;
      return;
    }
    std::string out = "[";
    for (std::size_t i = 0; i < signatures->size(); ++i) {
      const SignatureCount& s = (*signatures)[i];
      out += (i ? ", " : "") + std::string("{\"signature\": ") + jsonString(s.signature) +
             ", \"dumps\": " + std::to_string(s.dumps) + ", \"machines\": " + std::to_string(s.machines) +
             ", \"lastSeen\": " + std::to_string(s.lastSeen) + "}";
    }
    response.set_content(out + "]\n", "application/json");
  });
  server_.Get("/api/daily", [this](const httplib::Request& request, httplib::Response& response) {
    SummaryQuery query;
    if (!queryOf(request, response, query)) return;
    const auto days = store_.daily(query);
    if (!days) {
      response.status = 503;
      return;
    }
    std::string out = "[";
    for (std::size_t i = 0; i < days->size(); ++i) {
      const DayCount& d = (*days)[i];
      out += (i ? ", " : "") + std::string("{\"day\": ") + std::to_string(d.day * 86400000) +
             ", \"status\": " + jsonString(d.status.empty() ? "under way" : d.status) +
             ", \"runs\": " + std::to_string(d.runs) + "}";
    }
    response.set_content(out + "]\n", "application/json");
  });
  server_.Get("/api/runs", [this](const httplib::Request& request, httplib::Response& response) {
    SummaryQuery query;
    if (!queryOf(request, response, query)) return;
    const auto runs = store_.recentRuns(query);
    if (!runs) {
      response.status = 503;
      return;
    }
    std::string out = "[";
    for (std::size_t i = 0; i < runs->size(); ++i) {
      const RunListing& r = (*runs)[i];
      out += (i ? ", " : "") + std::string("{\"requestToken\": ") + jsonString(r.requestToken) +
             ", \"startedAt\": " + std::to_string(r.startedAt) +
             ", \"status\": " + jsonString(r.status.empty() ? "under way" : r.status) + "}";
    }
    response.set_content(out + "]\n", "application/json");
  });
  server_.Get("/run.html", [this](const httplib::Request&, httplib::Response& r) {
    serveFile(r, options_.assetFolder + "/run.html", "text/html; charset=utf-8");
  });
  server_.Get("/run.js", [this](const httplib::Request&, httplib::Response& r) {
    serveFile(r, options_.assetFolder + "/run.js", "text/javascript; charset=utf-8");
  });
  server_.Get("/api/rates", [this](const httplib::Request& request, httplib::Response& response) {
    SummaryQuery query;
    if (!queryOf(request, response, query)) return;
    const std::string dimension = request.get_param_value("by");
    if (!rateColumn(dimension)) {
      response.status = 400;
      response.set_content("{\"error\": \"by is version, channel, os, architecture, language or country\"}\n",
                           "application/json");
      return;
    }
    const auto rows = store_.rates(query, dimension);
    if (!rows) {
      response.status = 503;
      return;
    }
    std::string out = "[";
    for (std::size_t i = 0; i < rows->size(); ++i) {
      const RateRow& row = (*rows)[i];
      out += (i ? ", " : "") + std::string("{\"value\": ") + jsonString(row.value) +
             ", \"finished\": " + std::to_string(row.finished) + ", \"completed\": " + std::to_string(row.completed) + "}";
    }
    response.set_content(out + "]\n", "application/json");
  });
  server_.Get("/api/run", [this](const httplib::Request& request, httplib::Response& response) {
    const std::string token = request.get_param_value("token");
    const std::optional<RunRecord> run = isRequestToken(token) ? store_.run(token) : std::nullopt;
    if (!run) {
      response.status = 404;
      response.set_content("{}\n", "application/json");
      return;
    }
    std::string out = "{\"requestToken\": " + jsonString(run->requestToken) + ", \"machineId\": " +
                      jsonString(run->machineId) + ", \"startedAt\": " + optionalTime(run->startedAt) +
                      ", \"finishedAt\": " + optionalTime(run->finishedAt) + ", \"status\": " + jsonString(run->status) +
                      ", \"reports\": [";
    for (std::size_t i = 0; i < run->reports.size(); ++i) {
      out += i ? ", {" : "{";
      bool first = true;
      for (const auto& [name, value] : run->reports[i]) {
        out += (first ? "" : ", ") + jsonString(name) + ": " + jsonString(value);
        first = false;
      }
      out += "}";
    }
    out += "], \"logEntries\": " + jsonStringArray(run->logEntries) +
           ", \"errorLines\": " + jsonStringArray(run->errorLines) + "}";
    response.set_content(out + "\n", "application/json");
  });
}

bool DashboardServer::queryOf(const httplib::Request& request, httplib::Response& response, SummaryQuery& query) {
  query.now = options_.clock ? options_.clock()
                             : std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
  query.abandonAfter = options_.abandonAfter;
  const auto time = [&](const char* name, bool end, std::int64_t& out) {
    if (!request.has_param(name)) return true;
    const std::optional<std::int64_t> value = parseUtcTime(request.get_param_value(name), end);
    if (value) out = *value;
    return value.has_value();
  };
  query.version = request.get_param_value("version");
  query.channel = request.get_param_value("channel");
  if (!time("from", false, query.from) || !time("to", true, query.to) || !isCleanUtf8(query.version) ||
      !isCleanUtf8(query.channel) || query.version.size() > 128 || query.channel.size() > 128) {
    response.status = 400;
    response.set_content("{\"error\": \"from and to are YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ\"}\n", "application/json");
    return false;
  }
  return true;
}

int DashboardServer::bind(const std::string& host, int port) {
  if (port == 0) return server_.bind_to_any_port(host);
  return server_.bind_to_port(host, port) ? port : -1;
}

bool DashboardServer::serve() { return server_.listen_after_bind(); }

void DashboardServer::stop() { server_.stop(); }

}  // namespace receiver
