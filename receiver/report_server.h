// The address the stubs report to: POST /v1/logAnalytics and PUT /v1/reportError, exactly as the
// stub sends them. Every request is checked whole before anything is kept; a refused one gets a 4xx
// answer and leaves nothing behind. A 200 is sent only once the store has committed.
#pragma once

#include <httplib.h>

#include <cstdint>
#include <functional>
#include <string>

#include "receiver/store.h"
#include "receiver/upload_folder.h"

namespace receiver {

struct ReportServerOptions {
  std::size_t maxUploadBytes = 16 * 1024 * 1024;
  // Below this many free bytes where uploads are kept (the database's folder by default), nothing
  // more is taken (507): neither uploads nor reports.
  std::int64_t minFreeBytes = 256 * 1024 * 1024;
  // When set, machine ids are kept only as this function's result (a keyed hash).
  std::function<std::string(const std::string&)> machineIdTransform;
  std::function<void(const std::string&)> log;
  std::function<std::int64_t()> clock;  // milliseconds since 1970; the system clock when unset
};

class ReportServer {
 public:
  ReportServer(ReportStore& store, const UploadFolder& uploads, ReportServerOptions options);
  // The bound port, or -1.
  int bind(const std::string& host, int port);
  bool serve();
  void stop();

 private:
  void handleReport(const httplib::Request& request, httplib::Response& response);
  void handleUpload(const httplib::Request& request, httplib::Response& response);
  httplib::Server::HandlerResponse screen(const httplib::Request& request, httplib::Response& response);
  void refuse(httplib::Response& response, int status, const std::string& why, const httplib::Request& request);
  std::int64_t now() const;
  std::string machineId(const std::string& id) const;

  ReportStore& store_;
  const UploadFolder& uploads_;
  ReportServerOptions options_;
  httplib::Server server_;
};

}  // namespace receiver
