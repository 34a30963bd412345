// Plain code. Compares a packed release with a rebuild of the same commit. Signing is the one step
// that may differ between two builds (the signature holds the signing time, a real release also the
// certificate and a timestamp), so the comparison skips the signature and looks at what it vouches
// for, the image under the Authenticode digest, and at the payload container after it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "stubpack/pe_image.h"

namespace stubpack {

// A stretch of the signed image, named as a reader of the file knows it: "the PE headers", each
// section by its name ("section .rdata"), and "the data after the last section".
struct ImagePart {
  std::string name;
  std::size_t offset = 0;
  std::size_t size = 0;
};

// The parts that together cover the file from its start to the certificate table, in file order.
// Refuses a section table that runs past the headers or a section whose data runs past the table.
bool imageParts(const Bytes& image, const CertificateTable& table, std::vector<ImagePart>* parts,
                std::string* error);

// The Authenticode digest (SHA-256, lower-case hex) of a signed image: the file up to the
// certificate table without the CheckSum field and the table's directory entry. The signer hashes
// exactly these bytes, so this equals the digest inside the signature of an untouched file.
std::string authenticodeDigest(const Bytes& image, const CertificateTable& table);

struct ReleaseComparison {
  std::string givenDigest;
  std::string rebuiltDigest;
  // Empty when both the image and the container are the same; otherwise the first part that
  // differs, e.g. "section .text (first difference at file offset 0x1a2b)" or
  // "payload entry js\contents.js".
  std::string firstDifference;
};

// Both files are packed and signed. False with a reason when either is not (or is malformed).
bool compareReleases(const Bytes& given, const Bytes& rebuilt, ReleaseComparison* comparison, std::string* error);

}  // namespace stubpack
