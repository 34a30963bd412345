// Win32 code. Every report goes through here: one synchronous plain-HTTP request per report, on a
// session of its own, through the user's static proxy if there is one. WinHTTP is not a Known DLL,
// so it comes from System32 by name, never from the program's folder.
#include "telemetry/report_transport_win.h"

#include <winhttp.h>

#include "sysenv/scope_exit.h"
#include "sysenv/system_dll_win.h"
#include "sysenv/unique_handle_win.h"

#ifndef SORVANE_REPORT_HOST
#error "SORVANE_REPORT_HOST (the report server's host name) is a build setting"
#endif

namespace telemetry {
namespace {

constexpr wchar_t kUserAgent[] = L"Mervale Message Client/1.0";
constexpr wchar_t kReportHost[] = L"" SORVANE_REPORT_HOST;
constexpr wchar_t kContentTypeHeader[] = L"Content-Type:application/xml";
constexpr DWORD kContentTypeHeaderLength = sizeof kContentTypeHeader / sizeof kContentTypeHeader[0] - 1;
static_assert(kContentTypeHeaderLength == 28, "the header goes with its length in characters");

// Every report runs synchronously, the start report on the user-interface thread before the window
// exists, so no step may wait for long. WinHTTP's defaults would let a name look-up wait without end
// and a connection 60 s; Wine's WinHttpSendRequest moreover waits for the server's answer (Windows'
// returns once the request is out), so a server that takes the request and never answers holds the
// thread for the receive time-out. A report is worth little against a stub that seems frozen: a
// look-up or a connection that takes longer than 5 s is a network that will not carry the report
// anyway, and 10 s per send or receive step lets a slow link still upload a log archive (the time-out
// runs per step, not for the whole body). So one report waits at most about 30 s with no progress,
// and a server that accepts and never answers costs 10 s under Wine.
constexpr int kResolveTimeoutMs = 5000;
constexpr int kConnectTimeoutMs = 5000;
constexpr int kSendTimeoutMs = 10000;
constexpr int kReceiveTimeoutMs = 10000;

// The WinHTTP entry points, looked up once. All null when winhttp.dll cannot be loaded.
struct WinHttpFunctions {
  decltype(&WinHttpGetIEProxyConfigForCurrentUser) getIEProxyConfigForCurrentUser;
  decltype(&WinHttpOpen) open;
  decltype(&WinHttpSetTimeouts) setTimeouts;
  decltype(&WinHttpSetOption) setOption;
  decltype(&WinHttpConnect) connect;
  decltype(&WinHttpOpenRequest) openRequest;
  decltype(&WinHttpSendRequest) sendRequest;
  decltype(&WinHttpCloseHandle) closeHandle;

  bool complete() const {
    return getIEProxyConfigForCurrentUser != nullptr && open != nullptr && setTimeouts != nullptr && setOption != nullptr &&
           connect != nullptr &&
           openRequest != nullptr && sendRequest != nullptr && closeHandle != nullptr;
  }
};

const WinHttpFunctions& winHttp() {
  static const WinHttpFunctions functions = [] {
    constexpr wchar_t kDll[] = L"winhttp.dll";
    // WinHTTP loads crypt32 by bare name when it first frees a request (a delayed import). Wine
    // searches such a load beside the program whatever the process's DLL directories say, and picks
    // up a planted crypt32.dll there; loaded from System32 first, it is found in the process instead.
    sysenv::loadSystemLibrary(L"crypt32.dll");
    WinHttpFunctions loaded{};
    loaded.getIEProxyConfigForCurrentUser = sysenv::systemFunction<decltype(&WinHttpGetIEProxyConfigForCurrentUser)>(
        kDll, "WinHttpGetIEProxyConfigForCurrentUser");
    loaded.open = sysenv::systemFunction<decltype(&WinHttpOpen)>(kDll, "WinHttpOpen");
    loaded.setTimeouts = sysenv::systemFunction<decltype(&WinHttpSetTimeouts)>(kDll, "WinHttpSetTimeouts");
    loaded.setOption = sysenv::systemFunction<decltype(&WinHttpSetOption)>(kDll, "WinHttpSetOption");
    loaded.connect = sysenv::systemFunction<decltype(&WinHttpConnect)>(kDll, "WinHttpConnect");
    loaded.openRequest = sysenv::systemFunction<decltype(&WinHttpOpenRequest)>(kDll, "WinHttpOpenRequest");
    loaded.sendRequest = sysenv::systemFunction<decltype(&WinHttpSendRequest)>(kDll, "WinHttpSendRequest");
    loaded.closeHandle = sysenv::systemFunction<decltype(&WinHttpCloseHandle)>(kDll, "WinHttpCloseHandle");
    return loaded;
  }();
  return functions;
}

struct InternetHandleTraits {  // session, connection and request handles: empty is null
  using Handle = HINTERNET;
  static Handle empty() { return nullptr; }
  static void close(Handle handle) { winHttp().closeHandle(handle); }
};
using UniqueInternetHandle = sysenv::UniqueHandle<InternetHandleTraits>;

}  // namespace

const wchar_t* reportServerHost() { return kReportHost; }

void* openReportSession() {
  const WinHttpFunctions& api = winHttp();
  if (!api.complete()) return nullptr;

  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  const bool haveConfig = api.getIEProxyConfigForCurrentUser(&config) != FALSE;
  const sysenv::ScopeExit freeStrings([&config] {
    for (LPWSTR text : {config.lpszAutoConfigUrl, config.lpszProxy, config.lpszProxyBypass}) {
      if (text != nullptr) ::GlobalFree(text);
    }
  });
  // Only a static proxy is honoured: automatic detection and configuration scripts would cost a
  // network search on the user-interface thread before every report, so such users go direct.
  HINTERNET session =
      haveConfig && config.lpszProxy != nullptr
          ? api.open(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, config.lpszProxy,
                     config.lpszProxyBypass != nullptr ? config.lpszProxyBypass : WINHTTP_NO_PROXY_BYPASS, 0)
          : api.open(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  // Handles made from the session inherit its time-outs. Should they not take, the defaults apply.
  if (session != nullptr) {
    api.setTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
    // Wine waits for the answer's head under this time-out, not the receive one (measured: without
    // it a silent server held the send for as long as it kept the connection, 60 s and more).
    DWORD responseTimeout = kReceiveTimeoutMs;
    api.setOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout);
  }
  return session;
}

bool sendReportRequest(const void* body, std::uint32_t length, const std::wstring& path, const std::wstring& verb) {
  UniqueInternetHandle session(static_cast<HINTERNET>(openReportSession()));
  if (!session) return false;
  const WinHttpFunctions& api = winHttp();
  // Declared in this order so that they close in the reverse one: request, connection, session.
  UniqueInternetHandle connection(api.connect(session.get(), kReportHost, INTERNET_DEFAULT_HTTP_PORT, 0));
  if (!connection) return false;
  UniqueInternetHandle request(api.openRequest(connection.get(), verb.c_str(), path.c_str(), nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               WINHTTP_FLAG_REFRESH));
  if (!request) return false;
  // The answer is never read: a report counts as sent once the service has taken the body.
  void* optional = length == 0 ? WINHTTP_NO_REQUEST_DATA : const_cast<void*>(body);
  return api.sendRequest(request.get(), kContentTypeHeader, kContentTypeHeaderLength, optional, length, length, 0) != FALSE;
}

}  // namespace telemetry
