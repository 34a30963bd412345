// Win32 code. Where the proxy sign-in's parts come from on this machine: the user's proxy setting
// for a URL, and the credentials the user saved for that proxy in Credential Manager.
#pragma once

#include <optional>
#include <string>

#include "downloadmanagercore/proxy_sign_in.h"

namespace downloadmanagercore {

// A user name and password for a proxy, held for one run at most; the password's memory is wiped
// when it goes.
class ProxyCredentials {
 public:
  ProxyCredentials(std::wstring user, std::wstring password);
  ~ProxyCredentials();
  ProxyCredentials(const ProxyCredentials& other);
  ProxyCredentials& operator=(const ProxyCredentials& other);

  const std::wstring& user() const { return user_; }
  const std::wstring& password() const { return password_; }
  // The request header that signs in with them where a proxy offers Basic.
  std::wstring basicAuthorization() const;

 private:
  std::wstring user_;
  std::wstring password_;
};

// The proxy that the user's Internet settings send `url` through; none for a direct connection, a
// bypassed host, or settings that cannot be read (an auto-config script names no fixed proxy).
std::optional<ProxyEndpoint> configuredProxy(const std::wstring& url);

// The generic credentials saved in Credential Manager under the proxy's name ("host:port", then
// "host"), or none.
std::optional<ProxyCredentials> savedProxyCredentials(const ProxyEndpoint& proxy);

}  // namespace downloadmanagercore
