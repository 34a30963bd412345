#include "zip/item_name.h"

#include <vector>

namespace zip {

namespace {

bool isOnlyDotsAndSpaces(const std::u16string& segment) {
  return segment.find_first_not_of(u". ") == std::u16string::npos;
}

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

// Whether Windows opens a device for this segment in any folder: a reserved device name, alone or
// before an extension, in any case, with trailing spaces ignored ("nul", "Com1.txt", "aux .c").
bool namesADevice(const std::u16string& segment) {
  std::u16string base = segment.substr(0, segment.find(u'.'));
  base.erase(base.find_last_not_of(u' ') + 1);
  for (char16_t& c : base) c = upper(c);
  static const std::u16string kDevices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$", u"CLOCK$"};
  for (const std::u16string& device : kDevices) {
    if (base == device) return true;
  }
  // COM1-COM9 and LPT1-LPT9, also with the superscript digits 1, 2 and 3.
  if (base.size() != 4 || (base.compare(0, 3, u"COM") != 0 && base.compare(0, 3, u"LPT") != 0)) return false;
  const char16_t digit = base[3];
  return (digit >= u'1' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3';
}

}  // namespace

std::optional<std::u16string> containedItemPath(const std::u16string& nameWithBackslashes) {
  const std::u16string& name = nameWithBackslashes;
  if (!name.empty() && name.front() == u'\\') return std::nullopt;
  if (name.find(u':') != std::u16string::npos) return std::nullopt;

  std::vector<std::u16string> segments;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find(u'\\', start);
    if (end == std::u16string::npos) end = name.size();
    std::u16string segment = name.substr(start, end - start);
    start = end + 1;
    if (segment.empty() || segment == u".") continue;
    if (segment == u"..") {
      if (segments.empty()) return std::nullopt;
      segments.pop_back();
      continue;
    }
    if (isOnlyDotsAndSpaces(segment) || namesADevice(segment)) return std::nullopt;
    segments.push_back(std::move(segment));
  }

  std::u16string path;
  for (const std::u16string& segment : segments) {
    if (!path.empty()) path += u'\\';
    path += segment;
  }
  return path;
}

}  // namespace zip
