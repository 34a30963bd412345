// Win32 code. The report collector: the loopback server on 127.0.0.1 port 80 that CTest starts
// around the tests that send reports (the fixture "report_collector"; SORVANE_TEST_COLLECTOR_STATE
// names its state folder). It answers every request at once and records it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct CollectedRequest {
  std::string verb;    // "POST", "PUT", ...
  std::string target;  // path with query, as sent: "/v1/reportError?token=...&machineId=..."
                       // (through a proxy the absolute URL: "http://127.0.0.1/v1/...")
  std::vector<std::pair<std::string, std::string>> headers;  // in the order received, values trimmed
  std::string head;  // the request line and header lines exactly as received, up to the empty line
  std::string body;  // exactly the bytes received (a chunked body without its framing)
  // The value of the first header of that name (case-insensitive), or empty.
  std::string header(const std::string& name) const;
};

// True when the collector runs (its state folder is known and it listens).
bool reportCollectorRunning();
// Every request recorded since the last clear, in arrival order.
std::vector<CollectedRequest> collectedRequests();
// Forgets what was recorded, and answers 200 again.
void clearCollectedRequests();
// The status every later request is answered with (200 unless changed), e.g. 500.
void setCollectorAnswerStatus(int status);

// While it lives nothing listens on the collector's port, so a connection there is refused. The
// constructor returns once the collector has closed its listener, the destructor once it listens
// again (each waits at most 5 s).
class ScopedCollectorRefusal {
 public:
  ScopedCollectorRefusal();
  ~ScopedCollectorRefusal();
  ScopedCollectorRefusal(const ScopedCollectorRefusal&) = delete;
  ScopedCollectorRefusal& operator=(const ScopedCollectorRefusal&) = delete;
  // False when the collector did not stop listening in time.
  bool active() const { return active_; }

 private:
  bool active_ = false;
};

// While it lives the collector reads and records every request but never answers it: a connection
// ends only when the client gives up (or after 60 s).
class ScopedCollectorHang {
 public:
  ScopedCollectorHang();
  ~ScopedCollectorHang();
  ScopedCollectorHang(const ScopedCollectorHang&) = delete;
  ScopedCollectorHang& operator=(const ScopedCollectorHang&) = delete;
};

}  // namespace testsupport

#define SKIP_WITHOUT_REPORT_COLLECTOR()                                                             \
  do {                                                                                              \
    if (!::testsupport::reportCollectorRunning())                                                   \
      GTEST_SKIP() << "the report collector is not running (SORVANE_TEST_COLLECTOR_STATE unset); " \
                      "run the test through CTest, which starts it";                                \
  } while (false)
