#include "zip/item_name.h"

#include <vector>

namespace zip {

namespace {

bool isOnlyDotsAndSpaces(const std::u16string& segment) {
  return segment.find_first_not_of(u". ") == std::u16string::npos;
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
    if (isOnlyDotsAndSpaces(segment)) return std::nullopt;
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
