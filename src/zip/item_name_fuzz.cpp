// libFuzzer target: each input byte is one UTF-16 unit of an item name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zip/item_name.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string name(data, data + size);
  const auto relative = zip::containedItemPath(name);
  if (!relative) return 0;
  // What is let through is relative, names no drive or stream, never climbs, and is already in its
  // resolved form.
  if (relative->size() > name.size()) std::abort();
  if (!relative->empty() && (relative->front() == u'\\' || relative->back() == u'\\')) std::abort();
  if (relative->find(u':') != std::u16string::npos) std::abort();
  std::size_t start = 0;
  while (!relative->empty() && start <= relative->size()) {
    std::size_t end = relative->find(u'\\', start);
    if (end == std::u16string::npos) end = relative->size();
    const std::u16string segment = relative->substr(start, end - start);
    if (segment.empty() || segment.find_first_not_of(u". ") == std::u16string::npos) std::abort();
    start = end + 1;
  }
  if (zip::containedItemPath(*relative) != relative) std::abort();
  return 0;
}
