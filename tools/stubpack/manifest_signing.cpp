// Plain code.
#include "stubpack/manifest_signing.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace stubpack {

namespace {

using UniqueBio = std::unique_ptr<BIO, decltype(&BIO_free)>;

UniqueBio memoryOf(const void* data, std::size_t size) {
  return UniqueBio(BIO_new_mem_buf(data, static_cast<int>(size)), &BIO_free);
}

}  // namespace

bool signManifest(const std::string& text, const Bytes& certificatePem, const Bytes& keyPem, Bytes* der,
                  std::string* error) {
  UniqueBio certIn = memoryOf(certificatePem.data(), certificatePem.size());
  std::unique_ptr<X509, decltype(&X509_free)> cert(
      certIn ? PEM_read_bio_X509(certIn.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
  UniqueBio keyIn = memoryOf(keyPem.data(), keyPem.size());
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      keyIn ? PEM_read_bio_PrivateKey(keyIn.get(), nullptr, nullptr, nullptr) : nullptr, &EVP_PKEY_free);
  if (!cert || !key) {
    *error = !cert ? "no PEM certificate" : "no PEM private key";
    return false;
  }
  if (X509_check_private_key(cert.get(), key.get()) != 1) {
    *error = "the key is not the certificate's";
    return false;
  }
  UniqueBio content = memoryOf(text.data(), text.size());
  // Binary: the text is signed byte for byte, without the S/MIME canonical line ends. No
  // capabilities attribute: the stub needs none.
  const unsigned int flags = CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
  std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)> cms(
      CMS_sign(nullptr, nullptr, nullptr, nullptr, flags), &CMS_ContentInfo_free);
  if (!cms || CMS_add1_signer(cms.get(), cert.get(), key.get(), EVP_sha256(), flags) == nullptr ||
      CMS_final(cms.get(), content.get(), nullptr, flags) != 1) {
    *error = "CMS signing failed";
    return false;
  }
  unsigned char* bytes = nullptr;
  const int length = i2d_CMS_ContentInfo(cms.get(), &bytes);
  if (length <= 0) {
    *error = "the signed manifest cannot be encoded";
    return false;
  }
  der->assign(bytes, bytes + length);
  OPENSSL_free(bytes);
  return true;
}

}  // namespace stubpack
