// libFuzzer target: the fuzz input is unprotected machine-id file content, also taken as an
// address to spread over the GUID pattern and as an adapter's path and description.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "telemetry/machine_id_rules.h"

namespace {

bool isAsciiLetterOrDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = telemetry::machineIdFromBytes(bytes);
  // Every whole unit is kept and an odd last byte dropped: the bytes come back without it.
  if (text.size() != size / 2 || telemetry::machineIdBytes(text) != bytes.substr(0, size & ~std::size_t{1})) {
    std::abort();
  }
  // An accepted id goes into a report's URL as it is: letters, digits and dashes only.
  if (telemetry::isAcceptedStoredId(text)) {
    if (text.size() != telemetry::kMachineIdLength) std::abort();
    for (const char16_t c : text) {
      if (c != u'-' && !isAsciiLetterOrDigit(c)) std::abort();
    }
  }

  std::u16string pattern = text;
  if (telemetry::formatAsGuidPattern(pattern)) {
    if (pattern.size() != telemetry::kGuidPatternLength) std::abort();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
      if (dash ? pattern[i] != u'-' : !isAsciiLetterOrDigit(pattern[i])) std::abort();
    }
  } else if (pattern != text) {
    std::abort();  // a source that cannot fill the pattern is left alone
  }
  // Only a word that starts in the first 8 units can exclude an adapter.
  if (telemetry::isExcludedAdapterPath(text) && !telemetry::isExcludedAdapterPath(text.substr(0, 11))) std::abort();
  if (telemetry::isExcludedAdapterDescription(text) && !telemetry::isExcludedAdapterDescription(text.substr(0, 16))) {
    std::abort();
  }
  return 0;
}
