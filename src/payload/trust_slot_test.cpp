#include "payload/trust_slot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace payload {
namespace {

TrustDigest digestOf(std::uint8_t first) {
  TrustDigest digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(first + i);
  return digest;
}

TEST(TrustSlot, EveryPinComesBackAsWritten) {
  TrustSlot full;
  full.container = digestOf(1);
  full.packageSha256 = digestOf(100);
  full.packageSigner = u"Sorvane Software Ltd \u00e9\u6f22";
  full.packageSignerKey = digestOf(200);
  full.manifestKey = digestOf(150);
  full.versionFloor = {1, 0, 65535, 7};
  full.release = true;
  TrustSlot containerOnly;
  containerOnly.container = digestOf(7);
  TrustSlot longestName;
  longestName.packageSigner = std::u16string(kTrustSlotSignerUnits, u'x');
  for (const TrustSlot& slot : {TrustSlot{}, full, containerOnly, longestName}) {
    const auto bytes = encodeTrustSlot(slot);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(0, std::string(bytes->begin(), bytes->begin() + 16).compare("SorvaneTrustSlot"));
    const auto read = decodeTrustSlot(bytes->data(), bytes->size());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(slot.container, read->container);
    EXPECT_EQ(slot.packageSha256, read->packageSha256);
    EXPECT_EQ(slot.packageSigner, read->packageSigner);
    EXPECT_EQ(slot.packageSignerKey, read->packageSignerKey);
    EXPECT_EQ(slot.release, read->release);
    EXPECT_EQ(slot.manifestKey, read->manifestKey);
    EXPECT_EQ(slot.versionFloor, read->versionFloor);
    EXPECT_EQ(slot.pinsAnything(), read->pinsAnything());
  }
}

TEST(TrustSlot, NamesThatDoNotFitAreNotWritten) {
  TrustSlot slot;
  slot.packageSigner = std::u16string(kTrustSlotSignerUnits + 1, u'x');
  EXPECT_FALSE(encodeTrustSlot(slot).has_value());
  slot.packageSigner = std::u16string(u"a\0b", 3);
  EXPECT_FALSE(encodeTrustSlot(slot).has_value());
  // A floor means nothing without the key of the manifest that it is checked against.
  TrustSlot floorOnly;
  floorOnly.versionFloor = {1, 0, 0, 0};
  EXPECT_FALSE(encodeTrustSlot(floorOnly).has_value());
}

TEST(TrustSlot, AnythingButAWellFormedSlotIsUnreadable) {
  TrustSlot slot;
  slot.packageSigner = u"Signer";
  const auto good = *encodeTrustSlot(slot);
  const auto changed = [&](std::size_t offset, std::uint8_t value) {
    auto bytes = good;
    bytes[offset] = value;
    return bytes;
  };
  const std::vector<std::array<std::uint8_t, kTrustSlotSize>> bad = {
      changed(0, 's'),     // marker
      changed(16, 2),      // version
      changed(20, 0x84),   // an unknown flag
      changed(20, 0x00),   // a name without its flag
      changed(88, 0),      // the flag without a name
      changed(88, 129),    // longer than the field
      changed(92, 0),      // a 0 unit inside the name
  };
  for (std::size_t i = 0; i < bad.size(); ++i) {
    EXPECT_FALSE(decodeTrustSlot(bad[i].data(), bad[i].size()).has_value()) << i;
  }
  EXPECT_FALSE(decodeTrustSlot(good.data(), good.size() - 1).has_value());
}

TEST(TrustSlot, AReleaseRunsOnlyWithItsContainerAndPackagePinned) {
  TrustSlot whole;
  whole.release = true;
  whole.container = digestOf(1);
  whole.packageSha256 = digestOf(2);
  whole.packageSigner = u"Sorvane Software Ltd";
  whole.packageSignerKey = digestOf(3);
  EXPECT_EQ("", releaseSlotProblem(whole));
  TrustSlot hashOnly = whole;
  hashOnly.packageSigner.clear();
  hashOnly.packageSignerKey.reset();
  EXPECT_EQ("", releaseSlotProblem(hashOnly));

  TrustSlot empty;
  empty.release = true;
  EXPECT_EQ("a release's trust slot without the payload container's SHA-256, the package's SHA-256 or its "
            "manifest's key",
            releaseSlotProblem(empty));
  TrustSlot manifestOnly = hashOnly;
  manifestOnly.packageSha256.reset();
  manifestOnly.manifestKey = digestOf(4);
  EXPECT_EQ("", releaseSlotProblem(manifestOnly));
  TrustSlot nameWithoutKey = whole;
  nameWithoutKey.packageSignerKey.reset();
  EXPECT_EQ("a release's trust slot without the installer signer's key (with its name)",
            releaseSlotProblem(nameWithoutKey));
  // A test build's slot says nothing about what it must pin.
  EXPECT_EQ("", releaseSlotProblem(TrustSlot{}));
  TrustSlot testBuild = nameWithoutKey;
  testBuild.release = false;
  EXPECT_EQ("", releaseSlotProblem(testBuild));
}

TEST(TrustSlot, FoundOnlyWhereTheMarkerOccursOnce) {
  const auto slot = *encodeTrustSlot(TrustSlot{});
  std::vector<std::uint8_t> image(4096, 0xCC);
  EXPECT_FALSE(findTrustSlot(image.data(), image.size()).has_value());
  std::copy(slot.begin(), slot.end(), image.begin() + 1000);
  EXPECT_EQ(std::optional<std::size_t>(1000), findTrustSlot(image.data(), image.size()));
  // A second marker: the packer could fill the wrong block.
  std::copy(slot.begin(), slot.begin() + kTrustSlotMarkerSize, image.begin() + 3000);
  EXPECT_FALSE(findTrustSlot(image.data(), image.size()).has_value());
  // A marker too near the end to hold a slot.
  std::vector<std::uint8_t> tail(600, 0);
  std::copy(slot.begin(), slot.begin() + kTrustSlotMarkerSize, tail.end() - 100);
  EXPECT_FALSE(findTrustSlot(tail.data(), tail.size()).has_value());
}

}  // namespace
}  // namespace payload
