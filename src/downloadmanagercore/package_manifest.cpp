#include "downloadmanagercore/package_manifest.h"

#include <cstdio>
#include <iterator>
#include <vector>

namespace downloadmanagercore {

namespace {

constexpr char kFirstLine[] = "sorvane-package-manifest 1";

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal digits only, at most `maxDigits`, no sign or space.
std::optional<std::uint64_t> parseNumber(const std::string& text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!isDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// Days since 1970-01-01 of a civil date (Howard Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = y / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

unsigned daysInMonth(std::int64_t y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

std::u16string widen(const std::string& text) {
  std::u16string wide;
  for (const char c : text) wide.push_back(static_cast<unsigned char>(c));
  return wide;
}

// Printable ASCII only in a log line; anything else as '?'.
std::u16string shown(const std::string& text) {
  std::string plain;
  for (const char c : text) plain.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  return widen(plain);
}

bool isPlainFileName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name == "." || name == "..") return false;
  for (const char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

}  // namespace

std::optional<ProductVersion> parseProductVersion(const std::string& text) {
  ProductVersion version{};
  std::size_t part = 0;
  std::size_t start = 0;
  for (;;) {
    if (part == version.size()) return std::nullopt;
    const std::size_t dot = text.find('.', start);
    const auto number = parseNumber(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start), 5);
    if (!number || *number > 0xFFFF) return std::nullopt;
    version[part++] = static_cast<std::uint16_t>(*number);
    if (dot == std::string::npos) return version;
    start = dot + 1;
  }
}

std::string productVersionText(const ProductVersion& version) {
  return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." + std::to_string(version[2]) + "." +
         std::to_string(version[3]);
}

std::optional<std::int64_t> parseUtcTime(const std::string& text) {
  if (text.size() != 10 && text.size() != 20) return std::nullopt;
  const auto at = [&text](std::size_t offset, std::size_t length) { return parseNumber(text.substr(offset, length), length); };
  if (text[4] != '-' || text[7] != '-') return std::nullopt;
  const auto year = at(0, 4);
  const auto month = at(5, 2);
  const auto day = at(8, 2);
  if (!year || !month || !day || *year < 1970 || *month < 1 || *month > 12 || *day < 1 ||
      *day > daysInMonth(static_cast<std::int64_t>(*year), static_cast<unsigned>(*month))) {
    return std::nullopt;
  }
  std::uint64_t hour = 0, minute = 0, second = 0;
  if (text.size() == 20) {
    if (text[10] != 'T' || text[13] != ':' || text[16] != ':' || text[19] != 'Z') return std::nullopt;
    const auto h = at(11, 2);
    const auto m = at(14, 2);
    const auto s = at(17, 2);
    if (!h || !m || !s || *h > 23 || *m > 59 || *s > 59) return std::nullopt;
    hour = *h;
    minute = *m;
    second = *s;
  }
  const std::int64_t days =
      daysFromCivil(static_cast<std::int64_t>(*year), static_cast<unsigned>(*month), static_cast<unsigned>(*day));
  return days * 86400 + static_cast<std::int64_t>(hour * 3600 + minute * 60 + second);
}

std::string utcTimeText(std::int64_t seconds) {
  // The inverse of daysFromCivil.
  const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const std::int64_t inDay = seconds - days * 86400;
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<long long>(y), m, d,
                static_cast<long long>(inDay / 3600), static_cast<long long>(inDay / 60 % 60),
                static_cast<long long>(inDay % 60));
  return text;
}

std::string formatPackageManifest(const PackageManifest& manifest) {
  const std::u16string hex = hexDigest(manifest.sha256);
  return std::string(kFirstLine) + "\nfile " + manifest.file + "\nsize " + std::to_string(manifest.size) +
         "\nsha256 " + std::string(hex.begin(), hex.end()) + "\nversion " + productVersionText(manifest.version) +
         "\nexpires " + utcTimeText(manifest.expires) + "\n";
}

std::optional<PackageManifest> parsePackageManifest(const std::string& text, std::string* error) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      *error = "the last line does not end";
      return std::nullopt;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  static const char* const kKeys[] = {"file", "size", "sha256", "version", "expires"};
  if (lines.size() != 1 + std::size(kKeys) || lines[0] != kFirstLine) {
    *error = "not a manifest of this format";
    return std::nullopt;
  }
  std::string values[std::size(kKeys)];
  for (std::size_t i = 0; i < std::size(kKeys); ++i) {
    const std::string prefix = std::string(kKeys[i]) + " ";
    if (lines[i + 1].compare(0, prefix.size(), prefix) != 0) {
      *error = "line " + std::to_string(i + 2) + " is not \"" + kKeys[i] + "\"";
      return std::nullopt;
    }
    values[i] = lines[i + 1].substr(prefix.size());
  }
  PackageManifest manifest;
  manifest.file = values[0];
  const auto size = parseNumber(values[1], 10);
  const auto digest = parseHexDigest(widen(values[2]));
  const auto version = parseProductVersion(values[3]);
  const auto expires = parseUtcTime(values[4]);
  if (!isPlainFileName(manifest.file)) *error = "the file is not a plain file name";
  else if (!size || *size == 0 || *size > 0xFFFFFFFFull) *error = "the size is not a number of 1 to 4 GiB - 1";
  else if (!digest) *error = "the sha256 is not 64 hexadecimal digits";
  else if (!version) *error = "the version is not a.b.c.d";
  else if (!expires || values[4].size() != 20) *error = "expires is not YYYY-MM-DDTHH:MM:SSZ";
  else {
    manifest.size = *size;
    manifest.sha256 = *digest;
    manifest.version = *version;
    manifest.expires = *expires;
    return manifest;
  }
  return std::nullopt;
}

