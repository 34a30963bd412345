// Plain code. Signs a package manifest (downloadmanagercore/package_manifest.h) as the stub checks
// it: a CMS SignedData of SHA-256 with RSA, the manifest's text inside it, and the signing
// certificate, so that the stub finds the signer's key in the message itself.
#pragma once

#include <string>

#include "stubpack/container.h"

namespace stubpack {

// The DER of the signed message, or false with a reason (a certificate or key that cannot be read,
// a key that is not the certificate's).
bool signManifest(const std::string& text, const Bytes& certificatePem, const Bytes& keyPem, Bytes* der,
                  std::string* error);

}  // namespace stubpack
