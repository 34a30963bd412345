// Win32 code. The collector's state folder is read and written through Wine's Z: drive; its
// layout is described in tools/test-http-server/test_server.h.
#include "support/report_collector_win.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "support/wine_test_support_win.h"

namespace testsupport {
namespace {

constexpr DWORD kCollectorWaitMs = 5000;

std::wstring stateFolder() { return windowsPathFromEnvironment("SORVANE_TEST_COLLECTOR_STATE"); }
std::wstring requestsFolder() { return stateFolder() + L"\\requests"; }

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool sameTextIgnoringCase(const std::string& left, const std::string& right) {
  return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

// The request line, the header lines, an empty line and the body, as the collector stores them.
CollectedRequest parseRecordedRequest(const std::string& recorded) {
  CollectedRequest request;
  const std::size_t headEnd = recorded.find("\r\n\r\n");
  request.head = recorded.substr(0, headEnd == std::string::npos ? recorded.size() : headEnd + 4);
  if (headEnd != std::string::npos) request.body = recorded.substr(headEnd + 4);

  std::size_t lineStart = 0;
  for (bool first = true; lineStart < request.head.size(); first = false) {
    std::size_t lineEnd = request.head.find("\r\n", lineStart);
    if (lineEnd == std::string::npos) lineEnd = request.head.size();
    const std::string line = request.head.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 2;
    if (first) {
      const std::size_t verbEnd = line.find(' '), targetEnd = line.rfind(' ');
      request.verb = line.substr(0, verbEnd);
      if (verbEnd != std::string::npos && targetEnd > verbEnd) request.target = line.substr(verbEnd + 1, targetEnd - verbEnd - 1);
    } else if (const std::size_t colon = line.find(':'); colon != std::string::npos) {
      request.headers.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
    }
  }
  return request;
}

bool waitForPath(const std::wstring& path, bool present) {
  for (DWORD waited = 0; waited < kCollectorWaitMs; waited += 20) {
    if (pathExists(path) == present) return true;
    Sleep(20);
  }
  return pathExists(path) == present;
}

}  // namespace

std::string CollectedRequest::header(const std::string& name) const {
  for (const auto& entry : headers) {
    if (sameTextIgnoringCase(entry.first, name)) return entry.second;
  }
  return {};
}

bool reportCollectorRunning() {
  const std::wstring state = stateFolder();
  return !state.empty() && pathExists(state + L"\\port") && pathExists(state + L"\\requests");
}

std::vector<CollectedRequest> collectedRequests() {
  std::vector<std::wstring> names = listFolder(requestsFolder());
  // Named by arrival number, zero-padded: name order is arrival order.
  std::sort(names.begin(), names.end());
  std::vector<CollectedRequest> requests;
  for (const std::wstring& name : names) {
    const std::wstring suffix = L".request";
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;  // one still being written
    }
    requests.push_back(parseRecordedRequest(readFileBytes(requestsFolder() + L"\\" + name)));
  }
  return requests;
}

void clearCollectedRequests() {
  if (stateFolder().empty()) return;
  for (const std::wstring& name : listFolder(requestsFolder())) DeleteFileW((requestsFolder() + L"\\" + name).c_str());
  DeleteFileW((stateFolder() + L"\\answer-status").c_str());
}

void setCollectorAnswerStatus(int status) {
  if (stateFolder().empty()) return;
  writeFileBytes(stateFolder() + L"\\answer-status", std::to_string(status) + "\n");
}

ScopedCollectorRefusal::ScopedCollectorRefusal() {
  if (!reportCollectorRunning()) return;
  writeFileBytes(stateFolder() + L"\\refuse", "");
  active_ = waitForPath(stateFolder() + L"\\refusing", true);
}

ScopedCollectorRefusal::~ScopedCollectorRefusal() {
  if (stateFolder().empty()) return;
  DeleteFileW((stateFolder() + L"\\refuse").c_str());
  waitForPath(stateFolder() + L"\\refusing", false);
}

// The collector looks for the file at each request.
ScopedCollectorHang::ScopedCollectorHang() {
  if (!stateFolder().empty()) writeFileBytes(stateFolder() + L"\\hang", "");
}

ScopedCollectorHang::~ScopedCollectorHang() {
  if (!stateFolder().empty()) DeleteFileW((stateFolder() + L"\\hang").c_str());
}

}  // namespace testsupport
