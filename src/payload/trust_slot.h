// The trust slot: a fixed, marked block inside the stub's image that the packer fills before it
// signs, so that the signature covers it. It holds what the stub must not take from the unsigned
// part of its file: the SHA-256 of the UI payload container, the release's pins for the product
// package (its SHA-256; the key and the subject name of setup.exe's signer), and whether the stub
// is a release's. A built stub carries the slot empty (nothing pinned, a test build's); only the
// packer writes into it.
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
  // The SHA-256 of the DER SubjectPublicKeyInfo of setup.exe's signer or of a certificate in its
  // chain: a key, which a certificate of the same name from someone else cannot carry.
  std::optional<TrustDigest> packageSignerKey;
  // The SHA-256 of the SubjectPublicKeyInfo of the key that signs the package manifest: with it the
  // stub fetches the manifest beside the package first and holds the package to its size and hash.
  std::optional<TrustDigest> manifestKey;
  // The oldest product version a manifest may name (four numbers); only with manifestKey.
  std::array<std::uint16_t, 4> versionFloor{};
  // Made by `make package`: such a stub runs only with its container and its package pinned.
  bool release = false;
  bool pinsAnything() const {
    return container || packageSha256 || !packageSigner.empty() || packageSignerKey || manifestKey || release;
  }
};

// Why a release's slot may not run (a pin it lacks), or empty when it may; a test build's slot
// always may. The text names what is missing, for the ERROR line and for stubpack.
std::string releaseSlotProblem(const TrustSlot& slot);

// The slot's bytes as the packer writes them (marker, version, flags, the two digests, the name in
// UTF-16LE, the two keys, the version floor, zero padding). Nothing when the name is too long or
// holds a 0 unit, or a version floor comes without a manifest key.
std::optional<std::array<std::uint8_t, kTrustSlotSize>> encodeTrustSlot(const TrustSlot& slot);
// The slot read back; nothing when the bytes are not a slot of this version (wrong marker, unknown
// flags, a name longer than its field): a stub that cannot read its slot trusts nothing.
std::optional<TrustSlot> decodeTrustSlot(const std::uint8_t* bytes, std::size_t length);

// Where the one slot lies in an image: its offset, or nothing when the marker occurs no time or more
// than once (a packer must never fill the wrong block).
std::optional<std::size_t> findTrustSlot(const std::uint8_t* image, std::size_t length);

}  // namespace payload
