// Plain code. Puts the payload container into a signed image: inside the attribute certificate
// table, right after the DER-encoded PKCS#7 signature, so that the table (and the file) end with
// the container's trailer. The signature does not cover the table, so it stays valid.
#pragma once

#include <string>
#include <vector>

#include "stubpack/container.h"
#include "stubpack/pe_image.h"

namespace stubpack {

struct PayloadFile {
  std::u16string path;  // relative to the payload folder, backslash-separated
  Bytes data;
};

// The packed image, or false with a reason. Whatever followed the signature inside the table
// (the signer's padding to 8 bytes) is dropped: the container starts at the signature's end. Both
// lengths of the table (data directory 4 and the WIN_CERTIFICATE) are restated to run to the end
// of the file, and the optional header's checksum is recomputed.
bool packContainer(const Bytes& signedImage, const std::vector<PayloadFile>& files, Bytes* packed,
                   std::string* error);

}  // namespace stubpack
