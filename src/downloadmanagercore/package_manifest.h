// Plain code. The package manifest: a small text that the vendor publishes beside the package and
// signs (CMS, SHA-256), naming the one package the stub may run: its file name, size and SHA-256,
// the product version and an expiry. The stub fetches it before the package and takes the package's
// size and hash from it once its signature, signer key, expiry and version have been checked. The
// same code writes it (stubpack sign-package) and reads it (the stub), so the two cannot drift.
//
// The text, UTF-8 without a byte-order mark, one "key value" line each, in this order, each line
// ending in LF:
//   sorvane-package-manifest 1
//   file SorvanePro.zip
//   size 12345
//   sha256 <64 lower-case hexadecimal digits>
//   version 1.2.3.4
//   expires 2027-01-31T00:00:00Z
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "downloadmanagercore/package_trust.h"

namespace downloadmanagercore {

// A product version: four numbers of 0 to 65535, compared in order.
using ProductVersion = std::array<std::uint16_t, 4>;

// "a.b.c.d" (one to four numbers, missing ones 0; decimal digits only, no sign, at most 5 digits);
// nothing otherwise.
std::optional<ProductVersion> parseProductVersion(const std::string& text);
std::string productVersionText(const ProductVersion& version);

// "YYYY-MM-DDTHH:MM:SSZ" (or "YYYY-MM-DD", midnight UTC) as seconds since 1970-01-01 UTC; nothing for
// anything else, an impossible date or a year outside 1970-9999.
std::optional<std::int64_t> parseUtcTime(const std::string& text);
std::string utcTimeText(std::int64_t seconds);

// The largest manifest the stub downloads.
constexpr std::uint64_t kManifestSizeLimit = 64 * 1024;
// The manifest's name beside the package: the package URL with this appended.
constexpr char16_t kManifestSuffix[] = u".manifest";

struct PackageManifest {
  std::string file;  // a plain file name
  std::uint64_t size = 0;
  Sha256Digest sha256{};
  ProductVersion version{};
  std::int64_t expires = 0;  // seconds since 1970-01-01 UTC
};

// The text of a manifest, as signed.
std::string formatPackageManifest(const PackageManifest& manifest);
// The manifest in a (verified) text; nothing, with the reason in `error`, for anything that is not
// exactly the format above (unknown or missing lines, other order, a size of 0 or of 4 GiB and
// more, a file name with a path or a control character).
std::optional<PackageManifest> parsePackageManifest(const std::string& text, std::string* error);

// What the release requires of a manifest, from its trust slot.
struct ManifestPolicy {
  Sha256Digest signerKey{};  // the SHA-256 of the signing certificate's SubjectPublicKeyInfo
  ProductVersion floor{};    // the oldest product version it may name
};

// The msiError of each refusal of a manifest (its stage is kManifestStage).
constexpr std::uint32_t kManifestUnreadable = 0x8007000D;   // HRESULT of ERROR_INVALID_DATA
constexpr std::uint32_t kManifestKeyMismatch = 0x800B0004;  // TRUST_E_SUBJECT_NOT_TRUSTED
constexpr std::uint32_t kManifestExpired = 0x800B0101;      // CERT_E_EXPIRED
constexpr std::uint32_t kManifestBelowFloor = 0x80070666;   // HRESULT of ERROR_PRODUCT_VERSION
constexpr std::uint32_t kManifestWrongFile = 0x80070057;    // E_INVALIDARG: another file's manifest
// CRYPT_E_HASH_VALUE: the text is not the one whose digest was signed.
constexpr std::uint32_t kManifestContentNotSigned = 0x80091007;

// The transfer result of a download that would pass its size limit (HRESULT of ERROR_FILE_TOO_LARGE);
// a download without a manifest has no limit.
constexpr std::uint32_t kTransferTooLarge = 0x800700DF;
constexpr std::uint64_t kNoSizeLimit = ~std::uint64_t{0};

// The ERROR line of a package that passed its manifest's size (ends as stage 7 with
// kPackageHashMismatch, like any package that is not the signed one).
std::u16string packageOversizeLine(std::uint64_t size);

// The ERROR line of a manifest whose signature crypt32 refused with `result`.
std::u16string manifestSignatureLine(std::uint32_t result);
// One line of what an accepted manifest names, for the DEBUG log.
std::u16string manifestSummary(const PackageManifest& manifest);

// A verified manifest's refusal: 0 when the signer's key is the pinned one, the text is a manifest of
// `fileName`, it has not expired at `now` and names at least the floor; otherwise its msiError, with
// the ERROR line (what was expected, what was found) in `line`. `signerKey` is nothing when the
// signer's key could not be read.
std::uint32_t manifestRefusal(const ManifestPolicy& policy, const std::optional<Sha256Digest>& signerKey,
                              const std::string& text, const std::string& fileName, std::int64_t now,
                              PackageManifest* manifest, std::u16string* line);

}  // namespace downloadmanagercore
