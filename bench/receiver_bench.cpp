// receiver-bench [SECONDS] [CLIENTS]: reports per second and the 99th-percentile answer time of the
// report receiver under CLIENTS keep-alive clients posting start reports (each with a token of its
// own) for SECONDS, against: a cpp-httplib server on the same machine that answers 200 and stores
// nothing (the ceiling), the receiver with SQLite, and with PostgreSQL behind one and two receiver
// processes. After each run the reports in the database are counted against the 200 answers.
// SORVANE_RECEIVER_EXE names the receiver to run (bench/run-receiver-bench builds an optimised one).
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "receiver/pg_server.h"
#include "receiver/pg_store.h"
#include "receiver/receiver_process.h"
#include "receiver/sqlite_store.h"
#include "receiver/test_fixtures.h"

namespace {

struct Load {
  long long answered = 0;  // 200s
  long long failed = 0;    // anything else, or no answer
  double perSecond = 0;
  double p99Milliseconds = 0;
};

Load drive(const std::vector<int>& ports, int clients, int seconds, int run) {
  std::atomic<bool> stop{false};
  std::vector<std::vector<double>> times(static_cast<std::size_t>(clients));
  std::vector<long long> answered(static_cast<std::size_t>(clients)), failed(static_cast<std::size_t>(clients));
  std::vector<std::thread> threads;
  const auto begin = std::chrono::steady_clock::now();
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", ports[static_cast<std::size_t>(c) % ports.size()]);
      client.set_keep_alive(true);
      // The library writes headers and body apart: without this, Nagle's rule meets the server's
      // delayed acknowledgement and every request waits about 40 ms.
      client.set_tcp_nodelay(true);
      client.set_read_timeout(10, 0);
      receiver::testing::ReportFields fields;
      char token[40];
      for (long long i = 0; !stop; ++i) {
        std::snprintf(token, sizeof token, "%04X%04X-0000-4000-8000-%012llX", run, c, i);
        fields.token = token;
        const std::string body = receiver::testing::reportDocument(fields);
        const auto sent = std::chrono::steady_clock::now();
        const auto result = client.Post("/v1/logAnalytics", body, "application/xml");
        const auto back = std::chrono::steady_clock::now();
        times[static_cast<std::size_t>(c)].push_back(std::chrono::duration<double, std::milli>(back - sent).count());
        if (result && result->status == 200) {
          ++answered[static_cast<std::size_t>(c)];
        } else {
          ++failed[static_cast<std::size_t>(c)];
        }
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  stop = true;
  for (std::thread& t : threads) t.join();
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  Load load;
  std::vector<double> all;
  for (int c = 0; c < clients; ++c) {
    load.answered += answered[static_cast<std::size_t>(c)];
    load.failed += failed[static_cast<std::size_t>(c)];
    all.insert(all.end(), times[static_cast<std::size_t>(c)].begin(), times[static_cast<std::size_t>(c)].end());
  }
  std::sort(all.begin(), all.end());
  load.perSecond = static_cast<double>(load.answered) / elapsed;
  load.p99Milliseconds = all.empty() ? 0 : all[all.size() * 99 / 100];
  return load;
}

// The peak resident set of a process, in MB, from /proc.
std::string peakMb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) {
      char text[32];
      std::snprintf(text, sizeof text, "%.1f", std::atof(line.c_str() + 6) / 1024.0);
      return text;
    }
  }
  return "-";
}

void row(const char* tool, const Load& load, const std::string& peak, long long stored, int clients) {
  char result[32];
  char size[32];
  std::snprintf(size, sizeof size, "%d clients", clients);
  std::snprintf(result, sizeof result, "%.0f rep/s", load.perSecond);
  std::printf("%-10s %-10s %-8s %16s %14s\n", "receiver", size, tool, result, peak.c_str());
  std::snprintf(result, sizeof result, "p99 %.2f ms", load.p99Milliseconds);
  std::printf("%-10s %-10s %-8s %16s %14s\n", "receiver", size, tool, result, "");
  if (stored >= 0) {
    std::printf("  (%s: %lld answered 200, %lld stored, %lld missing, %lld refused or unanswered)\n", tool, load.answered,
                stored, std::max(0LL, load.answered - stored), load.failed);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
  const int clients = argc > 2 ? std::atoi(argv[2]) : 8;
  signal(SIGPIPE, SIG_IGN);
  std::vector<Load> rates;

  // The ceiling: a server of the same library that answers 200 and stores nothing, in a process of
  // its own as the receiver is.
  const int nullPort = receiver::testing::freeLoopbackPort();
  const pid_t nullServer = ::fork();
  if (nullServer == 0) {
    httplib::Server server;
    server.set_tcp_nodelay(true);
    // As many workers as the receiver has, so that both serve every client at once.
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server.Post("/v1/logAnalytics", [](const httplib::Request&, httplib::Response& r) { r.set_content("ok\n", "text/plain"); });
    server.listen("127.0.0.1", nullPort);
    ::_exit(0);
  }
  for (int i = 0; i < 100; ++i) {
    httplib::Client probe("127.0.0.1", nullPort);
    if (probe.Get("/")) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const Load ceiling = drive({nullPort}, clients, seconds, 1);
  const std::string nullPeak = peakMb(nullServer);
  ::kill(nullServer, SIGKILL);
  ::waitpid(nullServer, nullptr, 0);
  row("null", ceiling, nullPeak, -1, clients);

  {
    receiver::testing::ReceiverProcess process(receiver::testing::freshFolder("bench-sqlite"));
    if (!process.start()) return 1;
    const Load load = drive({process.reportPort()}, clients, seconds, 2);
    std::string error;
    const std::string processPeak = peakMb(process.pid());
    const auto store = receiver::SqliteStore::open(process.database(), error);
    const long long stored = store ? store->rowCounts()["reports"] : -1;
    row("sqlite", load, processPeak, stored, clients);
    std::printf("  (sqlite: %.2f of the ceiling)\n", load.perSecond / ceiling.perSecond);
    process.stop();
  }

  receiver::testing::PgServer postgres;
  if (!postgres.start()) {
    std::printf("  (postgresql: the server did not start; no rows)\n");
    return 0;
  }
  for (int processes = 1; processes <= 2; ++processes) {
    const std::string uri = postgres.newDatabase("bench" + std::to_string(processes));
    std::vector<std::unique_ptr<receiver::testing::ReceiverProcess>> receivers;
    std::vector<int> ports;
    for (int p = 0; p < processes; ++p) {
      receivers.push_back(std::make_unique<receiver::testing::ReceiverProcess>(
          receiver::testing::freshFolder("bench-pg" + std::to_string(processes) + "-" + std::to_string(p)),
          std::vector<std::string>{}, uri));
      if (!receivers.back()->start()) return 1;
      ports.push_back(receivers.back()->reportPort());
    }
    const Load load = drive(ports, clients, seconds, 2 + processes);
    const std::string processPeak = peakMb(receivers.front()->pid());
    std::string error;
    const auto store = receiver::PgStore::open(uri, error);
    const long long stored = store ? store->rowCounts()["reports"] : -1;
    const std::string tool = "pg x" + std::to_string(processes);
    row(tool.c_str(), load, processPeak, stored, clients);
    std::printf("  (%s: %.2f of the ceiling)\n", tool.c_str(), load.perSecond / ceiling.perSecond);
    for (auto& r : receivers) r->stop();
  }
  return 0;
}
