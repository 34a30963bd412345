// The receiver's command line and environment: where it listens, where it stores, what it keeps.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace receiver {

struct ListenAddress {
  std::string host;
  int port = 0;
};

struct ReceiverOptions {
  std::string database;  // "sqlite:PATH" or "postgresql://..."
  ListenAddress reports{"127.0.0.1", 80};
  ListenAddress dashboard{"127.0.0.1", 8640};
  std::string passwordFile;
  std::string uploadFolder;
  std::string assetFolder;
  std::string chartLibrary;
  std::string portFile;  // "REPORTPORT DASHBOARDPORT\n" once both listen (port 0 picks free ports)
  std::string machineIdKeyFile;  // set: machine ids are kept only as a keyed hash
  int retainDays = 0;             // 0: keep everything
  std::int64_t abandonAfterSeconds = 3600;
  std::int64_t maxUploadBytes = 16 * 1024 * 1024;
  std::int64_t minFreeBytes = 256 * 1024 * 1024;
};

// "127.0.0.1:80", "[::1]:8640", "0.0.0.0:80"; nothing for anything else.
std::optional<ListenAddress> parseListenAddress(const std::string& text);

// The options from the arguments over the environment (RECEIVER_LISTEN, DASHBOARD_LISTEN,
// RECEIVER_DB, DASHBOARD_PASSWORD_FILE) over the defaults; false with `error` set on a bad one.
bool parseReceiverOptions(int argc, const char* const* argv, const std::map<std::string, std::string>& environment,
                          ReceiverOptions& options, std::string& error);

}  // namespace receiver
