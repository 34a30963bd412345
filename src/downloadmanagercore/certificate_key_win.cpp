// Win32 code.
#include "downloadmanagercore/certificate_key_win.h"

#include <vector>

#include "sysenv/sha256_win.h"
#include "sysenv/system_dll_win.h"

namespace downloadmanagercore {

std::optional<Sha256Digest> certificateKeyDigest(PCCERT_CONTEXT cert) {
  // crypt32.dll is not a Known DLL.
  static const auto encodeObject =
      sysenv::systemFunction<decltype(&CryptEncodeObject)>(L"crypt32.dll", "CryptEncodeObject");
  if (encodeObject == nullptr || cert == nullptr || cert->pCertInfo == nullptr) return std::nullopt;
  // Encoded again from its decoded form: the same bytes as in the certificate, since DER has one
  // encoding (measured under Wine: equal to openssl's).
  CERT_PUBLIC_KEY_INFO* info = &cert->pCertInfo->SubjectPublicKeyInfo;
  DWORD size = 0;
  if (!encodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info, nullptr, &size) || size == 0) return std::nullopt;
  std::vector<BYTE> der(size);
  if (!encodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info, der.data(), &size)) return std::nullopt;
  sysenv::Sha256 hash;
  if (!hash.ok()) return std::nullopt;
  hash.update(der.data(), size);
  return hash.finish();
}

}  // namespace downloadmanagercore
