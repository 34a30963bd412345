// Plain code.
#include "stubpack/packer.h"

#include <cstdint>

namespace stubpack {

bool packContainer(const Bytes& signedImage, const std::vector<PayloadFile>& files, Bytes* packed,
                   std::string* error) {
  CertificateTable table;
  if (!locateCertificateTable(signedImage, &table, error)) return false;

  // The trailer holds a 32-bit offset and the table's lengths are 32-bit: the whole file must stay
  // below 4 GiB. Sum in 64 bits so that no entry size can wrap the check.
  std::uint64_t total = table.signatureEnd;
  for (const PayloadFile& file : files) {
    std::string problem = entryPathProblem(file.path);
    if (problem.empty()) problem = entrySizeProblem(file.data.size());
    if (!problem.empty()) {
      if (error != nullptr) *error = utf16ToUtf8(file.path) + ": " + problem;
      return false;
    }
    total += payload::kPayloadEntryHeaderSize + file.data.size();
  }
  const std::uint64_t beforeFill = total - table.tableOffset;
  const std::size_t fill = fillSize(beforeFill);
  total += fill + payload::kPayloadTrailerSize;
  if (total > 0xFFFFFFFFull) {
    if (error != nullptr) *error = "the packed file would reach 4 GiB, more than a 32-bit certificate table can state";
    return false;
  }

  Bytes out(signedImage.begin(), signedImage.begin() + static_cast<std::ptrdiff_t>(table.signatureEnd));
  out.reserve(static_cast<std::size_t>(total));
  for (const PayloadFile& file : files) {
    appendEntryHeader(out, file.path, file.data.size());
    out.insert(out.end(), file.data.begin(), file.data.end());
  }
  out.resize(out.size() + fill, 0);
  const std::size_t trailer = out.size();
  out.resize(trailer + payload::kPayloadTrailerSize);
  writeLe32(out.data() + trailer, static_cast<std::uint32_t>(table.signatureEnd));

  setCertificateTableLength(out, table, static_cast<std::uint32_t>(out.size() - table.tableOffset));
  updatePeChecksum(out, table.checksumOffset);
  *packed = std::move(out);
  return true;
}

}  // namespace stubpack
