// What the stub requires of a package before anything in it runs with its rights: the decisions
// that need no operating system (the SHA-256 pin's text form and comparison, the stages and codes
// that the report carries for a refused package or installer, the log lines that name what was
// expected and what was found).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace downloadmanagercore {

using Sha256Digest = std::array<std::uint8_t, 32>;

// The wrapperError stages of a package that arrived but is not the one the release names. Apart
// from every network stage, so that the report server can tell tampering from a broken transfer.
constexpr std::int32_t kPackageHashStage = 7;         // the downloaded package's SHA-256
constexpr std::int32_t kInstallerSignatureStage = 8;  // setup.exe's Authenticode signature and signer
constexpr std::int32_t kManifestStage = 9;            // the signed package manifest

// The msiError of a package whose SHA-256 differs from the pin: CRYPT_E_HASH_VALUE, "the hash value
// is not correct".
constexpr std::uint32_t kPackageHashMismatch = 0x80091007;
// The msiError of an installer that WinVerifyTrust accepts but whose signer carries another key or
// another name: CERT_E_WRONG_USAGE would hide the cause, so the pins have their own,
// TRUST_E_SUBJECT_NOT_TRUSTED, "the subject is not trusted for the specified action".
constexpr std::uint32_t kInstallerSignerMismatch = 0x800B0004;

// The 64 hexadecimal digits of a digest, lower case.
std::u16string hexDigest(const Sha256Digest& digest);
// A digest from its 64 hexadecimal digits (either case, nothing else around them); nothing otherwise.
std::optional<Sha256Digest> parseHexDigest(const std::u16string& text);

// An HRESULT as the report's msiError carries it: the same 32 bits as a signed number.
std::int32_t reportCode(std::uint32_t hresult);

// The ERROR lines of the two refusals.
std::u16string packageHashMismatchLine(const Sha256Digest& expected, const Sha256Digest& found);
// `found` is the leaf signer's name, empty when the file has no signature that could be read;
// `trustResult` is what WinVerifyTrust returned.
std::u16string installerSignatureLine(const std::u16string& expectedSigner, const std::u16string& foundSigner,
                                      std::uint32_t trustResult);

// What the release pins of setup.exe's signer. The key (the SHA-256 of a DER SubjectPublicKeyInfo)
// is what protects where the chain is not checked, as under Wine: anyone can make a certificate of
// any name. The name stays a second check.
struct InstallerPins {
  std::u16string signer;                  // empty: no name pinned
  std::optional<Sha256Digest> signerKey;  // the leaf's key or that of a certificate in its chain
  bool any() const { return !signer.empty() || signerKey.has_value(); }
};

// What a verification of setup.exe found: WinVerifyTrust's result, the leaf signer's name and the
// key digests of the signer's chain, leaf first.
struct InstallerFindings {
  std::uint32_t trustResult = 0;
  std::u16string signer;
  std::vector<Sha256Digest> chainKeys;
};

// 0 when the findings meet every pin; otherwise the code that the report's msiError carries
// (WinVerifyTrust's own result, or kInstallerSignerMismatch), with the ERROR line in `line`.
std::uint32_t installerRefusal(const InstallerPins& pins, const InstallerFindings& found, std::u16string* line);

}  // namespace downloadmanagercore
