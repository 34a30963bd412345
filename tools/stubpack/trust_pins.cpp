// Plain code.
#include "stubpack/trust_pins.h"

#include <openssl/evp.h>

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

}  // namespace stubpack
