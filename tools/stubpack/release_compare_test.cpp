#include "stubpack/release_compare.h"

#include <gtest/gtest.h>

#include "stubpack/packer.h"
#include "stubpack/synthetic_image.h"

namespace stubpack {
namespace {

using testing::makeSignedImage;
using testing::SyntheticImage;

constexpr std::size_t kSectionTable = 0x80 + 24 + 224;  // after the synthetic PE32 optional header

void addSection(SyntheticImage& image, const char* name, std::uint32_t offset, std::uint32_t size) {
  Bytes& b = image.bytes;
  const std::size_t count = readLe16(&b[0x80 + 6]);
  std::uint8_t* header = &b[kSectionTable + count * 40];
  for (std::size_t i = 0; name[i] != 0; ++i) header[i] = static_cast<std::uint8_t>(name[i]);
  writeLe32(header + 16, size);
  writeLe32(header + 20, offset);
  b[0x80 + 6] = static_cast<std::uint8_t>(count + 1);
}

// A signed PE32 image with .text at 0x200, .data at 0x300 (the table follows at 0x400) and a .bss
// without file data, packed with two payload entries.
Bytes packedRelease(const Bytes& secondEntry = Bytes(40, 0x22)) {
  SyntheticImage image = makeSignedImage(false, 300);
  addSection(image, ".data", 0x300, 0x100);
  addSection(image, ".bss", 0, 0);
  addSection(image, ".text", 0x200, 0x100);
  for (std::size_t i = 0x200; i < 0x400; ++i) image.bytes[i] = static_cast<std::uint8_t>(i * 7);
  Bytes packed;
  std::string error;
  EXPECT_TRUE(packContainer(image.bytes, {{u"a.html", Bytes(30, 0x11)}, {u"js\\b.js", secondEntry}}, &packed, &error))
      << error;
  return packed;
}

TEST(ImageParts, CoverTheFileUpToTheTableInFileOrder) {
  const Bytes packed = packedRelease();
  CertificateTable table;
  ASSERT_TRUE(locateCertificateTable(packed, &table, nullptr));
  std::vector<ImagePart> parts;
  std::string error;
  ASSERT_TRUE(imageParts(packed, table, &parts, &error)) << error;
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].name, "the PE headers");
  EXPECT_EQ(parts[0].size, 0x200u);
  EXPECT_EQ(parts[1].name, "section .text");
  EXPECT_EQ(parts[1].offset, 0x200u);
  EXPECT_EQ(parts[2].name, "section .data");
  EXPECT_EQ(parts[2].offset + parts[2].size, table.tableOffset);
}

TEST(ImageParts, RefuseSectionsThatOverlapOrRunIntoTheTable) {
  struct Case {
    std::uint32_t offset, size;
    const char* reason;
  } cases[] = {
      {0x280, 0x80, "section .x overlaps"},
      {0x380, 0x100, "section .x lies outside"},
      {0x100, 0x10, "section .x lies outside"},  // inside the section table
  };
  for (const Case& c : cases) {
    SyntheticImage image = makeSignedImage(false, 40);
    addSection(image, ".text", 0x200, 0x100);
    addSection(image, ".x", c.offset, c.size);
    CertificateTable table;
    ASSERT_TRUE(locateCertificateTable(image.bytes, &table, nullptr));
    std::vector<ImagePart> parts;
    std::string error;
    EXPECT_FALSE(imageParts(image.bytes, table, &parts, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(CompareReleases, IgnoresTheSignatureAndTheFieldsThatSigningRewrites) {
  const Bytes given = packedRelease();
  Bytes rebuilt = given;
  CertificateTable table;
  ASSERT_TRUE(locateCertificateTable(rebuilt, &table, nullptr));
  rebuilt[table.tableOffset + 20] ^= 0xFF;  // the signing time, say
  rebuilt[table.checksumOffset] ^= 0xFF;
  ReleaseComparison comparison;
  std::string error;
  ASSERT_TRUE(compareReleases(given, rebuilt, &comparison, &error)) << error;
  EXPECT_EQ(comparison.firstDifference, "");
  EXPECT_EQ(comparison.givenDigest, comparison.rebuiltDigest);
  EXPECT_EQ(comparison.givenDigest.size(), 64u);
}

TEST(CompareReleases, NamesTheFirstPartThatDiffers) {
  const Bytes rebuilt = packedRelease();
  struct Case {
    std::size_t offset;  // a byte of the rebuild to change, or 0 for a different second entry
    const char* expected;
  } cases[] = {
      {0x88, "the PE headers (first difference at file offset 0x88)"},  // TimeDateStamp
      {0x2ff, "section .text (first difference at file offset 0x2ff)"},
      {0x300, "section .data (first difference at file offset 0x300)"},
      {0, "payload entry js\\b.js (41 bytes, the rebuild's 40)"},
  };
  for (const Case& c : cases) {
    Bytes given = c.offset != 0 ? rebuilt : packedRelease(Bytes(41, 0x22));
    if (c.offset != 0) given[c.offset] ^= 0x01;
    ReleaseComparison comparison;
    std::string error;
    ASSERT_TRUE(compareReleases(given, rebuilt, &comparison, &error)) << error;
    EXPECT_EQ(comparison.firstDifference, c.expected);
    EXPECT_EQ(comparison.givenDigest == comparison.rebuiltDigest, c.offset == 0) << c.expected;
  }
}

}  // namespace
}  // namespace stubpack
