// Plain code.
#include "release/release_settings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "downloadmanagercore/package_manifest.h"
#include "downloadmanagercore/package_trust.h"
#include "payload/language_list.h"
#include "payload/trust_slot.h"

namespace release {

namespace {

std::string valueOf(const Settings& settings, const std::string& name) {
  const auto found = settings.find(name);
  return found == settings.end() ? std::string() : found->second;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

struct Url {
  std::string scheme;  // lower case
  std::string host;    // lower case, without brackets
  std::string path;    // from the first "/" after the host, may be empty
};

// scheme://host[:port]/path, without user information; false for anything else.
bool parseUrl(const std::string& text, Url* url) {
  const std::size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string::npos || schemeEnd == 0) return false;
  url->scheme = lower(text.substr(0, schemeEnd));
  const std::size_t hostStart = schemeEnd + 3;
  const std::size_t pathStart = std::min(text.find_first_of("/?#", hostStart), text.size());
  std::string authority = text.substr(hostStart, pathStart - hostStart);
  if (authority.empty() || authority.find('@') != std::string::npos) return false;
  if (authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    url->host = lower(authority.substr(1, close - 1));
  } else {
    url->host = lower(authority.substr(0, authority.find(':')));
  }
  url->path = text.substr(pathStart);
  if (url->host.empty()) return false;
  return std::none_of(text.begin(), text.end(), [](unsigned char c) { return c <= ' ' || c == 0x7F; });
}

bool isHttpUrl(const std::string& text, Url* url) {
  return parseUrl(text, url) && (url->scheme == "http" || url->scheme == "https");
}

// An IPv4 address in the forms a resolver takes without asking any server: dotted, with fewer than
// four parts ("127.1"), octal ("0177.0.0.1"), hexadecimal ("0x7f.1") or one number ("2130706433").
bool parseIpv4(const std::string& host, std::uint32_t* address) {
  in_addr parsed{};
  if (inet_aton(host.c_str(), &parsed) == 0) return false;
  *address = ntohl(parsed.s_addr);
  return true;
}

// Loopback, unspecified, private, shared (carrier-grade NAT), link-local, multicast and reserved.
bool isLocalIpv4(std::uint32_t a) {
  const unsigned first = a >> 24, second = (a >> 16) & 0xFF;
  return first == 0 || first == 127 || first == 10 || (first == 172 && (second & 0xF0) == 16) ||
         (first == 192 && second == 168) || (first == 169 && second == 254) || (first == 100 && (second & 0xC0) == 64) ||
         first >= 224;
}

// An IPv6 literal in any notation (full, compressed, with an embedded IPv4 part): loopback,
// unspecified, IPv4-compatible and IPv4-mapped (which reach whatever the embedded address
// reaches), NAT64 of a local IPv4 address, unique local (fc00::/7), link-local (fe80::/10),
// site-local (fec0::/10) and multicast. A literal that does not parse (a zone index, say) is local.
bool isLocalIpv6(const std::string& host) {
  in6_addr parsed{};
  if (inet_pton(AF_INET6, host.c_str(), &parsed) != 1) return true;
  const unsigned char* b = parsed.s6_addr;
  const auto zeros = [b](int from, int to) { return std::all_of(b + from, b + to, [](unsigned char c) { return c == 0; }); };
  const std::uint32_t embedded = (std::uint32_t{b[12]} << 24) | (std::uint32_t{b[13]} << 16) | (b[14] << 8) | b[15];
  if (zeros(0, 12)) return true;                                   // ::, ::1, ::a.b.c.d
  if (zeros(0, 10) && b[10] == 0xFF && b[11] == 0xFF) return true;  // ::ffff:a.b.c.d
  if (b[0] == 0x00 && b[1] == 0x64 && b[2] == 0xFF && b[3] == 0x9B && zeros(4, 12)) return isLocalIpv4(embedded);
  return (b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0x80) == 0x80) || b[0] == 0xFF;
}

// A package file name the stub can take as it is: letters, digits, '.', '_' and '-', ending in
// ".zip", and no device name of Windows ("con.zip" opens the console there).
bool isPlainZipName(const std::string& name) {
  if (name.size() < 5 || name.size() > 128 || lower(name.substr(name.size() - 4)) != ".zip") return false;
  if (!std::all_of(name.begin(), name.end(),
                   [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '_' || c == '-'; })) {
    return false;
  }
  const std::string base = lower(name.substr(0, name.find('.')));
  static const char* const kDevices[] = {"con", "prn", "aux", "nul"};
  if (std::find_if(std::begin(kDevices), std::end(kDevices), [&](const char* d) { return base == d; }) != std::end(kDevices)) {
    return false;
  }
  return !((base.rfind("com", 0) == 0 || base.rfind("lpt", 0) == 0) && base.size() == 4 && std::isdigit(static_cast<unsigned char>(base[3])));
}

bool isValidHostName(const std::string& host) {
  return !host.empty() && host.size() <= 253 &&
         std::all_of(host.begin(), host.end(), [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '.'; });
}

}  // namespace

const char kDefaultChannel[] = "web";

