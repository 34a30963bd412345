#include "receiver/report_server.h"

#include <chrono>

#include "receiver/text_rules.h"

namespace receiver {
namespace {

constexpr char kReportPath[] = "/v1/logAnalytics";
constexpr char kUploadPath[] = "/v1/reportError";
constexpr std::size_t kWorkers = 32;

void answer(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text + "\n", "text/plain; charset=utf-8");
}

int statusFor(StoreResult result) {
  switch (result) {
    case StoreResult::Stored: return 200;
    case StoreResult::Conflict: return 409;
    case StoreResult::Failed: return 503;
  }
  return 503;
}

}  // namespace

ReportServer::ReportServer(ReportStore& store, const UploadFolder& uploads, ReportServerOptions options)
    : store_(store), uploads_(uploads), options_(std::move(options)) {
  // The whole body is read before a handler runs; this is the last line behind screen()'s caps.
  server_.set_payload_max_length(options_.maxUploadBytes);
  // A client that trickles its request holds a worker: not for long.
  server_.set_read_timeout(10, 0);
  server_.set_write_timeout(10, 0);
  server_.set_keep_alive_max_count(100);
  // An answer is one small write: sent at once, not held back for the client's acknowledgement.
  server_.set_tcp_nodelay(true);
  // Requests that wait for one commit are what makes commits cheap: more workers than cpp-httplib's
  // default (8) let more of them share each sync. Each worker may hold one body, so this times the
  // upload cap is the most memory that bodies take.
  server_.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  server_.set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) { return screen(request, response); });
  server_.Post(kReportPath, [this](const httplib::Request& q, httplib::Response& r) { handleReport(q, r); });
  server_.Put(kUploadPath, [this](const httplib::Request& q, httplib::Response& r) { handleUpload(q, r); });
}

int ReportServer::bind(const std::string& host, int port) {
  if (port == 0) return server_.bind_to_any_port(host);
  return server_.bind_to_port(host, port) ? port : -1;
}

bool ReportServer::serve() { return server_.listen_after_bind(); }

void ReportServer::stop() { server_.stop(); }

std::int64_t ReportServer::now() const {
  if (options_.clock) return options_.clock();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string ReportServer::machineId(const std::string& id) const {
  return options_.machineIdTransform ? options_.machineIdTransform(id) : id;
}

void ReportServer::refuse(httplib::Response& response, int status, const std::string& why,
                          const httplib::Request& request) {
  if (options_.log) options_.log("refused " + request.method + " " + request.path + " from " + request.remote_addr +
                                 ": " + std::to_string(status) + " " + why);
  // The body of a refused request may still be on its way: the connection is not reused for
  // another request.
  response.set_header("Connection", "close");
  answer(response, status, why);
}

// Runs before the body is read: the verb, the path, the framing and the size, so that an oversized
// or unframed body is refused without being taken in.
httplib::Server::HandlerResponse ReportServer::screen(const httplib::Request& request, httplib::Response& response) {
  using Handled = httplib::Server::HandlerResponse;
  const bool report = request.path == kReportPath;
  const bool upload = request.path == kUploadPath;
  if (!report && !upload) {
    refuse(response, 404, "no such path", request);
    return Handled::Handled;
  }
  if (request.method != (report ? "POST" : "PUT")) {
    response.set_header("Allow", report ? "POST" : "PUT");
    refuse(response, 405, "method not allowed", request);
    return Handled::Handled;
  }
  if (request.has_header("Transfer-Encoding") || !request.has_header("Content-Length")) {
    refuse(response, 411, "a body of declared length is required", request);
    return Handled::Handled;
  }
  if (request.has_header("Content-Encoding")) {
    // The stub never compresses; a compressed body would inflate past every cap below.
    refuse(response, 415, "no content encoding is taken", request);
    return Handled::Handled;
  }
  const std::string length = request.get_header_value("Content-Length");
  const std::optional<std::uint32_t> bytes = parseUint32(length);
  const std::size_t cap = report ? kMaxReportBytes : options_.maxUploadBytes;
  if (!bytes || *bytes > cap) {
    refuse(response, 413, "the body is larger than " + std::to_string(cap) + " bytes", request);
    return Handled::Handled;
  }
  if (request.get_header_value("Content-Type") != "application/xml") {
    refuse(response, 415, "Content-Type must be application/xml", request);
    return Handled::Handled;
  }
  if (report ? !request.params.empty() : request.params.size() != 2) {
    refuse(response, 400, report ? "no query is taken" : "the query is token and machineId", request);
    return Handled::Handled;
  }
  return Handled::Unhandled;
}

void ReportServer::handleReport(const httplib::Request& request, httplib::Response& response) {
  // Reports are small, but a flood of them grows the database too.
  if (uploads_.freeBytes() < options_.minFreeBytes) return refuse(response, 507, "not enough free space", request);
  ReportParse parse = parseAnalyticsReport(request.body);
  if (!parse.report) return refuse(response, 400, parse.error, request);
  parse.report->machineId = machineId(parse.report->machineId);
  const StoreResult result = store_.addReport(*parse.report, now());
  if (result != StoreResult::Stored) return refuse(response, statusFor(result), "not stored", request);
  answer(response, 200, "stored");
}

void ReportServer::handleUpload(const httplib::Request& request, httplib::Response& response) {
  if (!request.has_param("token") || !request.has_param("machineId") || request.get_param_value_count("token") != 1 ||
      request.get_param_value_count("machineId") != 1) {
    return refuse(response, 400, "the query is token and machineId", request);
  }
  const std::string token = request.get_param_value("token");
  const std::string id = request.get_param_value("machineId");
  if (!isMachineId(id)) return refuse(response, 400, "bad machineId", request);
  if (!token.empty() && !isRequestToken(token)) return refuse(response, 400, "bad token", request);
  if (uploads_.freeBytes() < options_.minFreeBytes + static_cast<std::int64_t>(request.body.size())) {
    return refuse(response, 507, "not enough free space", request);
  }
  const bool dump = token.empty();
  std::string error;
  LogUpload log;
  DumpUpload crash;
  if (dump) {
    std::optional<DumpSummary> summary = readMinidump(request.body, error);
    if (!summary) return refuse(response, 422, error, request);
    crash.dump = std::move(*summary);
    crash.signature = crashSignature(crash.dump);
  } else {
    std::optional<LogArchive> archive = readLogArchive(request.body, error);
    if (!archive) return refuse(response, 422, error, request);
    log.archive = std::move(*archive);
  }
  const std::string hash = sha256Hex(request.body);
  bool created = false;
  if (!uploads_.store(hash, dump ? ".dmp" : ".zip", request.body, created, error)) {
    return refuse(response, 503, error, request);
  }
  StoreResult result;
  if (dump) {
    crash.machineId = machineId(id);
    crash.sha256 = hash;
    crash.size = request.body.size();
    result = store_.addDump(crash, now());
  } else {
    log.requestToken = token;
    log.machineId = machineId(id);
    log.sha256 = hash;
    log.size = request.body.size();
    result = store_.addLogUpload(log, now());
  }
  if (result != StoreResult::Stored) {
    // A file that this request made and no row refers to is not kept.
    if (created) uploads_.remove(hash);
    return refuse(response, statusFor(result), result == StoreResult::Conflict ? "this run has its archive" : "not stored",
                  request);
  }
  answer(response, 200, "stored");
}

}  // namespace receiver
