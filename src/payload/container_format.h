// The UI payload container appended to the executable: its entry header, its trailer, the reading
// loop over any byte source, and the rule for which entry paths may be written. The container lies
// outside the signed part of the file, so everything here treats it as hostile input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace payload {

constexpr std::size_t kPayloadPathUnits = 260;         // UTF-16 units of an entry's path, 0-padded
constexpr std::size_t kPayloadEntryHeaderSize = 528;   // path, then a 64-bit size
constexpr std::size_t kPayloadTrailerSize = 4;         // offset of the first header, at the file's end
constexpr std::uint64_t kPayloadEntrySizeLimit = 1ull << 32;  // sizes from 4 GiB on are refused

// One entry header as decoded; the path holds the units exactly as stored, padding included.
struct PayloadEntryHeader {
  char16_t path[kPayloadPathUnits] = {};
  std::uint64_t size = 0;
};

// Decodes 528 bytes (260 UTF-16LE units, then a little-endian uint64). False, leaving `header`
// unchanged, when `length` is not exactly 528.
bool decodePayloadEntryHeader(const unsigned char* bytes, std::size_t length, PayloadEntryHeader& header);
// The 528 bytes of a header, for writers of containers.
std::array<unsigned char, kPayloadEntryHeaderSize> encodePayloadEntryHeader(const PayloadEntryHeader& header);
// A header for `path` and `size`; false when the path has 260 units or more or holds a 0 unit.
bool makePayloadEntryHeader(const std::u16string& path, std::uint64_t size, PayloadEntryHeader& header);

// The little-endian uint32 in the file's last four bytes.
std::uint32_t decodePayloadTrailer(const unsigned char bytes[kPayloadTrailerSize]);

// A header whose first path unit is 0 ends the list.
inline bool isEndOfEntries(const PayloadEntryHeader& header) { return header.path[0] == 0; }
// The path up to its first 0 unit; all 260 units when there is none (such a path is refused).
std::u16string payloadEntryPath(const PayloadEntryHeader& header);

// Whether an entry path names a file strictly inside the payload folder. Refused: an empty path, 260
// units or more; a leading "\" or "/" (root-relative, UNC and device paths); any ":" (drive
// prefixes and alternate data streams); an empty segment; a segment ending in "." or " " (Windows
// drops those, so "..." or ".. " would act as ".."; "." and ".." fall here too); control characters
// and the characters < > " | ? *; and device names such as "CON" or "com1.txt" as a segment. Both
// "\" and "/" separate segments.
bool isSafePayloadEntryPath(const std::u16string& path);

// Where the reading loop stopped.
enum class ContainerReadResult {
  kSuccess,            // every entry handed over, up to the 0 header
  kTrailerUnreadable,  // the file is shorter than the trailer, or its read failed
  kHeaderUnreadable,   // a header read failed or came back short (trailer offset past the end too)
  kDataUnreadable,     // data read failed or short, a size of 4 GiB or more, or more than the file holds
  kEntryNotWritten,    // the writer refused or failed
};

// Sequential reads from the container's file.
class ContainerInput {
 public:
  virtual ~ContainerInput() = default;
  // The file's size in bytes.
  virtual bool size(std::uint64_t& bytes) = 0;
  // Moves the read position; a position past the end is allowed (reads then return 0 bytes).
  virtual bool seek(std::uint64_t offset) = 0;
  // Reads up to `length` bytes at the position and advances it; false when the call itself fails.
  virtual bool read(unsigned char* buffer, std::uint32_t length, std::uint32_t& bytesRead) = 0;
};

// Receives one entry: its header and exactly header.size bytes of data (never null, even for size 0).
using PayloadEntryWriter = std::function<bool(const PayloadEntryHeader& header, const unsigned char* data)>;

// The reading loop: trailer, then header after header until the 0 header. Each entry's data is held
// in memory whole; its size is checked against what is left of the file before any memory is taken,
// so a forged size cannot make the reader allocate more than the file's length.
ContainerReadResult readContainer(ContainerInput& input, const PayloadEntryWriter& writeEntry);

// A container held in memory (fuzzing, tests, checks of a packed file).
class MemoryContainerInput : public ContainerInput {
 public:
  MemoryContainerInput(const unsigned char* bytes, std::size_t length) : bytes_(bytes), length_(length) {}
  bool size(std::uint64_t& bytes) override;
  bool seek(std::uint64_t offset) override;
  bool read(unsigned char* buffer, std::uint32_t length, std::uint32_t& bytesRead) override;

 private:
  const unsigned char* bytes_;
  std::size_t length_;
  std::uint64_t position_ = 0;
};

}  // namespace payload
