// Plain code. Offsets are those of the PE file format: the optional header follows the 20-byte
// COFF header after the "PE\0\0" signature; its CheckSum sits at offset 64 in both formats, and the
// data directories start at offset 96 (PE32) or 112 (PE32+), eight bytes each.
#include "stubpack/pe_image.h"

#include "sysenv/little_endian.h"

namespace stubpack {

namespace {

constexpr std::size_t kPeSignatureSize = 4;
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::size_t kSizeOfOptionalHeaderField = 16;  // within the COFF header
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::size_t kChecksumField = 64;
constexpr std::size_t kDirectoryCountFieldPe32 = 92;
constexpr std::size_t kDirectoryCountFieldPe32Plus = 108;
constexpr std::size_t kDirectoriesPe32 = 96;
constexpr std::size_t kDirectoriesPe32Plus = 112;
constexpr std::size_t kSecurityDirectory = 4;
constexpr std::size_t kDirectoryEntrySize = 8;

// True when [offset, offset + length) lies inside a buffer of `size` bytes, without overflow.
bool inside(std::size_t size, std::size_t offset, std::size_t length) {
  return offset <= size && length <= size - offset;
}

std::size_t roundUpTo8(std::size_t value) { return (value + 7) & ~static_cast<std::size_t>(7); }

bool fail(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

}  // namespace

std::uint16_t readLe16(const std::uint8_t* p) { return sysenv::readLittleEndian<std::uint16_t>(p); }
std::uint32_t readLe32(const std::uint8_t* p) { return sysenv::readLittleEndian<std::uint32_t>(p); }
std::uint64_t readLe64(const std::uint8_t* p) { return sysenv::readLittleEndian<std::uint64_t>(p); }
void writeLe32(std::uint8_t* p, std::uint32_t value) { sysenv::writeLittleEndian(p, value); }

void writeLe64(std::uint8_t* p, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

bool derElementEnd(const std::uint8_t* data, std::size_t start, std::size_t limit, std::size_t* end,
                   std::string* error) {
  if (start >= limit || limit - start < 2) return fail(error, "the signature is truncated");
  if ((data[start] & 0x1F) == 0x1F) return fail(error, "the signature starts with an unsupported DER tag");
  const std::uint8_t first = data[start + 1];
  std::size_t headerSize = 2;
  std::uint64_t length = first;
  if (first == 0x80) return fail(error, "the signature uses an indefinite length, which DER does not allow");
  if (first > 0x80) {
    const std::size_t lengthBytes = first & 0x7F;
    if (lengthBytes > 4) return fail(error, "the signature's DER length has more than four bytes");
    if (limit - start - 2 < lengthBytes) return fail(error, "the signature's DER length is truncated");
    length = 0;
    for (std::size_t i = 0; i < lengthBytes; ++i) length = (length << 8) | data[start + 2 + i];
    headerSize += lengthBytes;
  }
  if (length > limit - start - headerSize) return fail(error, "the signature's DER length runs past its certificate");
  *end = start + headerSize + static_cast<std::size_t>(length);
  return true;
}

bool locateCertificateTable(const Bytes& image, CertificateTable* table, std::string* error) {
  const std::size_t size = image.size();
  const std::uint8_t* data = image.data();
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return fail(error, "not a PE file (no MZ header)");
  const std::size_t pe = readLe32(data + 0x3C);
  if (!inside(size, pe, kPeSignatureSize + kCoffHeaderSize) || data[pe] != 'P' || data[pe + 1] != 'E' ||
      data[pe + 2] != 0 || data[pe + 3] != 0) {
    return fail(error, "not a PE file (no PE signature)");
  }
  const std::size_t optionalSize = readLe16(data + pe + kPeSignatureSize + kSizeOfOptionalHeaderField);
  const std::size_t optional = pe + kPeSignatureSize + kCoffHeaderSize;
  if (!inside(size, optional, optionalSize) || optionalSize < 2) return fail(error, "the optional header is truncated");
  const std::uint16_t magic = readLe16(data + optional);
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) return fail(error, "unknown optional header magic");
  const bool plus = magic == kMagicPe32Plus;
  const std::size_t countField = plus ? kDirectoryCountFieldPe32Plus : kDirectoryCountFieldPe32;
  const std::size_t directories = plus ? kDirectoriesPe32Plus : kDirectoriesPe32;
  const std::size_t entry = directories + kSecurityDirectory * kDirectoryEntrySize;
  if (optionalSize < entry + kDirectoryEntrySize) return fail(error, "the optional header has no security directory");
  if (readLe32(data + optional + countField) <= kSecurityDirectory) {
    return fail(error, "the optional header has no security directory");
  }

  CertificateTable found;
  found.pe32Plus = plus;
  found.checksumOffset = optional + kChecksumField;
  found.directoryEntryOffset = optional + entry;
  found.tableOffset = readLe32(data + found.directoryEntryOffset);
  found.tableSize = readLe32(data + found.directoryEntryOffset + 4);
  if (found.tableOffset == 0 || found.tableSize == 0) return fail(error, "the file is not signed (no certificate table)");
  if (found.tableOffset % 8 != 0) return fail(error, "the certificate table is not aligned to 8 bytes");
  if (!inside(size, found.tableOffset, found.tableSize)) return fail(error, "the certificate table runs past the end of the file");
  if (found.tableOffset + found.tableSize != size) {
    return fail(error, "the certificate table is not the last thing in the file (" +
                           std::to_string(size - found.tableOffset - found.tableSize) + " bytes follow it)");
  }
  if (found.tableSize < kWinCertificateHeaderSize) return fail(error, "the certificate table is too short");
  const std::uint8_t* certificate = data + found.tableOffset;
  const std::size_t certificateLength = readLe32(certificate);
  if (certificateLength < kWinCertificateHeaderSize || certificateLength > found.tableSize) {
    return fail(error, "the WIN_CERTIFICATE length does not fit its table");
  }
  if (roundUpTo8(certificateLength) != found.tableSize) {
    return fail(error, "the certificate table holds more than one WIN_CERTIFICATE");
  }
  if (readLe16(certificate + 4) != kWinCertRevision2 || readLe16(certificate + 6) != kWinCertTypePkcsSignedData) {
    return fail(error, "the certificate is not a revision 2 PKCS#7 signature");
  }
  const std::size_t signature = found.tableOffset + kWinCertificateHeaderSize;
  if (!derElementEnd(data, signature, found.tableOffset + certificateLength, &found.signatureEnd, error)) return false;
  if (data[signature] != 0x30) return fail(error, "the signature is not a DER SEQUENCE");
  *table = found;
  return true;
}

void setCertificateTableLength(Bytes& image, const CertificateTable& table, std::uint32_t length) {
  writeLe32(image.data() + table.directoryEntryOffset + 4, length);
  writeLe32(image.data() + table.tableOffset, length);
}

std::uint32_t peChecksum(const Bytes& image, std::size_t checksumOffset) {
  std::uint64_t sum = 0;
  const std::size_t size = image.size();
  for (std::size_t i = 0; i < size; i += 2) {
    std::uint32_t word = image[i];
    if (i + 1 < size) word |= static_cast<std::uint32_t>(image[i + 1]) << 8;
    // The CheckSum field counts as zero; it starts on an even offset in every image Windows loads,
    // but mask byte by byte so an odd one cannot make the sum depend on the old value.
    if (i >= checksumOffset && i < checksumOffset + 4) word &= 0xFF00;
    if (i + 1 >= checksumOffset && i + 1 < checksumOffset + 4) word &= 0x00FF;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + size);
}

void updatePeChecksum(Bytes& image, std::size_t checksumOffset) {
  writeLe32(image.data() + checksumOffset, peChecksum(image, checksumOffset));
}

}  // namespace stubpack
