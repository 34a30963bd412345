// Win32 code.
#include "support/test_http_server_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>

#include "support/wine_test_support_win.h"
#include "sysenv/unique_handle_win.h"

namespace testsupport {
namespace {

struct SocketTraits {
  using Handle = SOCKET;
  static Handle empty() { return INVALID_SOCKET; }
  static void close(Handle h) { ::closesocket(h); }
};
using UniqueSocket = sysenv::UniqueHandle<SocketTraits>;

class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

 private:
  bool started_ = false;
};

std::wstring stateFolder() { return windowsPathFromEnvironment("SORVANE_TEST_HTTP_STATE"); }

// 0 when there is no server.
int serverPort() {
  const std::wstring state = stateFolder();
  return state.empty() ? 0 : std::atoi(readFileBytes(state + L"\\port").c_str());
}

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// The server's own control routes, asked over a bare socket so that the helpers never share code
// or settings with the transports under test. The body of a 200 answer; false otherwise.
bool getControlRoute(const std::string& target, std::string& body) {
  const int port = serverPort();
  if (port == 0) return false;
  WinsockSession session;
  UniqueSocket connection(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address = loopback(port);
  if (!connection || connect(connection.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return false;
  }
  const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (send(connection.get(), request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size())) {
    return false;
  }
  std::string answer;
  char buffer[4096];
  for (int read; (read = recv(connection.get(), buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, read);
  const std::size_t headerEnd = answer.find("\r\n\r\n");
  if (answer.compare(0, 12, "HTTP/1.1 200") != 0 || headerEnd == std::string::npos) return false;
  body = answer.substr(headerEnd + 4);
  return true;
}

std::string utf8Of(const std::wstring& text) {
  std::string utf8(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
  utf8.resize(utf8.empty() ? 0 : utf8.size() - 1);
  return utf8;
}

const char kHexDigits[] = "0123456789ABCDEF";

// UTF-8 with everything but unreserved characters and '/' percent-encoded, for a query value.
std::string percentEncoded(const std::wstring& text) {
  const std::string utf8 = utf8Of(text);
  std::string encoded;
  for (unsigned char c : utf8) {
    if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      encoded += static_cast<char>(c);
    } else {
      encoded += {'%', kHexDigits[c >> 4], kHexDigits[c & 15]};
    }
  }
  return encoded;
}

std::wstring urlAtPort(int port, const std::wstring& path, const std::wstring& host = L"127.0.0.1") {
  return L"http://" + host + L":" + std::to_wstring(port) + path;
}

}  // namespace

std::wstring testServerUrl(const std::wstring& path) {
  const int port = serverPort();
  return port == 0 ? std::wstring() : urlAtPort(port, path);
}

std::wstring testServerUrlOnHost(const std::wstring& host, const std::wstring& path) {
  const int port = serverPort();
  return port == 0 ? std::wstring() : urlAtPort(port, path, host);
}

std::wstring redirectUrl(int code, const std::wstring& target, const std::wstring& name) {
  std::wstring spelled;
  for (unsigned char c : utf8Of(target)) spelled += {static_cast<wchar_t>(kHexDigits[c >> 4]), static_cast<wchar_t>(kHexDigits[c & 15])};
  return testServerUrl(L"/redirect/" + std::to_wstring(code) + L"/" + spelled + L"/" + name);
}

std::wstring testServerRoot() {
  const std::wstring state = stateFolder();
  return state.empty() ? state : state + L"\\root\\";
}

std::wstring tinyVolumeFolder() {
  const std::wstring state = stateFolder();
  if (state.empty() || pathExists(state + L"\\tinyfs-unavailable") || !pathExists(state + L"\\tinyfs")) return {};
  return state + L"\\tinyfs\\";
}

int testServerHits(const std::wstring& path) {
  std::string body;
  if (!getControlRoute("/_hits?path=" + percentEncoded(path), body) || body.empty()) return -1;
  return std::atoi(body.c_str());
}

std::vector<std::string> testServerRequests(const std::wstring& path) {
  std::string body;
  std::vector<std::string> lines;
  if (!getControlRoute("/_requests?path=" + percentEncoded(path), body)) return lines;
  for (std::size_t start = 0; start < body.size();) {
    const std::size_t end = body.find('\n', start);
    if (end == std::string::npos) break;
    lines.push_back(body.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool resetTestServerHits() {
  std::string body;
  return getControlRoute("/_reset", body);
}

bool refuseTestServerConnections(DWORD milliseconds) {
  std::string body;
  return getControlRoute("/_refuse?ms=" + std::to_string(milliseconds), body);
}

std::wstring closedPortUrl(const std::wstring& path) {
  WinsockSession session;
  UniqueSocket probe(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address = loopback(0);
  int size = sizeof address;
  if (!probe || bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return {};
  }
  // Closed before return: the port was free a moment ago and nothing listens on it now.
  return urlAtPort(ntohs(address.sin_port), path);
}

}  // namespace testsupport
