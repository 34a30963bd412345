// Plain code. The payload container that the stub reads at start: entry headers of 528 bytes (the
// path as 260 UTF-16LE units, zero-padded, then a 64-bit size), each followed by its data, then a
// zero fill of at least 524 bytes and a 4-byte trailer holding the offset of the first header. The
// fill lets the reader take one more 528-byte header (overlapping the trailer) whose path starts
// with 0, and rounds the certificate table up to a multiple of 8 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "payload/container_format.h"
#include "stubpack/pe_image.h"

namespace stubpack {

// The header, trailer and size limit are the stub's own (payload/container_format.h). The fill must
// hold the one more header the reader takes, minus the trailer that header overlaps.
constexpr std::size_t kMinimumFill = payload::kPayloadEntryHeaderSize - payload::kPayloadTrailerSize;

// Empty when `path` may name a file inside the payload folder; otherwise why it may not. Refused:
// empty paths, absolute paths (leading separator), drive or stream prefixes (any ':'), "." and ".."
// segments, empty segments, '/' (the container's separator is the backslash), control characters
// and the characters Windows forbids in names, more than 259 UTF-16 units, and whatever else the
// stub refuses to unpack (device names, segments ending in '.' or ' ').
std::string entryPathProblem(const std::u16string& path);

// Empty when a file of `size` bytes fits an entry; otherwise why not.
std::string entrySizeProblem(std::uint64_t size);

std::string utf16ToUtf8(const std::u16string& text);

// The entry list: one path per line in container order; lines starting with '#' and blank lines
// are skipped, a trailing CR is dropped. Each path must pass entryPathProblem, and no path may
// appear twice (compared without regard to ASCII case, as Windows names are).
bool parseEntryList(const std::string& text, std::vector<std::u16string>* paths, std::string* error);

// Zero bytes to put between the last entry and the trailer, given how many bytes of the certificate
// table come before the fill: at least kMinimumFill, and enough to make the whole table (fill and
// trailer included) a multiple of 8 bytes.
std::size_t fillSize(std::uint64_t tableBytesBeforeFill);

void appendEntryHeader(Bytes& out, const std::u16string& path, std::uint64_t size);

struct ContainerEntry {
  std::u16string path;
  std::uint64_t size = 0;
  std::size_t dataOffset = 0;
};

struct ContainerListing {
  std::size_t start = 0;  // the trailer's offset: the first header
  std::vector<ContainerEntry> entries;
  std::size_t fill = 0;   // bytes between the last entry's data and the trailer
};

// Reads the container of a packed, signed image, checking what the stub's reader relies on and
// more: the trailer points at the end of the signature, every header and its data lie before the
// trailer, the list ends in a header whose path starts with 0, every path is safe and terminated,
// every size is below 4 GiB, and the fill is zero.
bool readContainer(const Bytes& image, ContainerListing* listing, std::string* error);

}  // namespace stubpack
