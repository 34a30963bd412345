#include "stubpack/pe_image.h"

#include <gtest/gtest.h>

#include "stubpack/synthetic_image.h"

namespace stubpack {
namespace {

using testing::makeSignedImage;
using testing::SyntheticImage;

struct DerCase {
  const char* name;
  Bytes bytes;
  std::size_t limit;  // 0: the whole buffer
  bool ok;
  std::size_t end;
};

// A DER header followed by `bodySize` body bytes.
Bytes element(Bytes header, std::size_t bodySize) {
  header.resize(header.size() + bodySize, 0x5A);
  return header;
}

TEST(DerElementEnd, LengthFormsAndTheirLimits) {
  const DerCase cases[] = {
      {"short form", {0x30, 0x03, 1, 2, 3}, 0, true, 5},
      {"short form, empty", {0x30, 0x00}, 0, true, 2},
      {"long form, one byte", element({0x30, 0x81, 0x90}, 0x90), 0, true, 3 + 0x90},
      {"long form, two bytes", element({0x30, 0x82, 0x06, 0x0C}, 0x60C), 0, true, 4 + 0x60C},
      {"long form, four bytes", element({0x30, 0x84, 0x00, 0x01, 0x00, 0x00}, 0x10000), 0, true, 6 + 0x10000},
      {"trailing bytes after the element", {0x30, 0x01, 9, 0xEE, 0xEE}, 0, true, 3},
      {"indefinite length", {0x30, 0x80, 0, 0}, 0, false, 0},
      {"five length bytes", {0x30, 0x85, 0, 0, 0, 0, 1, 0}, 0, false, 0},
      {"length bytes truncated", {0x30, 0x82, 0x01}, 0, false, 0},
      {"body past the buffer", {0x30, 0x04, 1, 2, 3}, 0, false, 0},
      {"body past the limit", {0x30, 0x03, 1, 2, 3}, 4, false, 0},
      {"only a tag", {0x30}, 0, false, 0},
      {"multi-byte tag", {0x1F, 0x81, 0x01, 0x00}, 0, false, 0},
  };
  for (const DerCase& c : cases) {
    const Bytes& bytes = c.bytes;
    std::size_t end = 0;
    std::string error;
    const bool ok = derElementEnd(bytes.data(), 0, c.limit != 0 ? c.limit : bytes.size(), &end, &error);
    EXPECT_EQ(ok, c.ok) << c.name << ": " << error;
    if (c.ok) EXPECT_EQ(end, c.end) << c.name;
    if (!c.ok) EXPECT_FALSE(error.empty()) << c.name;
  }
}

TEST(LocateCertificateTable, FindsTheSignatureEndInBothFormats) {
  for (bool plus : {false, true}) {
    for (std::size_t body : {1u, 6u, 1000u}) {
      const SyntheticImage image = makeSignedImage(plus, body);
      CertificateTable table;
      std::string error;
      ASSERT_TRUE(locateCertificateTable(image.bytes, &table, &error)) << error;
      EXPECT_EQ(table.pe32Plus, plus);
      EXPECT_EQ(table.tableOffset, image.tableOffset);
      EXPECT_EQ(table.tableSize, image.bytes.size() - image.tableOffset);
      EXPECT_EQ(table.signatureEnd, image.signatureEnd);
      EXPECT_EQ(table.directoryEntryOffset, image.directoryEntry);
      EXPECT_EQ(table.checksumOffset, image.checksumOffset);
    }
  }
}

TEST(LocateCertificateTable, RefusesImagesItCannotPackSafely) {
  struct Case {
    const char* name;
    void (*bend)(SyntheticImage&);
    const char* reason;
  };
  const Case cases[] = {
      {"not MZ", [](SyntheticImage& i) { i.bytes[0] = 'X'; }, "no MZ"},
      {"PE offset past the end", [](SyntheticImage& i) { writeLe32(&i.bytes[0x3C], 0x7FFFFFF0); }, "no PE signature"},
      {"unknown magic", [](SyntheticImage& i) { i.bytes[0x80 + 24 + 1] = 0x07; }, "magic"},
      {"too few directories",
       [](SyntheticImage& i) { writeLe32(&i.bytes[0x80 + 24 + 92], 4); }, "no security directory"},
      {"optional header too small for directory 4", [](SyntheticImage& i) { i.bytes[0x80 + 20] = 100; },
       "no security directory"},
      {"unsigned", [](SyntheticImage& i) { writeLe32(&i.bytes[i.directoryEntry], 0), writeLe32(&i.bytes[i.directoryEntry + 4], 0); },
       "not signed"},
      {"data after the table", [](SyntheticImage& i) { i.bytes.resize(i.bytes.size() + 16, 0); }, "not the last thing"},
      {"table past the end",
       [](SyntheticImage& i) { writeLe32(&i.bytes[i.directoryEntry + 4], static_cast<std::uint32_t>(i.bytes.size())); },
       "runs past the end"},
      {"table misaligned",
       [](SyntheticImage& i) {
         i.bytes.insert(i.bytes.begin() + static_cast<std::ptrdiff_t>(i.tableOffset), 0);
         writeLe32(&i.bytes[i.directoryEntry], static_cast<std::uint32_t>(i.tableOffset + 1));
       },
       "aligned"},
      {"second certificate",
       [](SyntheticImage& i) { writeLe32(&i.bytes[i.tableOffset], static_cast<std::uint32_t>(i.signatureEnd - i.tableOffset - 16)); },
       "more than one"},
      {"dwLength beyond the table", [](SyntheticImage& i) { writeLe32(&i.bytes[i.tableOffset], 0xFFFF); }, "does not fit"},
      {"revision 1", [](SyntheticImage& i) { i.bytes[i.tableOffset + 5] = 0x01; }, "revision 2 PKCS#7"},
      {"X.509 type", [](SyntheticImage& i) { i.bytes[i.tableOffset + 6] = 0x01; }, "revision 2 PKCS#7"},
      {"not a SEQUENCE", [](SyntheticImage& i) { i.bytes[i.tableOffset + 8] = 0x31; }, "SEQUENCE"},
      {"DER longer than the certificate", [](SyntheticImage& i) { i.bytes[i.tableOffset + 10] = 0x7F; }, "runs past"},
  };
  for (const Case& c : cases) {
    SyntheticImage image = makeSignedImage(false, 100);
    c.bend(image);
    CertificateTable table;
    std::string error;
    EXPECT_FALSE(locateCertificateTable(image.bytes, &table, &error)) << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
  }
}

TEST(PeChecksum, FoldsCarriesSkipsTheFieldAndAddsTheLength) {
  // Words 0x0201 and 0x0403, the field (4..7) counted as zero, then the odd byte 0x05 as 0x0005.
  EXPECT_EQ(peChecksum({1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 5}, 4), 0x0609u + 9u);
  // 0xFFFF + 0xFFFF folds to 0xFFFF.
  EXPECT_EQ(peChecksum({0xFF, 0xFF, 0xFF, 0xFF}, 100), 0xFFFFu + 4u);
  EXPECT_EQ(peChecksum({}, 0), 0u);
}

TEST(PeChecksum, DoesNotDependOnTheOldFieldValue) {
  SyntheticImage image = makeSignedImage(true, 50);
  const std::uint32_t first = peChecksum(image.bytes, image.checksumOffset);
  updatePeChecksum(image.bytes, image.checksumOffset);
  EXPECT_EQ(readLe32(&image.bytes[image.checksumOffset]), first);
  EXPECT_EQ(peChecksum(image.bytes, image.checksumOffset), first);
}

}  // namespace
}  // namespace stubpack
