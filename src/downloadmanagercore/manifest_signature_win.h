// Win32 code. The signature of a package manifest, checked with the system's own crypt32
// (CryptVerifyMessageSignature): a CMS/PKCS#7 SignedData that carries the manifest's text and the
// signing certificate. The chain is not checked, here or by Wine anywhere: what makes the signer the
// vendor is the key pin that the caller compares signerKey with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "downloadmanagercore/package_trust.h"

namespace downloadmanagercore {

struct ManifestSignature {
  // 0 when the signature verifies; otherwise the HRESULT of crypt32's error (for example
  // CRYPT_E_ASN1_BADTAG for no message), or kManifestContentNotSigned for a message whose signed
  // messageDigest is not the SHA-256 of its text (a text changed after signing), or whose signer
  // count or digest algorithm is not one signer with SHA-256.
  std::uint32_t result = 0;
  std::string content;                   // the signed text, only when it verifies
  std::optional<Sha256Digest> signerKey;  // the signing certificate's key pin, when it verifies
};

ManifestSignature verifyManifestSignature(const std::vector<std::uint8_t>& message);

}  // namespace downloadmanagercore
