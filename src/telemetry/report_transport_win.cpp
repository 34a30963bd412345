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

// The WinHTTP entry points, looked up once. All null when winhttp.dll cannot be loaded.
struct WinHttpFunctions {
  decltype(&WinHttpGetIEProxyConfigForCurrentUser) getIEProxyConfigForCurrentUser;
  decltype(&WinHttpOpen) open;
  decltype(&WinHttpConnect) connect;
  decltype(&WinHttpOpenRequest) openRequest;
  decltype(&WinHttpSendRequest) sendRequest;
  decltype(&WinHttpCloseHandle) closeHandle;

  bool complete() const {
    return getIEProxyConfigForCurrentUser != nullptr && open != nullptr && connect != nullptr &&
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
  if (haveConfig && config.lpszProxy != nullptr) {
    return api.open(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, config.lpszProxy,
                    config.lpszProxyBypass != nullptr ? config.lpszProxyBypass : WINHTTP_NO_PROXY_BYPASS, 0);
  }
  return api.open(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
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
