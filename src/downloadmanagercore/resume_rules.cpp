// How a retry continues a package that broke off.
#include "downloadmanagercore/resume_rules.h"

namespace downloadmanagercore {

namespace {

char16_t asciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r'; }

bool equalsIgnoringCase(const std::u16string& text, std::size_t at, const std::u16string& lower) {
  if (text.size() - at < lower.size()) return false;
  for (std::size_t i = 0; i < lower.size(); ++i) {
    if (asciiLower(text[at + i]) != lower[i]) return false;
  }
  return true;
}

// A decimal number of at most 18 digits at `at`, which moves past it; nothing when there is none.
std::optional<std::uint64_t> readNumber(const std::u16string& text, std::size_t& at) {
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at, ++digits) {
    if (digits == 18) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(text[at] - u'0');
  }
  if (digits == 0) return std::nullopt;
  return value;
}

std::u16string decimal(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::optional<std::u16string> headerValue(const std::u16string& headers, const std::u16string& lowerName) {
  for (std::size_t start = 0; start < headers.size();) {
    std::size_t end = headers.find(u'\n', start);
    if (end == std::u16string::npos) end = headers.size();
    const std::size_t lineStart = start;
    start = end + 1;
    if (end - lineStart <= lowerName.size() || headers[lineStart + lowerName.size()] != u':' ||
        !equalsIgnoringCase(headers, lineStart, lowerName)) {
      continue;
    }
    std::size_t first = lineStart + lowerName.size() + 1;
    while (first < end && isBlank(headers[first])) ++first;
    std::size_t last = end;
    while (last > first && isBlank(headers[last - 1])) --last;
    return headers.substr(first, last - first);
  }
  return std::nullopt;
}

std::u16string resumeValidator(const std::u16string& headers) {
  if (const auto etag = headerValue(headers, u"etag")) {
    // A strong one is a quoted string; "W/" marks a weak one, and anything unquoted is not one.
    const bool strong = etag->size() >= 2 && etag->front() == u'"' && etag->back() == u'"';
    return strong ? *etag : std::u16string();
  }
  const auto lastModified = headerValue(headers, u"last-modified");
  return lastModified ? *lastModified : std::u16string();
}

std::u16string resumeRequestHeaders(std::uint64_t offset, const std::u16string& validator) {
  return u"Range: bytes=" + decimal(offset) + u"-\r\nIf-Range: " + validator + u"\r\n";
}

std::optional<ContentRange> parseContentRange(const std::u16string& value) {
  const std::u16string kUnit = u"bytes";
  if (!equalsIgnoringCase(value, 0, kUnit)) return std::nullopt;
  std::size_t at = kUnit.size();
  if (at >= value.size() || value[at] != u' ') return std::nullopt;
  while (at < value.size() && value[at] == u' ') ++at;
  ContentRange range;
  const auto first = readNumber(value, at);
  if (!first || at >= value.size() || value[at++] != u'-') return std::nullopt;
  const auto last = readNumber(value, at);
  if (!last || *last < *first || at >= value.size() || value[at++] != u'/') return std::nullopt;
  range.first = *first;
  range.last = *last;
  if (at + 1 == value.size() && value[at] == u'*') return range;
  const auto total = readNumber(value, at);
  if (!total || at != value.size() || *total <= *last) return std::nullopt;
  range.total = static_cast<std::int64_t>(*total);
  return range;
}

bool continuesPackage(std::uint32_t status, const std::u16string& headers, std::uint64_t offset,
                      std::int64_t knownTotal, std::int64_t* total) {
  if (status != kHttpStatusPartialContent) return false;
  const auto value = headerValue(headers, u"content-range");
  const auto range = value ? parseContentRange(*value) : std::nullopt;
  // The rest of the package, and all of it: a range that ends early would leave a hole that no
  // later check could tell from the package's own bytes.
  if (!range || range->first != offset || range->total < 0 ||
      range->last + 1 != static_cast<std::uint64_t>(range->total)) {
    return false;
  }
  if (knownTotal >= 0 && range->total != knownTotal) return false;
  *total = range->total;
  return true;
}

}  // namespace downloadmanagercore