std::u16string manifestSignatureLine(std::uint32_t result) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(result));
  return u"Package manifest refused, expected a valid CMS signature, found crypt32 result 0x" + widen(hex) +
         u"; the package was not downloaded";
}

std::u16string manifestSummary(const PackageManifest& manifest) {
  return u"file " + shown(manifest.file) + u", size " + widen(std::to_string(manifest.size)) + u", SHA-256 " +
         hexDigest(manifest.sha256) + u", version " + widen(productVersionText(manifest.version)) + u", expires " +
         widen(utcTimeText(manifest.expires));
}

std::u16string packageOversizeLine(std::uint64_t size) {
  return u"Package larger than its manifest, expected " + widen(std::to_string(size)) +
         u" bytes, found more; the package was deleted";
}

std::uint32_t manifestRefusal(const ManifestPolicy& policy, const std::optional<Sha256Digest>& signerKey,
                              const std::string& text, const std::string& fileName, std::int64_t now,
                              PackageManifest* manifest, std::u16string* line) {
  const std::u16string prefix = u"Package manifest refused, expected ";
  const std::u16string suffix = u"; the package was not downloaded";
  if (!signerKey || *signerKey != policy.signerKey) {
    *line = prefix + u"signer key SHA-256 " + hexDigest(policy.signerKey) + u", found " +
            (signerKey ? hexDigest(*signerKey) : std::u16string(u"no key")) + suffix;
    return kManifestKeyMismatch;
  }
  std::string error;
  const std::optional<PackageManifest> parsed = parsePackageManifest(text, &error);
  if (!parsed) {
    *line = prefix + u"a manifest, found one that is unreadable (" + widen(error) + u")" + suffix;
    return kManifestUnreadable;
  }
  if (parsed->file != fileName) {
    *line = prefix + u"file " + shown(fileName) + u", found " + shown(parsed->file) + suffix;
    return kManifestWrongFile;
  }
  if (now >= parsed->expires) {
    *line = prefix + u"a manifest valid at " + widen(utcTimeText(now)) + u", found one that expired at " +
            widen(utcTimeText(parsed->expires)) + suffix;
    return kManifestExpired;
  }
  if (parsed->version < policy.floor) {
    *line = prefix + u"version " + widen(productVersionText(policy.floor)) + u" or later, found " +
            widen(productVersionText(parsed->version)) + suffix;
    return kManifestBelowFloor;
  }
  *manifest = *parsed;
  return 0;
}

}  // namespace downloadmanagercore
