#include "stubpack/packer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "stubpack/synthetic_image.h"

namespace stubpack {
namespace {

using testing::makeSignedImage;
using testing::SyntheticImage;

TEST(PackContainer, StartsAtTheSignatureEndAndRunsTheTableToTheEndOfTheFile) {
  // Bodies of 1..8 bytes put the signature's end at every residue modulo 8, so the signer's
  // padding (dropped by the packer) is 0..7 bytes.
  for (bool plus : {false, true}) {
    for (std::size_t body = 1; body <= 8; ++body) {
      const SyntheticImage image = makeSignedImage(plus, body);
      Bytes packed;
      std::string error;
      ASSERT_TRUE(packContainer(image.bytes, {{u"x\\y.txt", Bytes(body * 3, 0x42)}}, &packed, &error)) << error;

      // Before the table only the checksum and the table's size change.
      Bytes unchanged = packed;
      std::copy_n(&image.bytes[image.checksumOffset], 4, &unchanged[image.checksumOffset]);
      std::copy_n(&image.bytes[image.directoryEntry + 4], 4, &unchanged[image.directoryEntry + 4]);
      EXPECT_TRUE(std::equal(image.bytes.begin(), image.bytes.begin() + static_cast<std::ptrdiff_t>(image.tableOffset),
                             unchanged.begin()));
      const std::uint32_t tableSize = readLe32(&packed[image.directoryEntry + 4]);
      EXPECT_EQ(readLe32(&packed[image.directoryEntry]), image.tableOffset);
      EXPECT_EQ(image.tableOffset + tableSize, packed.size());
      EXPECT_EQ(readLe32(&packed[image.tableOffset]), tableSize);
      EXPECT_EQ(tableSize % 8, 0u);
      EXPECT_EQ(readLe32(&packed[packed.size() - 4]), image.signatureEnd);
      // The signature itself is unchanged; the first header follows it directly.
      EXPECT_TRUE(std::equal(image.bytes.begin() + static_cast<std::ptrdiff_t>(image.tableOffset + 8),
                             image.bytes.begin() + static_cast<std::ptrdiff_t>(image.signatureEnd),
                             packed.begin() + static_cast<std::ptrdiff_t>(image.tableOffset + 8)));
      EXPECT_EQ(packed[image.signatureEnd], 'x');
      const std::size_t dataEnd = image.signatureEnd + payload::kPayloadEntryHeaderSize + body * 3;
      const std::size_t fill = packed.size() - 4 - dataEnd;
      EXPECT_GE(fill, kMinimumFill);
      EXPECT_LT(fill, kMinimumFill + 8);
      EXPECT_EQ(readLe32(&packed[image.checksumOffset]), peChecksum(packed, image.checksumOffset));
      CertificateTable table;
      EXPECT_TRUE(locateCertificateTable(packed, &table, &error)) << error;
    }
  }
}

TEST(PackContainer, AnEmptyPayloadIsATerminatingHeaderOnly) {
  const SyntheticImage image = makeSignedImage(false, 40);
  Bytes packed;
  std::string error;
  ASSERT_TRUE(packContainer(image.bytes, {}, &packed, &error)) << error;
  EXPECT_EQ(readLe32(&packed[packed.size() - 4]), image.signatureEnd);
  EXPECT_GE(packed.size() - image.signatureEnd, payload::kPayloadEntryHeaderSize);
  EXPECT_EQ(packed[image.signatureEnd], 0);
  EXPECT_EQ(packed[image.signatureEnd + 1], 0);
}

TEST(PackContainer, RepackingReplacesTheContainer) {
  const SyntheticImage image = makeSignedImage(true, 77);
  Bytes once;
  Bytes twice;
  std::string error;
  ASSERT_TRUE(packContainer(image.bytes, {{u"old.txt", Bytes(5000, 1)}}, &once, &error)) << error;
  ASSERT_TRUE(packContainer(once, {{u"new.txt", {2}}}, &twice, &error)) << error;
  Bytes direct;
  ASSERT_TRUE(packContainer(image.bytes, {{u"new.txt", {2}}}, &direct, &error)) << error;
  EXPECT_EQ(twice, direct);
}

}  // namespace
}  // namespace stubpack
