// Win32 code. The loopback HTTP server that CTest starts around the download and product tests
// (the fixture "http_server"; SORVANE_TEST_HTTP_STATE names its state folder). Its routes, each a
// network fault (tools/test-http-server/test_server.h):
//   /files/NAME  /nolength/NAME  /short/NAME  /status/CODE/NAME  /flaky/KEY/N/NAME
//   /breakonce/KEY/NAME  /stall/NAME  /slow/RATE/NAME  /hang/NAME  /biglength/NAME
//   /redirect/CODE/HEX/NAME (through redirectUrl)  /reset/NAME  /resetonce/KEY/NAME
//   /resume/KEY/PCT/MODE/NAME
// NAME is a file in testServerRoot() or "gen-<bytes>.bin", generated: byte i is (i * 131 + 7) & 0xFF.
// Every helper returns empty (or -1) when the server is not there; such a test skips with
// SKIP_WITHOUT_TEST_SERVER().
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport {

// L"http://127.0.0.1:<port>" + path.
std::wstring testServerUrl(const std::wstring& path);
// The same server under another host name: L"http://<host>:<port>" + path.
std::wstring testServerUrlOnHost(const std::wstring& host, const std::wstring& path);
// A URL of the server that answers `code` with "Location: <target>"; the client names its file
// `name`.
std::wstring redirectUrl(int code, const std::wstring& target, const std::wstring& name);
// The folder the server serves NAMEs from, ending in a backslash.
std::wstring testServerRoot();
// A 64 KiB volume for disk-full tests, ending in a backslash; empty where it could not be mounted.
std::wstring tinyVolumeFolder();
// Requests the server has seen for exactly this path (query strings are not part of it); -1 when
// the server did not answer.
int testServerHits(const std::wstring& path);
// The /resume/ requests the server has seen for exactly this path, in order, one line each: the Range
// and If-Range they carried ("-" when absent), the status they were given and the body bytes sent,
// separated by tabs ("bytes=600-\t\"k-1\"\t206\t400"). Empty when the server did not answer.
std::vector<std::string> testServerRequests(const std::wstring& path);
// Sets every hit count, request line and KEY counter of the fault routes back to zero.
bool resetTestServerHits();
// Makes the server stop listening for `milliseconds` (a connection meanwhile is refused, as by a host
// that is down); false when it did not answer. It cannot be asked anything until then.
bool refuseTestServerConnections(DWORD milliseconds);
// A URL on 127.0.0.1 at a port where nothing listens now (a connection is refused).
std::wstring closedPortUrl(const std::wstring& path);

}  // namespace testsupport

#define SKIP_WITHOUT_TEST_SERVER()                                                                     \
  do {                                                                                                 \
    if (::testsupport::testServerUrl(L"/").empty())                                                    \
      GTEST_SKIP() << "the loopback test server is not running (SORVANE_TEST_HTTP_STATE unset or no " \
                      "port file); run the test through CTest, which starts it";                       \
  } while (false)
