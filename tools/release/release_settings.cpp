// Plain code.
#include "release/release_settings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

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

// Dotted IPv4 with four decimal parts; false otherwise.
bool parseIpv4(const std::string& host, unsigned parts[4]) {
  int count = 0;
  std::size_t start = 0;
  while (count < 4) {
    const std::size_t end = std::min(host.find('.', start), host.size());
    const std::string part = host.substr(start, end - start);
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), ::isdigit)) return false;
    parts[count++] = static_cast<unsigned>(std::atoi(part.c_str()));
    if (parts[count - 1] > 255) return false;
    if (end == host.size()) break;
    start = end + 1;
  }
  return count == 4 && host.find('.', start) == std::string::npos;
}

bool isValidHostName(const std::string& host) {
  return !host.empty() && host.size() <= 253 &&
         std::all_of(host.begin(), host.end(), [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '.'; });
}

}  // namespace

const char kDefaultChannel[] = "web";

const std::vector<std::string>& settingNames() {
  static const std::vector<std::string> names = {"REPORT_HOST", "PACKAGE_URL",    "THANK_YOU_URL", "CHANNEL",
                                                 "PACKAGE_SHA256", "PACKAGE_SIGNER", "TIMESTAMP_URL"};
  return names;
}

bool isLocalHost(const std::string& rawHost) {
  std::string host = lower(rawHost);
  while (!host.empty() && host.back() == '.') host.pop_back();
  if (host == "localhost" || (host.size() > 10 && host.compare(host.size() - 10, 10, ".localhost") == 0)) return true;
  unsigned v4[4];
  if (parseIpv4(host, v4)) {
    return v4[0] == 0 || v4[0] == 127 || v4[0] == 10 || (v4[0] == 172 && (v4[1] & 0xF0) == 16) ||
           (v4[0] == 192 && v4[1] == 168) || (v4[0] == 169 && v4[1] == 254) ||
           (v4[0] == 100 && (v4[1] & 0xC0) == 64);  // carrier-grade NAT
  }
  if (host.find(':') != std::string::npos) {
    // IPv6 literals: loopback, unspecified, unique local (fc00::/7), link-local (fe80::/10), and
    // IPv4-mapped addresses, which reach whatever the embedded address reaches.
    if (host == "::1" || host == "::" || host.rfind("::ffff:", 0) == 0) return true;
    const std::string first = host.substr(0, host.find(':'));
    if (first.size() == 4 && (first.rfind("fc", 0) == 0 || first.rfind("fd", 0) == 0)) return true;
    if (first.size() == 4 && first.rfind("fe", 0) == 0 && (first[2] == '8' || first[2] == '9' || first[2] == 'a' ||
                                                           first[2] == 'b')) {
      return true;
    }
    return false;
  }
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
  if (sha256.empty() && signer.empty()) check.missing.push_back("PACKAGE_SHA256 or PACKAGE_SIGNER");

  const std::string reportHost = valueOf(settings, "REPORT_HOST");
  if (!reportHost.empty() && !isValidHostName(reportHost)) {
    check.problems.push_back("REPORT_HOST: a host name only (no scheme, port or path): " + reportHost);
  }
  const std::string packageUrl = valueOf(settings, "PACKAGE_URL");
  Url url;
  if (!packageUrl.empty()) {
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
      }
    }
  }
  const std::string thankYouUrl = valueOf(settings, "THANK_YOU_URL");
  if (!thankYouUrl.empty() && !isHttpUrl(thankYouUrl, &url)) {
    check.problems.push_back("THANK_YOU_URL: not an http(s) URL: " + thankYouUrl);
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
  return "var stubParams = {\"packageUrl\": " + quoted(valueOf(settings, "PACKAGE_URL")) +
         ", \"channel\": " + quoted(channel.empty() ? kDefaultChannel : channel) +
         ", \"shortcutName\": \"Sorvane Pro Setup.lnk\", \"thankYouUrl\": " +
         quoted(valueOf(settings, "THANK_YOU_URL")) + "};\n";
}

}  // namespace release
