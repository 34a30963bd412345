// libFuzzer target: the input is a central directory header followed by its name and extra field,
// as the extraction reads them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zip/stored_name.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  zip::CentralHeaderFields fields;
  if (!zip::parseCentralHeader(bytes, fields)) return 0;
  const std::string rest = bytes.substr(zip::kCentralHeaderSize);
  const std::string raw = rest.substr(0, fields.nameLength);
  const std::string extra = rest.substr(raw.size(), fields.extraLength);
  const zip::StoredName name = zip::chooseStoredName(fields, raw, extra);
  // The bytes are either the raw name or a part of the extra field.
  if (name.bytes != raw && extra.find(name.bytes) == std::string::npos) std::abort();
  if (!name.utf8 && name.bytes != raw) std::abort();
  if (name.utf8) {
    const auto decoded = zip::decodeUtf8ItemName(name.bytes);
    if (decoded && (decoded->size() > name.bytes.size() || decoded->find(u'\0') != std::u16string::npos)) std::abort();
  }
  return 0;
}
