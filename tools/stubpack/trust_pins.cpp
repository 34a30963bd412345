// Plain code.
#include "stubpack/trust_pins.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>

namespace stubpack {

namespace {

class Sha256 {
 public:
  Sha256() : context_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) { EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr); }
  void update(const std::uint8_t* data, std::size_t size) { EVP_DigestUpdate(context_.get(), data, size); }
  payload::TrustDigest finish() {
    payload::TrustDigest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_.get(), digest.data(), &length);
    return digest;
  }

 private:
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context_;
};

}  // namespace

payload::TrustDigest sha256(const Bytes& bytes) {
  Sha256 hasher;
  hasher.update(bytes.data(), bytes.size());
  return hasher.finish();
}

payload::TrustDigest containerDigest(const std::vector<PayloadFile>& files) {
  Sha256 hasher;
  for (const PayloadFile& file : files) {
    Bytes header;
    appendEntryHeader(header, file.path, file.data.size());
    hasher.update(header.data(), header.size());
    hasher.update(file.data.data(), file.data.size());
  }
  const Bytes endOfEntries(payload::kPayloadEntryHeaderSize, 0);
  hasher.update(endOfEntries.data(), endOfEntries.size());
  return hasher.finish();
}

bool fillTrustSlot(Bytes& image, const payload::TrustSlot& slot, std::string* error) {
  const auto offset = payload::findTrustSlot(image.data(), image.size());
  if (!offset) {
    *error = "no single trust slot in the stub (its marker occurs no time or more than once)";
    return false;
  }
  const auto present = payload::decodeTrustSlot(image.data() + *offset, payload::kTrustSlotSize);
  if (!present) {
    *error = "the stub's trust slot is unreadable";
    return false;
  }
  if (present->pinsAnything()) {
    *error = "the stub's trust slot is already filled: pack the stub as it was built";
    return false;
  }
  const auto bytes = payload::encodeTrustSlot(slot);
  if (!bytes) {
    *error = "the signer name does not fit the trust slot (at most 128 UTF-16 units, no 0)";
    return false;
  }
  std::copy(bytes->begin(), bytes->end(), image.begin() + static_cast<std::ptrdiff_t>(*offset));
  return true;
}

std::optional<payload::TrustDigest> certificateKeyDigest(const Bytes& pem, std::string* error) {
  std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
  std::unique_ptr<X509, decltype(&X509_free)> cert(
      in ? PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
  if (!cert) {
    *error = "no PEM certificate";
    return std::nullopt;
  }
  unsigned char* der = nullptr;
  const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert.get()), &der);
  if (length <= 0) {
    *error = "the certificate's public key cannot be encoded";
    return std::nullopt;
  }
  const Bytes spki(der, der + length);
  OPENSSL_free(der);
  return sha256(spki);
}

namespace {

std::string hexOf(const payload::TrustDigest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

std::string pinText(const std::optional<payload::TrustDigest>& digest) { return digest ? hexOf(*digest) : "none"; }

bool sameSlot(const payload::TrustSlot& a, const payload::TrustSlot& b) {
  return a.container == b.container && a.packageSha256 == b.packageSha256 && a.packageSigner == b.packageSigner &&
         a.packageSignerKey == b.packageSignerKey && a.manifestKey == b.manifestKey &&
         a.versionFloor == b.versionFloor && a.release == b.release;
}

}  // namespace

std::string describeTrustSlot(const payload::TrustSlot& slot) {
  const std::string signer = utf16ToUtf8(slot.packageSigner);
  return std::string("trust slot: ") + (slot.release ? "release" : "test build (a release needs --release)") +
         "\ncontainer SHA-256: " + pinText(slot.container) + "\npackage SHA-256: " + pinText(slot.packageSha256) +
         "\ninstaller signer: " + (signer.empty() ? "none" : "\"" + signer + "\"") +
         "\ninstaller signer key SHA-256: " + pinText(slot.packageSignerKey) +
         "\nmanifest key SHA-256: " + pinText(slot.manifestKey) +
         (slot.manifestKey ? "\nversion floor: " + std::to_string(slot.versionFloor[0]) + "." +
                                 std::to_string(slot.versionFloor[1]) + "." + std::to_string(slot.versionFloor[2]) +
                                 "." + std::to_string(slot.versionFloor[3])
                           : std::string()) +
         "\n";
}

bool checkSignedTrustSlot(const Bytes& signedImage, const payload::TrustSlot& intended, payload::TrustSlot* found,
                          std::string* error) {
  const auto offset = payload::findTrustSlot(signedImage.data(), signedImage.size());
  const auto slot = offset ? payload::decodeTrustSlot(signedImage.data() + *offset, payload::kTrustSlotSize)
                           : std::nullopt;
  if (!slot) {
    *error = "the signed file has no single readable trust slot";
    return false;
  }
  *found = *slot;
  if (!sameSlot(*slot, intended)) {
    *error = "the signed file's trust slot is not the one written before signing";
    return false;
  }
  if (!slot->container) {
    *error = "the signed file's trust slot does not pin its payload container";
    return false;
  }
  const std::string problem = payload::releaseSlotProblem(*slot);
  if (!problem.empty()) {
    *error = "the signed file is " + problem + ": it would refuse its payload";
    return false;
  }
  return true;
}

}  // namespace stubpack