const std::vector<std::string>& settingNames() {
  static const std::vector<std::string> names = {"REPORT_HOST", "PACKAGE_URL",    "THANK_YOU_URL", "CHANNEL",
                                                 "PACKAGE_SHA256", "PACKAGE_SIGNER", "PACKAGE_SIGNER_KEY",
                                                 "PACKAGE_MANIFEST_KEY", "PACKAGE_VERSION_FLOOR", "TIMESTAMP_URL",
                                                 "OFFLINE_URL"};
  return names;
}

bool isLocalHost(const std::string& rawHost) {
  std::string host = lower(rawHost);
  while (!host.empty() && host.back() == '.') host.pop_back();
  if (host == "localhost" || (host.size() > 10 && host.compare(host.size() - 10, 10, ".localhost") == 0)) return true;
  if (host.find(':') != std::string::npos) return isLocalIpv6(host);
  std::uint32_t v4 = 0;
  if (parseIpv4(host, &v4)) return isLocalIpv4(v4);
  // A single label names a machine on the local network.
  return host.find('.') == std::string::npos;
}

SettingsCheck checkSettings(const Settings& settings, bool testBuild) {
  SettingsCheck check;
  for (const auto& [name, value] : settings) {
    if (std::find(settingNames().begin(), settingNames().end(), name) == settingNames().end()) {
      check.problems.push_back(name + ": not a release setting");
    }
  }
  for (const char* name : {"REPORT_HOST", "PACKAGE_URL"}) {
    if (valueOf(settings, name).empty()) check.missing.push_back(name);
  }
  if (valueOf(settings, "THANK_YOU_URL").empty()) {
    check.warnings.push_back("no THANK_YOU_URL: no page opens after a completed installation");
  }
  const std::string sha256 = valueOf(settings, "PACKAGE_SHA256");
  const std::string signer = valueOf(settings, "PACKAGE_SIGNER");
  const std::string manifestKey = valueOf(settings, "PACKAGE_MANIFEST_KEY");
  const std::string floor = valueOf(settings, "PACKAGE_VERSION_FLOOR");
  if (testBuild) {
    if (sha256.empty() && signer.empty() && manifestKey.empty()) {
      check.missing.push_back("PACKAGE_SHA256, PACKAGE_MANIFEST_KEY or PACKAGE_SIGNER");
    }
  } else if (sha256.empty() && manifestKey.empty()) {
    // The signer pin checks setup.exe alone: whoever serves the package could swap everything else
    // in it (the MSI, a DLL beside setup.exe) and it would run as administrator.
    check.missing.push_back(signer.empty() ? "PACKAGE_SHA256 or PACKAGE_MANIFEST_KEY"
                                           : "PACKAGE_SHA256 or PACKAGE_MANIFEST_KEY (PACKAGE_SIGNER alone verifies "
                                             "only setup.exe, not the rest of the package)");
  }
  if (!testBuild && !manifestKey.empty() && floor.empty()) {
    check.missing.push_back("PACKAGE_VERSION_FLOOR (with PACKAGE_MANIFEST_KEY: the oldest product version the stub "
                            "may install)");
  }
  if (!manifestKey.empty() &&
      !downloadmanagercore::parseHexDigest(std::u16string(manifestKey.begin(), manifestKey.end()))) {
    check.problems.push_back("PACKAGE_MANIFEST_KEY: not 64 hexadecimal digits: " + manifestKey);
  }
  if (!floor.empty() && manifestKey.empty()) {
    check.problems.push_back("PACKAGE_VERSION_FLOOR: only with PACKAGE_MANIFEST_KEY");
  } else if (!floor.empty() && !downloadmanagercore::parseProductVersion(floor)) {
    check.problems.push_back("PACKAGE_VERSION_FLOOR: not a.b.c.d (0 to 65535 each): " + floor);
  }
  const std::string signerKey = valueOf(settings, "PACKAGE_SIGNER_KEY");
  if (!testBuild && !signer.empty() && signerKey.empty()) {
    // Anyone can make a certificate of any name, and under Wine the chain is never checked.
    check.missing.push_back("PACKAGE_SIGNER_KEY (PACKAGE_SIGNER is a name any certificate can carry: pin the "
                            "signer's key too)");
  }
  if (!signerKey.empty() && !downloadmanagercore::parseHexDigest(std::u16string(signerKey.begin(), signerKey.end()))) {
    check.problems.push_back("PACKAGE_SIGNER_KEY: not 64 hexadecimal digits: " + signerKey);
  }

  const std::string reportHost = valueOf(settings, "REPORT_HOST");
  if (!reportHost.empty() && !isValidHostName(reportHost)) {
    check.problems.push_back("REPORT_HOST: a host name only (no scheme, port or path): " + reportHost);
  }
  Url url;
  const std::vector<std::string> packageUrls = packageUrlsOf(settings);
  if (packageUrls.size() > kMaxPackageUrls) {
    check.problems.push_back("PACKAGE_URL: at most " + std::to_string(kMaxPackageUrls) + " URLs, separated by blanks: " +
                             valueOf(settings, "PACKAGE_URL"));
  }
  for (const std::string& packageUrl : packageUrls) {
    if (!isHttpUrl(packageUrl, &url)) {
      check.problems.push_back("PACKAGE_URL: not an http(s) URL: " + packageUrl);
    } else {
      if (!testBuild && url.scheme != "https") check.problems.push_back("PACKAGE_URL: https only: " + packageUrl);
      if (!testBuild && isLocalHost(url.host)) {
        check.problems.push_back("PACKAGE_URL: a loopback or private host cannot serve a release: " + packageUrl);
      }
      // The stub names the package file after the URL's last segment.
      const std::size_t lastSlash = url.path.rfind('/');
      if (lastSlash == std::string::npos || lastSlash + 1 == url.path.size() ||
          url.path.find_first_of("?#") != std::string::npos) {
        check.problems.push_back("PACKAGE_URL: must end in the package's file name, without a query: " + packageUrl);
      } else if (!testBuild && !isPlainZipName(url.path.substr(lastSlash + 1))) {
        check.problems.push_back(
            "PACKAGE_URL: the file name must be a plain .zip name (letters, digits, '.', '_', '-'; no device "
            "name): " + packageUrl);
      }
    }
  }
  // Pages the stub opens in the user's browser: the thank-you page after a completed installation,
  // and the full installer offered when the download fails.
  for (const char* name : {"THANK_YOU_URL", "OFFLINE_URL"}) {
    const std::string pageUrl = valueOf(settings, name);
    if (!pageUrl.empty() && !isHttpUrl(pageUrl, &url)) {
      check.problems.push_back(std::string(name) + ": not an http(s) URL: " + pageUrl);
    } else if (!pageUrl.empty() && !testBuild && url.scheme != "https") {
      check.problems.push_back(std::string(name) + ": https only: " + pageUrl);
    }
  }
  const std::string channel = valueOf(settings, "CHANNEL");
  if (!channel.empty() && (channel.size() > 64 || !std::all_of(channel.begin(), channel.end(), [](unsigned char c) {
                             return std::isalnum(c) || c == '-' || c == '_' || c == '.';
                           }))) {
    check.problems.push_back("CHANNEL: letters, digits, '-', '_' and '.' only (at most 64): " + channel);
  }
  if (!sha256.empty() && !downloadmanagercore::parseHexDigest(std::u16string(sha256.begin(), sha256.end()))) {
    check.problems.push_back("PACKAGE_SHA256: not 64 hexadecimal digits: " + sha256);
  }
  std::u16string signerName;
  if (!signer.empty() &&
      (!payload::decodeUtf8(signer, signerName) || signerName.size() > payload::kTrustSlotSignerUnits)) {
    check.problems.push_back("PACKAGE_SIGNER: UTF-8 of at most 128 UTF-16 units: " + signer);
  }
  const std::string timestampUrl = valueOf(settings, "TIMESTAMP_URL");
  if (timestampUrl.empty()) {
    if (!testBuild) {
      check.warnings.push_back(
          "no TIMESTAMP_URL: the signature carries no time stamp, and Windows stops trusting it when the "
          "certificate expires (time-stamp it in a later step of your own)");
    }
  } else if (!isHttpUrl(timestampUrl, &url)) {
    check.problems.push_back("TIMESTAMP_URL: not an http(s) URL: " + timestampUrl);
  }
  return check;
}

