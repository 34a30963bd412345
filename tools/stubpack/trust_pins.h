// Plain code. What the packer writes into the stub's trust slot before signing: the digest of the
// container it is about to append, and the release's package pins.
#pragma once

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

}  // namespace stubpack
