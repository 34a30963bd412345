// Win32 code.
#include "zip/background_writer_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "support/wine_test_support_win.h"
#include "sysenv/unique_handle_win.h"

namespace {

using testsupport::readFileBytes;

std::string patternBytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  return bytes;
}

sysenv::UniqueFileHandle openForWriting(const std::wstring& path, DWORD access = GENERIC_WRITE) {
  return sysenv::UniqueFileHandle(
      CreateFileW(path.c_str(), access, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(BackgroundWriter, WritesEveryByteInOrderFileAfterFileWhateverThePieceSizes) {
  testsupport::ScratchFolder scratch;
  zip::BackgroundWriter writer;
  const std::size_t sizes[] = {zip::BackgroundWriter::kSlotBytes * zip::BackgroundWriter::kSlots * 2 + 5, 0, 1,
                               zip::BackgroundWriter::kSlotBytes};
  std::uint32_t seed = 1;
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string data = patternBytes(size, ++seed);
    const std::wstring path = scratch.file(L"file" + std::to_wstring(seed));
    sysenv::UniqueFileHandle file = openForWriting(path);
    ASSERT_TRUE(file.valid());
    writer.begin(file.get(), size);
    // Pieces of uneven sizes, as the inflater hands them over.
    for (std::size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 7 % 70001 + 1) {
      ASSERT_TRUE(writer.write(data.data() + at, std::min(piece, data.size() - at)));
    }
    EXPECT_TRUE(writer.finish());
    EXPECT_EQ(writer.error(), 0u);
    file.reset();
    EXPECT_EQ(readFileBytes(path), data);
  }
}

TEST(BackgroundWriter, AFailedWriteEndsThatFileWithItsErrorAndTheNextFileStartsClean) {
  testsupport::ScratchFolder scratch;
  zip::BackgroundWriter writer;
  // Handed to the writing thread, and written at once by finish().
  for (std::size_t size : {zip::BackgroundWriter::kSlotBytes * (zip::BackgroundWriter::kSlots + 2), std::size_t{4}}) {
    SCOPED_TRACE(size);
    sysenv::UniqueFileHandle readOnly = openForWriting(scratch.file(L"read-only"), GENERIC_READ);
    ASSERT_TRUE(readOnly.valid());
    writer.begin(readOnly.get(), size);
    const std::string data = patternBytes(size, 9);
    bool accepted = true;
    for (std::size_t at = 0; at < data.size() && accepted; at += 32768) {
      accepted = writer.write(data.data() + at, std::min<std::size_t>(32768, data.size() - at));
    }
    EXPECT_FALSE(writer.finish());
    EXPECT_EQ(writer.error(), DWORD{ERROR_ACCESS_DENIED});
  }

  const std::wstring path = scratch.file(L"after");
  sysenv::UniqueFileHandle file = openForWriting(path);
  writer.begin(file.get(), 4);
  EXPECT_TRUE(writer.write("next", 4));
  EXPECT_TRUE(writer.finish());
  EXPECT_EQ(writer.error(), 0u);
  file.reset();
  EXPECT_EQ(readFileBytes(path), "next");
}

}  // namespace
