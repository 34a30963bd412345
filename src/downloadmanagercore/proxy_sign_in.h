// The proxy sign-in's decisions that need no operating system: which proxy the user's setting names
// for a URL, whether the proxy's challenge can be answered by the engine itself, the answer's header,
// the names under which saved credentials are looked up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace downloadmanagercore {

// HTTP 407, as the transfer result that the HTTP status becomes.
constexpr std::uint32_t kHresultProxySignIn = 0x80190197;

struct ProxyEndpoint {
  std::u16string host;
  std::uint16_t port = 80;
  // "host:port", as logs and messages name the proxy.
  std::u16string name() const;
};

// The proxy that a WinINet proxy setting names for URLs of `scheme` ("http" or "https"): the
// setting is "host:port", or a list such as "http=host:port;https=host:port" (";" or spaces
// between). None for a scheme that the list leaves out, or for a setting that names no host. A bare
// host gets port 80.
std::optional<ProxyEndpoint> proxyForScheme(const std::u16string& setting, const std::u16string& scheme);

// Whether a proxy bypass list (";"-separated host patterns with "*", and "<local>" for names without
// a dot) sends `host` straight to the server.
bool bypassesProxy(const std::u16string& bypassList, const std::u16string& host);

// The scheme and host of an absolute URL, lower-cased; empty when `url` is not one.
struct UrlHost {
  std::u16string scheme;
  std::u16string host;
};
UrlHost urlHost(const std::u16string& url);

// Whether any Proxy-Authenticate line of a 407's raw headers offers Basic, the one scheme that the
// engine answers itself where the system does not (the others, Negotiate, NTLM and Digest, are the
// system's own sign-in).
bool offersBasicProxySignIn(const std::u16string& headers);

// The request header that answers a Basic challenge: "Proxy-Authorization: Basic <base64 of
// user:password in UTF-8>" and CR LF.
std::u16string basicProxyAuthorization(const std::u16string& user, const std::u16string& password);

// The Credential Manager names under which a user's saved credentials for the proxy are looked up,
// in order: "host:port", then "host".
std::vector<std::u16string> proxyCredentialTargets(const ProxyEndpoint& proxy);

}  // namespace downloadmanagercore
