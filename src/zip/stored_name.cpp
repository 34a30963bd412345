#include "zip/stored_name.h"

#include <algorithm>

#include "miniz.h"
#include "sysenv/little_endian.h"
#include "sysenv/utf8_text.h"

namespace zip {

namespace {

constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr std::uint16_t kUtf8NameFlag = 1u << 11;
constexpr std::uint16_t kUnicodePathTag = 0x7075;
constexpr unsigned char kUnicodePathVersion = 1;

std::uint16_t little16(const std::string& bytes, std::size_t at) {
  return sysenv::readLittleEndian<std::uint16_t>(bytes.data(), at);
}

std::uint32_t little32(const std::string& bytes, std::size_t at) {
  return sysenv::readLittleEndian<std::uint32_t>(bytes.data(), at);
}

}  // namespace

bool parseCentralHeader(const std::string& bytes, CentralHeaderFields& fields) {
  if (bytes.size() < kCentralHeaderSize || little32(bytes, 0) != kCentralHeaderSignature) return false;
  fields.host = static_cast<std::uint8_t>(bytes[5]);
  fields.flags = little16(bytes, 8);
  fields.nameLength = little16(bytes, 28);
  fields.extraLength = little16(bytes, 30);
  return true;
}

std::optional<std::string> unicodePathName(const std::string& extraField, const std::string& rawName) {
  std::size_t at = 0;
  while (extraField.size() - at >= 4) {
    const std::uint16_t tag = little16(extraField, at);
    const std::size_t size = little16(extraField, at + 2);
    at += 4;
    if (size > extraField.size() - at) return std::nullopt;
    if (tag == kUnicodePathTag) {
      // version (1 byte), CRC-32 of the raw name (4 bytes), then the UTF-8 name to the record's end
      if (size < 5 || static_cast<unsigned char>(extraField[at]) != kUnicodePathVersion) return std::nullopt;
      const auto crc = static_cast<std::uint32_t>(
          mz_crc32(MZ_CRC32_INIT, reinterpret_cast<const unsigned char*>(rawName.data()), rawName.size()));
      if (little32(extraField, at + 1) != crc || size == 5) return std::nullopt;
      return extraField.substr(at + 5, size - 5);
    }
    at += size;
  }
  return std::nullopt;
}

StoredName chooseStoredName(const CentralHeaderFields& fields, const std::string& rawName,
                            const std::string& extraField) {
  if (fields.flags & kUtf8NameFlag) return {true, rawName};
  if (std::optional<std::string> unicode = unicodePathName(extraField, rawName)) return {true, std::move(*unicode)};
  const bool ascii = std::all_of(rawName.begin(), rawName.end(), [](char c) { return (c & 0x80) == 0; });
  std::u16string decoded;
  if (fields.host == kHostUnix && !ascii && sysenv::decodeUtf8(rawName, decoded)) return {true, rawName};
  return {false, rawName};
}

std::optional<std::u16string> decodeUtf8ItemName(const std::string& bytes) {
  std::u16string name;
  if (!sysenv::decodeUtf8(bytes, name) || name.find(u'\0') != std::u16string::npos) return std::nullopt;
  return name;
}

}  // namespace zip
