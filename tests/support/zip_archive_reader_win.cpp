// Win32 code.
#include "support/zip_archive_reader_win.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "miniz.h"
#include "support/wine_test_support_win.h"

namespace testsupport {

std::uint32_t littleEndian(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
  return value;
}

std::uint32_t crc32Of(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::vector<ZipEntry> readZipArchive(const std::string& archive) {
  const auto le = littleEndian;
  std::vector<ZipEntry> entries;
  EXPECT_GE(archive.size(), 22u);
  if (archive.size() < 22 || le(archive, archive.size() - 22, 4) != 0x06054b50) {
    ADD_FAILURE() << "no end record at the end of the archive";
    return entries;
  }
  const std::size_t endRecord = archive.size() - 22;
  EXPECT_EQ(le(archive, endRecord + 20, 2), 0u) << "archive comment";
  const std::uint32_t count = le(archive, endRecord + 10, 2);
  EXPECT_EQ(le(archive, endRecord + 12, 4) + le(archive, endRecord + 16, 4), endRecord) << "directory bounds";
  std::size_t at = le(archive, endRecord + 16, 4);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (le(archive, at, 4) != 0x02014b50) {
      ADD_FAILURE() << "no directory header for item " << i;
      break;
    }
    ZipEntry entry;
    entry.flags = le(archive, at + 8, 2);
    entry.method = le(archive, at + 10, 2);
    entry.crc = le(archive, at + 16, 4);
    entry.compressedSize = le(archive, at + 20, 4);
    entry.size = le(archive, at + 24, 4);
    const std::uint32_t nameLength = le(archive, at + 28, 2);
    entry.extraAndComment = le(archive, at + 30, 2) + le(archive, at + 32, 2);
    const std::size_t local = le(archive, at + 42, 4);
    entry.name = archive.substr(at + 46, nameLength);
    EXPECT_EQ(le(archive, local, 4), 0x04034b50u) << entry.name;
    entry.localFlags = le(archive, local + 6, 2);
    entry.localMethod = le(archive, local + 8, 2);
    EXPECT_EQ(archive.substr(local + 30, le(archive, local + 26, 2)), entry.name);
    entry.data = archive.substr(local + 30 + le(archive, local + 26, 2) + le(archive, local + 28, 2),
                                entry.compressedSize);
    entries.push_back(entry);
    at += 46 + nameLength + entry.extraAndComment;
  }
  return entries;
}

std::vector<std::string> zipItemNames(const std::wstring& archivePath) {
  std::vector<std::string> names;
  for (const ZipEntry& entry : readZipArchive(readFileBytes(archivePath))) names.push_back(entry.name);
  return names;
}

std::string zipEntryContent(const ZipEntry& entry) {
  std::string content;
  if (entry.method == 0) {
    content = entry.data;
  } else if (entry.method == 8) {
    std::size_t length = 0;
    // Flags 0: a raw deflate stream, as zip items hold it.
    void* inflated = tinfl_decompress_mem_to_heap(entry.data.data(), entry.data.size(), &length, 0);
    if (inflated == nullptr && !entry.data.empty()) {
      ADD_FAILURE() << entry.name << ": does not inflate";
      return content;
    }
    content.assign(static_cast<const char*>(inflated), length);
    mz_free(inflated);
  } else {
    ADD_FAILURE() << entry.name << ": method " << entry.method;
    return content;
  }
  EXPECT_EQ(content.size(), entry.size) << entry.name;
  EXPECT_EQ(crc32Of(content), entry.crc) << entry.name;
  return content;
}

}  // namespace testsupport
