// Plain code. What the packer needs to know about a signed PE file: where the attribute certificate
// table is, where the DER-encoded signature inside it ends, and how to restate the table's length
// and the optional header's checksum after the table has grown. Every offset comes from untrusted
// bytes and is checked against the buffer before use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stubpack {

using Bytes = std::vector<std::uint8_t>;

// WIN_CERTIFICATE header: dwLength (4), wRevision (2), wCertificateType (2), then the signature.
constexpr std::size_t kWinCertificateHeaderSize = 8;
constexpr std::uint16_t kWinCertRevision2 = 0x0200;
constexpr std::uint16_t kWinCertTypePkcsSignedData = 0x0002;

struct CertificateTable {
  std::size_t directoryEntryOffset = 0;  // file offset of data directory 4 (VirtualAddress, Size)
  std::size_t checksumOffset = 0;        // file offset of the optional header's CheckSum
  std::size_t tableOffset = 0;           // the table's file offset (directory 4's VirtualAddress)
  std::size_t tableSize = 0;             // as the directory states it
  std::size_t signatureEnd = 0;          // file offset just past the DER-encoded PKCS#7 SEQUENCE
  bool pe32Plus = false;
};

// The end of the DER element that starts at `start` (definite lengths only, as DER requires;
// at most four length bytes), or false with a reason when it is malformed or runs past `limit`.
bool derElementEnd(const std::uint8_t* data, std::size_t start, std::size_t limit, std::size_t* end,
                   std::string* error);

// Finds the certificate table of a signed image and the end of its one PKCS#7 signature. Refuses
// an image without a table, a table that is not the last thing in the file (the container must run
// to the end of the file), more than one WIN_CERTIFICATE, or anything but revision 2 PKCS#7.
bool locateCertificateTable(const Bytes& image, CertificateTable* table, std::string* error);

// Writes the new table length into data directory 4 and the WIN_CERTIFICATE's dwLength.
void setCertificateTableLength(Bytes& image, const CertificateTable& table, std::uint32_t length);

// The PE image checksum (the PE format's own algorithm: 16-bit one's-complement sum of
// the file with the CheckSum field counted as zero, plus the file length). Not part of the signed
// hash, so restating it after appending keeps the signature valid.
std::uint32_t peChecksum(const Bytes& image, std::size_t checksumOffset);
void updatePeChecksum(Bytes& image, std::size_t checksumOffset);

std::uint16_t readLe16(const std::uint8_t* p);
std::uint32_t readLe32(const std::uint8_t* p);
std::uint64_t readLe64(const std::uint8_t* p);
void writeLe32(std::uint8_t* p, std::uint32_t value);
void writeLe64(std::uint8_t* p, std::uint64_t value);

}  // namespace stubpack
