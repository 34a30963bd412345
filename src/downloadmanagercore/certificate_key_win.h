// Win32 code. The key pin of a certificate: the SHA-256 of its DER SubjectPublicKeyInfo, the value
// that `openssl x509 -pubkey -noout | openssl pkey -pubin -outform DER | sha256sum` prints. A key
// pin holds where a name does not: anyone can make a certificate of any name, and Wine checks no
// chain.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <optional>

#include "downloadmanagercore/package_trust.h"

namespace downloadmanagercore {

// Nothing when crypt32 or CNG fail.
std::optional<Sha256Digest> certificateKeyDigest(PCCERT_CONTEXT cert);

}  // namespace downloadmanagercore
