// Test support for the packaging tool's plain code: a minimal PE image in memory, signed in the
// shape osslsigncode gives (one WIN_CERTIFICATE holding a DER SEQUENCE, the table padded to 8
// bytes and counted in dwLength), so that each test can bend one field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stubpack/pe_image.h"

namespace stubpack::testing {

struct SyntheticImage {
  Bytes bytes;
  std::size_t directoryEntry = 0;
  std::size_t checksumOffset = 0;
  std::size_t tableOffset = 0;
  std::size_t signatureEnd = 0;
};

inline SyntheticImage makeSignedImage(bool pe32Plus, std::size_t signatureBodySize) {
  SyntheticImage image;
  Bytes& b = image.bytes;
  const std::size_t pe = 0x80;
  const std::size_t optional = pe + 24;
  const std::size_t optionalSize = pe32Plus ? 240 : 224;
  b.assign(0x400, 0);  // headers and a stand-in for the sections
  b[0] = 'M';
  b[1] = 'Z';
  writeLe32(&b[0x3C], pe);
  b[pe] = 'P';
  b[pe + 1] = 'E';
  b[pe + 20] = static_cast<std::uint8_t>(optionalSize);
  b[optional] = 0x0B;
  b[optional + 1] = pe32Plus ? 0x02 : 0x01;
  writeLe32(&b[optional + (pe32Plus ? 108 : 92)], 16);
  image.checksumOffset = optional + 64;
  image.directoryEntry = optional + (pe32Plus ? 112 : 96) + 4 * 8;

  image.tableOffset = b.size();
  b.resize(b.size() + 8);  // WIN_CERTIFICATE header, filled in below
  b.push_back(0x30);
  b.push_back(0x82);
  b.push_back(static_cast<std::uint8_t>(signatureBodySize >> 8));
  b.push_back(static_cast<std::uint8_t>(signatureBodySize));
  for (std::size_t i = 0; i < signatureBodySize; ++i) b.push_back(static_cast<std::uint8_t>(0xA0 + i % 7));
  image.signatureEnd = b.size();
  while ((b.size() - image.tableOffset) % 8 != 0) b.push_back(0);
  const auto tableSize = static_cast<std::uint32_t>(b.size() - image.tableOffset);
  writeLe32(&b[image.tableOffset], tableSize);
  b[image.tableOffset + 4] = 0x00;
  b[image.tableOffset + 5] = 0x02;
  b[image.tableOffset + 6] = 0x02;
  writeLe32(&b[image.directoryEntry], static_cast<std::uint32_t>(image.tableOffset));
  writeLe32(&b[image.directoryEntry + 4], tableSize);
  return image;
}

}  // namespace stubpack::testing
