#include "zip/stored_name.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "miniz.h"

namespace {

std::string little16(std::uint16_t value) {
  return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

std::string little32(std::uint32_t value) { return little16(value & 0xFFFF) + little16(value >> 16); }

std::uint32_t crcOf(const std::string& bytes) {
  return static_cast<std::uint32_t>(
      mz_crc32(MZ_CRC32_INIT, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

std::string record(std::uint16_t tag, const std::string& data) { return little16(tag) + little16(data.size()) + data; }

// An Info-ZIP Unicode Path record as zip writes it.
std::string unicodePath(const std::string& rawName, const std::string& utf8, char version = 1) {
  return record(0x7075, std::string(1, version) + little32(crcOf(rawName)) + utf8);
}

const std::string kRaw = "Donn\x82" "es.txt";  // "Données.txt" in code page 850, as zip stores it on DOS
const std::string kUtf8 = "Donn\xC3\xA9" "es.txt";

zip::CentralHeaderFields madeOn(std::uint8_t host, std::uint16_t flags = 0) {
  zip::CentralHeaderFields fields;
  fields.host = host;
  fields.flags = flags;
  return fields;
}

constexpr std::uint8_t kFat = 0;  // what zip on DOS and Windows writes

TEST(StoredName, TheUtf8FlagMakesTheRawNameUtf8WhateverTheExtraFieldSays) {
  const zip::StoredName name = zip::chooseStoredName(madeOn(kFat, 1u << 11), kUtf8, unicodePath(kUtf8, "other.txt"));
  EXPECT_TRUE(name.utf8);
  EXPECT_EQ(name.bytes, kUtf8);
}

TEST(StoredName, AUnicodePathFieldCountsOnlyWhenItsCrcMatchesTheRawName) {
  const std::string timestamp = record(0x5455, std::string("\x03\x01\x02\x03\x04\x05\x06\x07\x08", 9));
  const struct {
    const char* what;
    std::string extra;
    bool utf8;
    std::string bytes;
  } cases[] = {
      {"after another record", timestamp + unicodePath(kRaw, kUtf8), true, kUtf8},
      {"the first of two counts", unicodePath(kRaw, kUtf8) + unicodePath(kRaw, "second.txt"), true, kUtf8},
      {"stale: the raw name was renamed since", unicodePath("old.txt", kUtf8), false, kRaw},
      {"another version", unicodePath(kRaw, kUtf8, 2), false, kRaw},
      {"an empty name", unicodePath(kRaw, ""), false, kRaw},
      {"too short for its CRC", record(0x7075, std::string("\x01\x02\x03", 3)), false, kRaw},
      {"a record running past the end", timestamp.substr(0, timestamp.size() - 1) + unicodePath(kRaw, kUtf8), false,
       kRaw},
      {"no extra field", "", false, kRaw},
      {"a stray byte", "\x75", false, kRaw},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const zip::StoredName name = zip::chooseStoredName(madeOn(kFat), kRaw, c.extra);
    EXPECT_EQ(name.utf8, c.utf8);
    EXPECT_EQ(name.bytes, c.bytes);
  }
}

TEST(StoredName, AnUnmarkedNameWrittenOnUnixIsUtf8OnlyWhenItIsUtf8AndNotAscii) {
  const struct {
    std::uint8_t host;
    std::string raw;
    bool utf8;
  } cases[] = {
      {zip::kHostUnix, kUtf8, true},         // Info-ZIP zip 3.0 on Linux
      {zip::kHostUnix, "Donn\xE9" "es.txt", false},  // Latin-1 from an older system
      {zip::kHostUnix, "setup.exe", false},  // the same either way
      {kFat, kUtf8, false},                  // from Windows: the code page of the machine that wrote it
  };
  for (const auto& c : cases) {
    const zip::StoredName name = zip::chooseStoredName(madeOn(c.host), c.raw, "");
    EXPECT_EQ(name.utf8, c.utf8) << c.raw;
    EXPECT_EQ(name.bytes, c.raw);
  }
}

TEST(StoredName, Utf8NamesDecodeStrictlyAndRefuseWhatIsNotUtf8) {
  EXPECT_EQ(zip::decodeUtf8ItemName(kUtf8), std::u16string(u"Donn\u00E9es.txt"));
  EXPECT_EQ(zip::decodeUtf8ItemName("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xF0\x9F\x93\x84.txt"),
            std::u16string(u"\u65E5\u672C\u8A9E/\U0001F4C4.txt"));
  const std::string refused[] = {
      kRaw,                        // code page 850, not UTF-8
      "a\xC3",                     // cut inside a character
      "\xC0\xAF..\xC0\xAF" "x",    // overlong "/": must never become a separator
      "\xED\xA0\x80.txt",          // an encoded surrogate
      std::string("evil.exe\0.txt", 13),
  };
  for (const std::string& bytes : refused) EXPECT_FALSE(zip::decodeUtf8ItemName(bytes).has_value()) << bytes;
}

TEST(StoredName, CentralHeaderGivesFlagsAndLengths) {
  std::string header = little32(0x02014B50) + little16(0x031E) + std::string(2, '\0') + little16(0x0808) + std::string(18, '\0') +
                       little16(11) + little16(300) + std::string(14, '\0');
  ASSERT_EQ(header.size(), zip::kCentralHeaderSize);
  zip::CentralHeaderFields fields;
  ASSERT_TRUE(zip::parseCentralHeader(header, fields));
  EXPECT_EQ(fields.host, zip::kHostUnix);
  EXPECT_EQ(fields.flags, 0x0808);
  EXPECT_EQ(fields.nameLength, 11);
  EXPECT_EQ(fields.extraLength, 300);

  EXPECT_FALSE(zip::parseCentralHeader(header.substr(0, 45), fields));
  header[0] = 'Q';
  EXPECT_FALSE(zip::parseCentralHeader(header, fields));
}

}  // namespace
