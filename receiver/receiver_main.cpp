// sorvane-receiver: takes the stubs' reports and uploads, and serves the vendor's dashboard.
//   sorvane-receiver [--db sqlite:PATH|postgresql://...] [--listen HOST:PORT] [--dashboard HOST:PORT]
//                    [--password-file FILE] [--uploads DIR] [--retain-days N] [--hash-machine-ids KEYFILE]
//                    [--abandon-after SECONDS] [--max-upload-mb N] [--min-free-mb N] [--port-file FILE]
// Runs until SIGTERM or SIGINT. Log lines go to standard error.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <thread>

#include "receiver/dashboard_auth.h"
#include "receiver/dashboard_server.h"
#include "receiver/machine_id_hash.h"
#include "receiver/receiver_options.h"
#include "receiver/pg_store.h"
#include "receiver/report_server.h"
#include "receiver/sqlite_store.h"
#include "receiver/upload_folder.h"

extern char** environ;

namespace {

std::mutex logLock;

void logLine(const std::string& line) {
  const std::time_t now = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  std::lock_guard<std::mutex> lock(logLock);
  std::fprintf(stderr, "%s %s\n", stamp, line.c_str());
}

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void makeParentFolders(const std::string& path) {
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    ::mkdir(path.substr(0, at).c_str(), 0700);
  }
}

// Deletes what is older than the retention, at start and then every hour, until told to stop.
class RetentionSweeper {
 public:
  RetentionSweeper(receiver::ReportStore& store, const receiver::UploadFolder& uploads, int days)
      : store_(store), uploads_(uploads), days_(days) {
    if (days_ > 0) thread_ = std::thread([this] { run(); });
  }
  ~RetentionSweeper() {
    {
      std::lock_guard<std::mutex> lock(lock_);
      stopping_ = true;
    }
    signal_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(lock_);
    while (!stopping_) {
      lock.unlock();
      const std::int64_t cutoff = nowMs() - std::int64_t{days_} * 86400 * 1000;
      const auto orphans = store_.deleteBefore(cutoff);
      if (orphans) {
        for (const std::string& hash : *orphans) uploads_.remove(hash);
        if (!orphans->empty()) logLine("retention: removed " + std::to_string(orphans->size()) + " upload files");
      } else {
        logLine("retention: the sweep failed; it runs again in an hour");
      }
      lock.lock();
      signal_.wait_for(lock, std::chrono::hours(1), [this] { return stopping_; });
    }
  }
  receiver::ReportStore& store_;
  const receiver::UploadFolder& uploads_;
  int days_;
  std::mutex lock_;
  std::condition_variable signal_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const std::size_t equals = text.find('=');
    if (equals != std::string::npos) environment[text.substr(0, equals)] = text.substr(equals + 1);
  }
  // The database, its journal and the uploads hold what users' machines sent: the owner's alone.
  ::umask(077);
  receiver::ReceiverOptions options;
  std::string error;
  if (!receiver::parseReceiverOptions(argc, argv, environment, options, error)) {
    std::fprintf(stderr, "sorvane-receiver: %s\n", error.c_str());
    return 2;
  }
  const bool sqlite = options.database.rfind("sqlite:", 0) == 0;
  const std::string databasePath = sqlite ? options.database.substr(7) : options.database;
  if (sqlite) makeParentFolders(databasePath);
  makeParentFolders(options.passwordFile);
  makeParentFolders(options.uploadFolder + "/x");

  // Stop signals go to one waiting thread, blocked everywhere else; a client that hangs up must not
  // end the process.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const std::optional<std::string> password = receiver::loadOrCreatePassword(options.passwordFile, error);
  if (!password) {
    std::fprintf(stderr, "sorvane-receiver: %s\n", error.c_str());
    return 1;
  }
  receiver::ReportServerOptions reportOptions;
  if (!options.machineIdKeyFile.empty()) {
    const std::optional<std::string> key = receiver::loadOrCreateKey(options.machineIdKeyFile, error);
    if (!key) {
      std::fprintf(stderr, "sorvane-receiver: %s\n", error.c_str());
      return 1;
    }
    reportOptions.machineIdTransform = [key = *key](const std::string& id) { return receiver::keyedMachineId(key, id); };
  }
  receiver::UploadFolder uploads(options.uploadFolder);
  if (!uploads.prepare(error)) {
    std::fprintf(stderr, "sorvane-receiver: %s\n", error.c_str());
    return 1;
  }
  std::unique_ptr<receiver::ReportStore> store;
  int schemaVersion = -1;
  if (sqlite) {
    std::unique_ptr<receiver::SqliteStore> file = receiver::SqliteStore::open(databasePath, error);
    if (file) schemaVersion = file->schemaVersion();
    store = std::move(file);
  } else {
    std::unique_ptr<receiver::PgStore> server = receiver::PgStore::open(databasePath, error);
    if (server) schemaVersion = server->schemaVersion();
    store = std::move(server);
  }
  if (!store) {
    // The URI may hold a password: only the kind of database is named.
    std::fprintf(stderr, "sorvane-receiver: %s: %s\n", sqlite ? databasePath.c_str() : "PostgreSQL", error.c_str());
    return 1;
  }
  reportOptions.maxUploadBytes = static_cast<std::size_t>(options.maxUploadBytes);
  reportOptions.minFreeBytes = options.minFreeBytes;
  reportOptions.log = logLine;
  receiver::ReportServer reports(*store, uploads, reportOptions);
  receiver::DashboardOptions dashboardOptions;
  dashboardOptions.password = *password;
  dashboardOptions.assetFolder = options.assetFolder;
  dashboardOptions.chartLibrary = options.chartLibrary;
  dashboardOptions.abandonAfter = options.abandonAfterSeconds * 1000;
  receiver::DashboardServer dashboard(*store, dashboardOptions);

  const int reportPort = reports.bind(options.reports.host, options.reports.port);
  const int dashboardPort = dashboard.bind(options.dashboard.host, options.dashboard.port);
  if (reportPort < 0 || dashboardPort < 0) {
    std::fprintf(stderr, "sorvane-receiver: cannot listen on %s:%d\n",
                 reportPort < 0 ? options.reports.host.c_str() : options.dashboard.host.c_str(),
                 reportPort < 0 ? options.reports.port : options.dashboard.port);
    return 1;
  }
  RetentionSweeper sweeper(*store, uploads, options.retainDays);
  std::thread reportThread([&reports] { reports.serve(); });
  std::thread dashboardThread([&dashboard] { dashboard.serve(); });
  if (!options.portFile.empty()) {
    // Through a rename: a reader that finds the file finds both ports.
    const std::string temporary = options.portFile + ".part";
    std::ofstream(temporary) << reportPort << " " << dashboardPort << "\n";
    std::rename(temporary.c_str(), options.portFile.c_str());
  }
  logLine("reports on http://" + options.reports.host + ":" + std::to_string(reportPort) + ", schema version " +
          std::to_string(schemaVersion) + ", database " + (sqlite ? databasePath : std::string("PostgreSQL")));
  logLine("dashboard on http://" + options.dashboard.host + ":" + std::to_string(dashboardPort) +
          "/ (user vendor, password in " + options.passwordFile + ")");

  int received = 0;
  sigwait(&stopSignals, &received);
  logLine("stopping");
  reports.stop();
  dashboard.stop();
  reportThread.join();
  dashboardThread.join();
  if (!options.portFile.empty()) ::unlink(options.portFile.c_str());
  return 0;
}
