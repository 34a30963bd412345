// sorvane-test-server --root DIR [--port N] [--port-file FILE] [--log FILE]
// sorvane-test-server --collect STATEDIR [--port N] [--port-file FILE] [--log FILE]
// Serves on 127.0.0.1 until SIGTERM or SIGINT; the routes and the collector's state folder are
// described in test_server.h.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "test-http-server/test_server.h"

namespace {

// Binds, announces the port and serves until a stop signal; the process's exit code.
template <typename Server>
int run(Server& server, const testserver::Options& options, sigset_t& stopSignals) {
  const int port = server.bind(options.port);
  if (port < 0) {
    std::fprintf(stderr, "sorvane-test-server: cannot listen on 127.0.0.1:%d\n", options.port);
    return 1;
  }
  std::thread signalWaiter([&server, &stopSignals] {
    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
  });
  // Written only now: a reader that finds the file may connect at once.
  const bool announced = options.portFile.empty() || testserver::writePortFile(options.portFile, port);
  const bool served = announced && server.serve();
  if (!announced) std::fprintf(stderr, "sorvane-test-server: cannot write %s\n", options.portFile.c_str());

  // Wakes the waiter when the server ended for another reason than a signal.
  pthread_kill(signalWaiter.native_handle(), SIGTERM);
  signalWaiter.join();
  if (!options.portFile.empty()) ::unlink(options.portFile.c_str());
  return served ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  testserver::Options options;
  std::string error;
  if (!testserver::parseArguments(argc, argv, options, error)) {
    std::fprintf(stderr,
                 "sorvane-test-server: %s\nusage: sorvane-test-server (--root DIR | --collect STATEDIR) [--port N] "
                 "[--port-file FILE] [--log FILE]\n",
                 error.c_str());
    return 2;
  }

  // The stop signals go to one thread that waits for them, blocked everywhere else (the mask is
  // inherited by the server's workers); a client that hangs up must not end the process.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!options.collectorState.empty()) {
    testserver::ReportCollector collector(options.collectorState, options.logFile);
    return run(collector, options, stopSignals);
  }
  testserver::TestServer server(options.root, options.logFile);
  return run(server, options, stopSignals);
}
