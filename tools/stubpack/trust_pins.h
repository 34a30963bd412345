// Plain code. What the packer writes into the stub's trust slot before signing: the digest of the
// container it is about to append, and the release's package pins.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "payload/trust_slot.h"
#include "stubpack/container.h"
#include "stubpack/packer.h"

namespace stubpack {

// The digest that the stub checks its container against: SHA-256 over each entry's header and data
// in order, then the 0 header that ends the list.
payload::TrustDigest containerDigest(const std::vector<PayloadFile>& files);

payload::TrustDigest sha256(const Bytes& bytes);

// Writes `slot` into the stub's one empty trust slot. False with a reason when the image has no slot,
// more than one marker, a slot that is already filled or unreadable, or pins that do not fit.
bool fillTrustSlot(Bytes& image, const payload::TrustSlot& slot, std::string* error);

// The SHA-256 of the DER SubjectPublicKeyInfo of the (first) certificate in a PEM file: the key pin
// that `openssl x509 -pubkey -noout | openssl pkey -pubin -outform DER | sha256sum` prints. Nothing,
// with a reason, when the text holds no certificate.
std::optional<payload::TrustDigest> certificateKeyDigest(const Bytes& pem, std::string* error);

// The pins of a slot, one "name: value" line each, as stubpack prints them after packing.
std::string describeTrustSlot(const payload::TrustSlot& slot);

// Reads the slot back from a signed image and checks it: it must be exactly `intended`, carry the
// container pin, and, in a release's slot, every package pin (payload::releaseSlotProblem). False
// with a reason otherwise; `found` receives what the image carries when it could be read.
bool checkSignedTrustSlot(const Bytes& signedImage, const payload::TrustSlot& intended, payload::TrustSlot* found,
                          std::string* error);

}  // namespace stubpack
