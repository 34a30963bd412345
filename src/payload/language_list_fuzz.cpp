// libFuzzer target: the fuzz input is the bytes of "js\installparams.js".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "payload/language_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::u16string text;
  const bool valid = payload::decodeUtf8(bytes, text);
  // Never more UTF-16 units than bytes: each character takes at least as many bytes as units.
  if (valid && text.size() > size) std::abort();
  const auto list = payload::scanLanguageList(bytes);
  if (!valid && !list.empty()) std::abort();
  std::size_t total = 0;
  for (const std::u16string& item : list) {
    // A text ends at a quote and the scan ends at "]", so neither can be inside one.
    if (item.find(u'"') != std::u16string::npos || item.find(u']') != std::u16string::npos) std::abort();
    total += item.size() + 2;
  }
  if (total > text.size()) std::abort();
  return 0;
}
