#include "payload/trust_slot.h"

#include <algorithm>

#include "sysenv/little_endian.h"

namespace payload {

namespace {

constexpr std::size_t kVersionOffset = 16;
constexpr std::size_t kFlagsOffset = 20;
constexpr std::size_t kContainerOffset = 24;
constexpr std::size_t kPackageOffset = 56;
constexpr std::size_t kSignerLengthOffset = 88;
constexpr std::size_t kSignerOffset = 92;
constexpr std::size_t kSignerKeyOffset = kSignerOffset + 2 * kTrustSlotSignerUnits;
constexpr std::size_t kManifestKeyOffset = kSignerKeyOffset + 32;
constexpr std::size_t kVersionFloorOffset = kManifestKeyOffset + 32;
static_assert(kVersionFloorOffset + 8 <= kTrustSlotSize, "the slot holds the name, the keys and the floor");

constexpr std::uint32_t kContainerPinned = 1;
constexpr std::uint32_t kPackagePinned = 2;
constexpr std::uint32_t kSignerPinned = 4;
constexpr std::uint32_t kSignerKeyPinned = 8;
constexpr std::uint32_t kReleaseSlot = 16;
constexpr std::uint32_t kManifestPinned = 32;
constexpr std::uint32_t kKnownFlags =
    kContainerPinned | kPackagePinned | kSignerPinned | kSignerKeyPinned | kReleaseSlot | kManifestPinned;

void put32(std::uint8_t* at, std::uint32_t value) { sysenv::writeLittleEndian(at, value); }
std::uint32_t get32(const std::uint8_t* at) { return sysenv::readLittleEndian<std::uint32_t>(at); }

// The marker, each byte XOR 0x5A, unmasked at run time through a volatile so that no compiler folds
// it back into a literal: the slot's own initializer is the one plain copy in the image.
constexpr std::uint8_t kMaskedMarker[kTrustSlotMarkerSize] = {0x09, 0x35, 0x28, 0x2C, 0x3B, 0x34, 0x3F, 0x0E,
                                                               0x28, 0x2F, 0x29, 0x2E, 0x09, 0x36, 0x35, 0x2E};
volatile std::uint8_t markerMask = 0x5A;

TrustDigest digestAt(const std::uint8_t* at) {
  TrustDigest digest{};
  std::copy(at, at + digest.size(), digest.begin());
  return digest;
}

}  // namespace

std::array<std::uint8_t, kTrustSlotMarkerSize> trustSlotMarker() {
  std::array<std::uint8_t, kTrustSlotMarkerSize> marker{};
  for (std::size_t i = 0; i < marker.size(); ++i) marker[i] = static_cast<std::uint8_t>(kMaskedMarker[i] ^ markerMask);
  return marker;
}

std::optional<std::array<std::uint8_t, kTrustSlotSize>> encodeTrustSlot(const TrustSlot& slot) {
  if (slot.packageSigner.size() > kTrustSlotSignerUnits ||
      slot.packageSigner.find(u'\0') != std::u16string::npos) {
    return std::nullopt;
  }
  const bool anyFloor = std::any_of(slot.versionFloor.begin(), slot.versionFloor.end(), [](std::uint16_t v) { return v != 0; });
  if (anyFloor && !slot.manifestKey) return std::nullopt;
  std::array<std::uint8_t, kTrustSlotSize> bytes{};
  const auto marker = trustSlotMarker();
  std::copy(marker.begin(), marker.end(), bytes.begin());
  put32(&bytes[kVersionOffset], kTrustSlotVersion);
  std::uint32_t flags = 0;
  if (slot.container) {
    flags |= kContainerPinned;
    std::copy(slot.container->begin(), slot.container->end(), &bytes[kContainerOffset]);
  }
  if (slot.packageSha256) {
    flags |= kPackagePinned;
    std::copy(slot.packageSha256->begin(), slot.packageSha256->end(), &bytes[kPackageOffset]);
  }
  if (!slot.packageSigner.empty()) flags |= kSignerPinned;
  if (slot.packageSignerKey) {
    flags |= kSignerKeyPinned;
    std::copy(slot.packageSignerKey->begin(), slot.packageSignerKey->end(), &bytes[kSignerKeyOffset]);
  }
  if (slot.release) flags |= kReleaseSlot;
  if (slot.manifestKey) {
    flags |= kManifestPinned;
    std::copy(slot.manifestKey->begin(), slot.manifestKey->end(), &bytes[kManifestKeyOffset]);
    for (std::size_t i = 0; i < slot.versionFloor.size(); ++i) {
      sysenv::writeLittleEndian(&bytes[kVersionFloorOffset + 2 * i], slot.versionFloor[i]);
    }
  }
  put32(&bytes[kFlagsOffset], flags);
  put32(&bytes[kSignerLengthOffset], static_cast<std::uint32_t>(slot.packageSigner.size()));
  for (std::size_t i = 0; i < slot.packageSigner.size(); ++i) {
    sysenv::writeLittleEndian(&bytes[kSignerOffset + 2 * i], slot.packageSigner[i]);
  }
  return bytes;
}

std::optional<TrustSlot> decodeTrustSlot(const std::uint8_t* bytes, std::size_t length) {
  const auto marker = trustSlotMarker();
  if (length != kTrustSlotSize || !std::equal(marker.begin(), marker.end(), bytes) ||
      get32(bytes + kVersionOffset) != kTrustSlotVersion) {
    return std::nullopt;
  }
  const std::uint32_t flags = get32(bytes + kFlagsOffset);
  const std::uint32_t signerUnits = get32(bytes + kSignerLengthOffset);
  if ((flags & ~kKnownFlags) != 0 || signerUnits > kTrustSlotSignerUnits ||
      ((flags & kSignerPinned) != 0) != (signerUnits != 0)) {
    return std::nullopt;
  }
  TrustSlot slot;
  if (flags & kContainerPinned) slot.container = digestAt(bytes + kContainerOffset);
  if (flags & kPackagePinned) slot.packageSha256 = digestAt(bytes + kPackageOffset);
  if (flags & kSignerKeyPinned) slot.packageSignerKey = digestAt(bytes + kSignerKeyOffset);
  slot.release = (flags & kReleaseSlot) != 0;
  if (flags & kManifestPinned) {
    slot.manifestKey = digestAt(bytes + kManifestKeyOffset);
    for (std::size_t i = 0; i < slot.versionFloor.size(); ++i) {
      slot.versionFloor[i] = sysenv::readLittleEndian<std::uint16_t>(bytes + kVersionFloorOffset + 2 * i);
    }
  }
  for (std::uint32_t i = 0; i < signerUnits; ++i) {
    const auto unit = sysenv::readLittleEndian<char16_t>(bytes + kSignerOffset + 2 * i);
    if (unit == 0) return std::nullopt;
    slot.packageSigner.push_back(unit);
  }
  return slot;
}

std::string releaseSlotProblem(const TrustSlot& slot) {
  if (!slot.release) return {};
  std::string missing;
  const auto add = [&missing](const char* what) { missing += (missing.empty() ? "" : ", ") + std::string(what); };
  if (!slot.container) add("the payload container's SHA-256");
  if (!slot.packageSha256 && !slot.manifestKey) add("the package's SHA-256 or its manifest's key");
  // A name alone is what any certificate of that name carries.
  if (!slot.packageSigner.empty() && !slot.packageSignerKey) add("the installer signer's key (with its name)");
  return missing.empty() ? std::string() : "a release's trust slot without " + missing;
}

std::optional<std::size_t> findTrustSlot(const std::uint8_t* image, std::size_t length) {
  const auto marker = trustSlotMarker();
  const std::uint8_t* end = image + length;
  const std::uint8_t* first = std::search(image, end, marker.begin(), marker.end());
  if (first == end || static_cast<std::size_t>(end - first) < kTrustSlotSize) return std::nullopt;
  if (std::search(first + 1, end, marker.begin(), marker.end()) != end) return std::nullopt;
  return static_cast<std::size_t>(first - image);
}

}  // namespace payload
