#include "downloadmanagercore/package_answer.h"

#include <optional>

#include "downloadmanagercore/resume_rules.h"

namespace downloadmanagercore {

bool announcesWebPage(const std::u16string& headers) {
  const std::optional<std::u16string> value = headerValue(headers, u"content-type");
  if (!value) return false;
  // The media type alone, in lower case: "Text/HTML; charset=utf-8" is text/html.
  std::u16string type;
  for (const char16_t c : *value) {
    if (c == u';') break;
    if (c == u' ' || c == u'\t') continue;
    type += (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
  }
  return type == u"text/html" || type == u"application/xhtml+xml";
}

PackageStart judgePackageStart(const unsigned char* bytes, std::size_t count) {
  static const unsigned char kLocalHeader[] = {'P', 'K', 3, 4};
  for (std::size_t i = 0; i < count && i < sizeof kLocalHeader; ++i) {
    if (bytes[i] != kLocalHeader[i]) return PackageStart::kNotZip;
  }
  return count >= sizeof kLocalHeader ? PackageStart::kZip : PackageStart::kUnknown;
}

}  // namespace downloadmanagercore
