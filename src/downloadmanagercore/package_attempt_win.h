// Win32 code. One attempt of a download: the engine's own bind-status callback, which writes the
// transfer's data to the package file (continued or empty), judges the answer and settles the
// attempt's result, in front of the page's DownloadCallback.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "downloadmanagercore/package_file_win.h"
#include "downloadmanagercore/proxy_sign_in_win.h"
#include "downloadmanagercore/resume_rules.h"
#include "sysenv/sha256_win.h"

namespace downloadmanagercore {

class HtmlExternal;

struct AttemptOutcome {
  HRESULT result;
  std::uint64_t packageBytes;
  // Where the next attempt may continue.
  ResumePoint next;
  // The attempt ended at a proxy's 407 that offers Basic sign-in.
  bool proxyOffersBasic = false;
  // The attempt got as far as connecting: the server's (or proxy's) name was found.
  bool connected = false;
};

// Credentials for a proxy's sign-in in an attempt. With `header`, the attempt also sends them as a
// Basic Proxy-Authorization header on plain http, for a URL service that never asks for them: only
// where the user's settings name the proxy that the request goes to, so that no server can ask
// for them with a 407 of its own.
struct ProxySignIn {
  const ProxyCredentials* credentials = nullptr;
  bool header = false;
};

// One attempt: a fresh callback, the file (continued or empty), the transfer and the wait. With a
// `hasher`, the data is hashed as it is written: the file is never read back, so what was checked is
// what was written. No more than `sizeLimit` bytes are written; with `zipExpected`, an answer that
// is a web page or does not open as a zip archive ends the attempt as not a package.
AttemptOutcome runAttempt(HtmlExternal* owner, const std::wstring& url, const std::wstring& path, ResumePoint resume,
                          PackageHasher* hasher, std::uint64_t sizeLimit, bool zipExpected,
                          const ProxySignIn& proxySignIn = {});

}  // namespace downloadmanagercore
