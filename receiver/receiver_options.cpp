#include "receiver/receiver_options.h"

#include "receiver/text_rules.h"

namespace receiver {
namespace {

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::optional<ListenAddress> parseListenAddress(const std::string& text) {
  ListenAddress address;
  std::size_t colon;
  if (!text.empty() && text[0] == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return std::nullopt;
    address.host = text.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = text.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    address.host = text.substr(0, colon);
    if (address.host.find(':') != std::string::npos) return std::nullopt;
  }
  const std::optional<std::uint32_t> port = parseUint32(text.substr(colon + 1));
  if (address.host.empty() || !port || *port > 65535) return std::nullopt;
  if (!isAsciiWord(address.host, ".:-", 1, 255)) return std::nullopt;
  address.port = static_cast<int>(*port);
  return address;
}

bool parseReceiverOptions(int argc, const char* const* argv, const std::map<std::string, std::string>& environment,
                          ReceiverOptions& options, std::string& error) {
  std::map<std::string, std::string> values;
  for (const char* name : {"RECEIVER_LISTEN", "DASHBOARD_LISTEN", "RECEIVER_DB", "DASHBOARD_PASSWORD_FILE"}) {
    const auto found = environment.find(name);
    if (found != environment.end() && !found->second.empty()) values[name] = found->second;
  }
  const std::map<std::string, std::string> flags = {
      {"--listen", "RECEIVER_LISTEN"},         {"--dashboard", "DASHBOARD_LISTEN"},
      {"--db", "RECEIVER_DB"},                 {"--password-file", "DASHBOARD_PASSWORD_FILE"},
      {"--uploads", "uploads"},                {"--assets", "assets"},
      {"--chart", "chart"},                    {"--port-file", "port-file"},
      {"--hash-machine-ids", "key"},           {"--retain-days", "retain"},
      {"--abandon-after", "abandon"},          {"--max-upload-mb", "max-upload"},
      {"--min-free-mb", "min-free"},
  };
  for (int i = 1; i < argc; ++i) {
    const auto flag = flags.find(argv[i]);
    if (flag == flags.end() || i + 1 >= argc) {
      error = flag == flags.end() ? std::string("unknown argument ") + argv[i] : std::string(argv[i]) + " needs a value";
      return false;
    }
    values[flag->second] = argv[++i];
  }
  const auto value = [&values](const char* name, const std::string& fallback) {
    const auto found = values.find(name);
    return found == values.end() ? fallback : found->second;
  };
  options.database = value("RECEIVER_DB", "sqlite:build/receiver/receiver.sqlite");
  const bool sqlite = options.database.rfind("sqlite:", 0) == 0 && options.database.size() > 7;
  const bool postgres = options.database.rfind("postgresql://", 0) == 0 || options.database.rfind("postgres://", 0) == 0;
  if (!sqlite && !postgres) {
    error = "the database is sqlite:PATH or postgresql://...";
    return false;
  }
  const std::string home = sqlite ? folderOf(options.database.substr(7)) : "build/receiver";
  const auto reports = parseListenAddress(value("RECEIVER_LISTEN", "127.0.0.1:80"));
  const auto dashboard = parseListenAddress(value("DASHBOARD_LISTEN", "127.0.0.1:8640"));
  if (!reports || !dashboard) {
    error = "a listen address is HOST:PORT or [IPv6]:PORT";
    return false;
  }
  options.reports = *reports;
  options.dashboard = *dashboard;
  options.passwordFile = value("DASHBOARD_PASSWORD_FILE", home + "/dashboard-password");
  options.uploadFolder = value("uploads", home + "/uploads");
  options.assetFolder = value("assets", "receiver/dashboard");
  options.chartLibrary = value("chart", "node_modules/chart.js/dist/chart.umd.js");
  options.portFile = value("port-file", "");
  options.machineIdKeyFile = value("key", "");
  const auto number = [&](const char* name, std::int64_t maximum, std::int64_t& out) {
    if (!values.count(name)) return true;
    const std::optional<std::uint32_t> parsed = parseUint32(values[name]);
    if (!parsed || *parsed > maximum) {
      error = std::string("a bad number for ") + name;
      return false;
    }
    out = *parsed;
    return true;
  };
  std::int64_t retain = 0;
  std::int64_t maxUploadMb = options.maxUploadBytes >> 20;
  std::int64_t minFreeMb = options.minFreeBytes >> 20;
  if (!number("retain", 100000, retain) || !number("abandon", 365 * 86400, options.abandonAfterSeconds) ||
      !number("max-upload", 1024, maxUploadMb) || !number("min-free", std::int64_t{1} << 30, minFreeMb)) {
    return false;
  }
  options.retainDays = static_cast<int>(retain);
  options.maxUploadBytes = maxUploadMb << 20;
  options.minFreeBytes = minFreeMb << 20;
  return true;
}

}  // namespace receiver
