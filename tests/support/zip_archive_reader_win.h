// Win32 code. Reads zip archives back by hand, from the format's own layout, so that a fault in
// the library that wrote them cannot hide behind the same library reading them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct ZipEntry {
  std::string name;
  std::uint32_t method = 0, flags = 0, crc = 0, compressedSize = 0, size = 0, extraAndComment = 0;
  std::uint32_t localMethod = 0, localFlags = 0;
  std::string data;  // the bytes as stored
};

// The items in central-directory order. Fails the test when the end record is not where an archive
// without a comment has it, or a header is not where the directory says.
std::vector<ZipEntry> readZipArchive(const std::string& archive);
// The item names of the archive file, in directory order.
std::vector<std::string> zipItemNames(const std::wstring& archivePath);
// The item's content: stored bytes as they are, deflated ones inflated. Fails the test when the
// method is another, the data does not inflate, or size or CRC-32 disagree with the directory.
std::string zipEntryContent(const ZipEntry& entry);

// Little-endian unsigned integer of `width` bytes at `at`.
std::uint32_t littleEndian(const std::string& bytes, std::size_t at, int width);
// The zip format's CRC-32, computed bit by bit.
std::uint32_t crc32Of(const std::string& bytes);

}  // namespace testsupport
