// The trust slot: a fixed, marked block inside the stub's image that the packer fills before it
// signs, so that the signature covers it. It holds what the stub must not take from the unsigned
// part of its file: the SHA-256 of the UI payload container, and the release's pins for the product
// package (its SHA-256, and the subject name of setup.exe's signer). A built stub carries the slot
// empty (nothing pinned); only the packer writes into it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace payload {

using TrustDigest = std::array<std::uint8_t, 32>;

constexpr std::size_t kTrustSlotSize = 512;
constexpr std::size_t kTrustSlotMarkerSize = 16;
// The marker that the packer looks for, "SorvaneTrustSlot": it must occur once in a stub's image, at
// the slot's start, so no code keeps it as a literal (see trustSlotMarker()).
std::array<std::uint8_t, kTrustSlotMarkerSize> trustSlotMarker();
constexpr std::uint32_t kTrustSlotVersion = 1;
// UTF-16 units of the signer name; a longer name cannot be pinned.
constexpr std::size_t kTrustSlotSignerUnits = 128;

struct TrustSlot {
  std::optional<TrustDigest> container;      // the payload container, trailer included
  std::optional<TrustDigest> packageSha256;  // the downloaded package
  std::u16string packageSigner;              // empty: no signer pinned
  bool pinsAnything() const { return container || packageSha256 || !packageSigner.empty(); }
};

// The slot's bytes as the packer writes them (marker, version, flags, the two digests, the name in
// UTF-16LE, zero padding). Nothing when the name is too long or holds a 0 unit.
std::optional<std::array<std::uint8_t, kTrustSlotSize>> encodeTrustSlot(const TrustSlot& slot);
// The slot read back; nothing when the bytes are not a slot of this version (wrong marker, unknown
// flags, a name longer than its field): a stub that cannot read its slot trusts nothing.
std::optional<TrustSlot> decodeTrustSlot(const std::uint8_t* bytes, std::size_t length);

// Where the one slot lies in an image: its offset, or nothing when the marker occurs no time or more
// than once (a packer must never fill the wrong block).
std::optional<std::size_t> findTrustSlot(const std::uint8_t* image, std::size_t length);

}  // namespace payload
