#include "downloadmanagercore/proxy_sign_in.h"

#include <cstddef>

namespace downloadmanagercore {
namespace {

char16_t lowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

std::u16string lowered(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (const char16_t c : text) out += lowerAscii(c);
  return out;
}

std::u16string trimmed(const std::u16string& text) {
  const std::size_t first = text.find_first_not_of(u" \t");
  if (first == std::u16string::npos) return {};
  return text.substr(first, text.find_last_not_of(u" \t") - first + 1);
}

// "host:port" or "host" (with an optional "http://" in front, which some settings carry).
std::optional<ProxyEndpoint> parseEndpoint(std::u16string text) {
  text = trimmed(text);
  const std::size_t scheme = text.find(u"://");
  if (scheme != std::u16string::npos) text.erase(0, scheme + 3);
  if (!text.empty() && text.back() == u'/') text.pop_back();
  ProxyEndpoint proxy;
  const std::size_t colon = text.rfind(u':');
  std::u16string host = colon == std::u16string::npos ? text : text.substr(0, colon);
  if (colon != std::u16string::npos) {
    const std::u16string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    std::uint32_t port = 0;
    for (const char16_t c : digits) {
      if (c < u'0' || c > u'9') return std::nullopt;
      port = port * 10 + static_cast<std::uint32_t>(c - u'0');
    }
    if (port == 0 || port > 65535) return std::nullopt;
    proxy.port = static_cast<std::uint16_t>(port);
  }
  if (host.empty()) return std::nullopt;
  for (const char16_t c : host) {
    const bool allowed = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                         c == u'.' || c == u'-' || c == u'_' || c == u'[' || c == u']' || c == u':';
    if (!allowed) return std::nullopt;
  }
  proxy.host = lowered(host);
  return proxy;
}

// Matches `host` against a pattern in which "*" stands for any run of characters.
bool matchesPattern(const std::u16string& pattern, const std::u16string& host) {
  std::size_t p = 0, h = 0, star = std::u16string::npos, resume = 0;
  while (h < host.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = h;
    } else if (p < pattern.size() && pattern[p] == host[h]) {
      ++p;
      ++h;
    } else if (star != std::u16string::npos) {
      p = star + 1;
      h = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

void appendUtf8(std::string& out, const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate is no character
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

std::u16string base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::u16string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                            (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += static_cast<char16_t>(kDigits[(v >> shift) & 0x3F]);
  }
  if (i < bytes.size()) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += static_cast<char16_t>(kDigits[(v >> 18) & 0x3F]);
    out += static_cast<char16_t>(kDigits[(v >> 12) & 0x3F]);
    out += i + 1 < bytes.size() ? static_cast<char16_t>(kDigits[(v >> 6) & 0x3F]) : u'=';
    out += u'=';
  }
  return out;
}

}  // namespace

std::u16string ProxyEndpoint::name() const {
  std::u16string out = host + u":";
  for (const char c : std::to_string(port)) out += static_cast<char16_t>(c);
  return out;
}

std::optional<ProxyEndpoint> proxyForScheme(const std::u16string& setting, const std::u16string& scheme) {
  std::optional<ProxyEndpoint> plain;
  std::size_t start = 0;
  while (start <= setting.size()) {
    const std::size_t end = setting.find_first_of(u"; ", start);
    const std::u16string entry = setting.substr(start, end == std::u16string::npos ? end : end - start);
    start = end == std::u16string::npos ? setting.size() + 1 : end + 1;
    if (trimmed(entry).empty()) continue;
    const std::size_t equals = entry.find(u'=');
    if (equals == std::u16string::npos) {
      if (!plain) plain = parseEndpoint(entry);
      continue;
    }
    if (lowered(trimmed(entry.substr(0, equals))) == scheme) return parseEndpoint(entry.substr(equals + 1));
  }
  return plain;
}

bool bypassesProxy(const std::u16string& bypassList, const std::u16string& host) {
  const std::u16string name = lowered(host);
  std::size_t start = 0;
  while (start <= bypassList.size()) {
    const std::size_t end = bypassList.find_first_of(u"; ", start);
    const std::u16string pattern =
        lowered(trimmed(bypassList.substr(start, end == std::u16string::npos ? end : end - start)));
    start = end == std::u16string::npos ? bypassList.size() + 1 : end + 1;
    if (pattern.empty()) continue;
    if (pattern == u"<local>") {
      if (name.find(u'.') == std::u16string::npos) return true;
      continue;
    }
    if (matchesPattern(pattern, name)) return true;
  }
  return false;
}

UrlHost urlHost(const std::u16string& url) {
  const std::size_t colon = url.find(u"://");
  if (colon == std::u16string::npos || colon == 0) return {};
  std::size_t start = colon + 3;
  std::size_t end = url.find_first_of(u"/?#", start);
  std::u16string authority = url.substr(start, end == std::u16string::npos ? end : end - start);
  const std::size_t at = authority.rfind(u'@');
  if (at != std::u16string::npos) authority.erase(0, at + 1);
  std::u16string host = authority;
  if (!host.empty() && host[0] == u'[') {
    const std::size_t close = host.find(u']');
    host = close == std::u16string::npos ? std::u16string() : host.substr(0, close + 1);
  } else {
    host = host.substr(0, host.find(u':'));
  }
  if (host.empty()) return {};
  return {lowered(url.substr(0, colon)), lowered(host)};
}

bool offersBasicProxySignIn(const std::u16string& headers) {
  static const std::u16string kName = u"proxy-authenticate:";
  std::size_t start = 0;
  while (start < headers.size()) {
    std::size_t end = headers.find(u'\n', start);
    if (end == std::u16string::npos) end = headers.size();
    std::u16string line = headers.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    if (line.size() < kName.size() || lowered(line.substr(0, kName.size())) != kName) continue;
    const std::u16string value = lowered(trimmed(line.substr(kName.size())));
    if (value == u"basic" || value.compare(0, 6, u"basic ") == 0) return true;
  }
  return false;
}

std::u16string basicProxyAuthorization(const std::u16string& user, const std::u16string& password) {
  std::string pair;
  appendUtf8(pair, user);
  pair += ':';
  appendUtf8(pair, password);
  std::u16string header = u"Proxy-Authorization: Basic " + base64(pair) + u"\r\n";
  // The plain pair is a copy of the password: not left behind in freed memory.
  for (char& c : pair) *static_cast<volatile char*>(&c) = 0;
  return header;
}

std::vector<std::u16string> proxyCredentialTargets(const ProxyEndpoint& proxy) {
  return {proxy.name(), proxy.host};
}

}  // namespace downloadmanagercore