std::vector<std::string> packageUrlsOf(const Settings& settings) {
  std::vector<std::string> urls;
  const std::string value = valueOf(settings, "PACKAGE_URL");
  std::size_t start = 0;
  while ((start = value.find_first_not_of(" \t", start)) != std::string::npos) {
    const std::size_t end = std::min(value.find_first_of(" \t", start), value.size());
    urls.push_back(value.substr(start, end - start));
    start = end;
  }
  return urls;
}

std::string stubParamsScript(const Settings& settings) {
  const std::string channel = valueOf(settings, "CHANNEL");
  const auto quoted = [](const std::string& utf8) {
    std::u16string text;
    payload::decodeUtf8(utf8, text);
    std::string out = "\"";
    for (const char16_t unit : text) {
      if (unit == u'"' || unit == u'\\') {
        out += '\\';
        out += static_cast<char>(unit);
      } else if (unit >= 0x20 && unit < 0x7F && unit != u'<' && unit != u'>') {
        out += static_cast<char>(unit);
      } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
        out += escaped;
      }
    }
    return out + "\"";
  };
  const std::vector<std::string> urls = packageUrlsOf(settings);
  std::string list;
  for (const std::string& url : urls) list += (list.empty() ? "" : ", ") + quoted(url);
  return "var stubParams = {\"packageUrl\": " + quoted(urls.empty() ? std::string() : urls[0]) +
         ", \"packageUrls\": [" + list + "]" +
         ", \"channel\": " + quoted(channel.empty() ? kDefaultChannel : channel) +
         ", \"shortcutName\": \"Sorvane Pro Setup.lnk\", \"thankYouUrl\": " +
         quoted(valueOf(settings, "THANK_YOU_URL")) + ", \"offlineUrl\": " + quoted(valueOf(settings, "OFFLINE_URL")) +
         "};\n";
}

}  // namespace release
