// Win32 code.
#include "zip/background_writer_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_http_server_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/scope_exit.h"

namespace {

using Begins = zip::BackgroundWriter::Begins;
using testsupport::listFolder;
using testsupport::readFileBytes;

std::string patternBytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  return bytes;
}

// Hands `data` over as one file at `path`, in as many buffers as it takes.
void handOverFile(zip::BackgroundWriter& writer, const std::wstring& path, const std::string& data) {
  std::size_t at = 0;
  bool first = true;
  do {
    const std::size_t part = std::min(data.size() - at, zip::BackgroundWriter::kBufferBytes);
    std::memcpy(writer.buffer(), data.data() + at, part);
    at += part;
    writer.handOver(part, first ? Begins::kFile : Begins::kNothing, path, at == data.size());
    first = false;
  } while (at < data.size());
}

TEST(BackgroundWriter, PutsEveryItemOnDiskInOrderWithTheFoldersItNeeds) {
  testsupport::ScratchFolder scratch;
  const std::wstring root = scratch.file(L"out");
  ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
  ASSERT_TRUE(testsupport::writeFileBytes(root + L"\\replaced.bin", "an older, longer file"));
  zip::BackgroundWriter writer(root);
  // More items than buffers, so that the queue fills; sizes of one buffer, several, none and one byte.
  const std::size_t sizes[] = {zip::BackgroundWriter::kBufferBytes,
                               zip::BackgroundWriter::kBufferBytes * (zip::BackgroundWriter::kBuffers + 1) + 5,
                               0,
                               1,
                               3000,
                               7};
  std::vector<std::pair<std::wstring, std::string>> files;
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    const std::wstring path = root + (i == 3 ? L"\\replaced.bin" : L"\\deep\\er\\" + std::to_wstring(i) + L".bin");
    files.emplace_back(path, patternBytes(sizes[i], static_cast<std::uint32_t>(i)));
    handOverFile(writer, path, files.back().second);
  }
  writer.handOver(0, Begins::kFolder, root + L"\\empty\\folder", true);
  writer.handOver(0, Begins::kNothing, std::wstring(), true);  // an item with nothing to put on disk

  const zip::BackgroundWriter::Progress done = writer.wait();
  EXPECT_EQ(done.itemsDone, std::size(sizes) + 2);
  EXPECT_FALSE(done.failed);
  for (const auto& [path, data] : files) EXPECT_EQ(readFileBytes(path), data);
  EXPECT_EQ(GetFileAttributesW((root + L"\\empty\\folder").c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
}

TEST(BackgroundWriter, TheFirstItemThatFailsStopsTheWritingAndNothingQueuedAfterItIsMade) {
  struct Case {
    const char* what;
    void (*handOverFailing)(zip::BackgroundWriter& writer, const std::wstring& root);
    std::vector<std::wstring> left;
  };
  const Case cases[] = {
      {"a file that cannot be made (a folder is in its place)",
       [](zip::BackgroundWriter& writer, const std::wstring& root) {
         CreateDirectoryW((root + L"\\blocked").c_str(), nullptr);
         handOverFile(writer, root + L"\\blocked", "x");
       },
       {L"before", L"blocked"}},
      {"a file given up by the caller after its first buffer",
       [](zip::BackgroundWriter& writer, const std::wstring& root) {
         std::memset(writer.buffer(), 'g', zip::BackgroundWriter::kBufferBytes);
         writer.handOver(zip::BackgroundWriter::kBufferBytes, Begins::kFile, root + L"\\given-up", false);
         writer.handOver(0, Begins::kNothing, root + L"\\given-up", true, false);
       },
       {L"before"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::ScratchFolder scratch;
    const std::wstring root = scratch.file(L"out");
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    zip::BackgroundWriter writer(root);
    handOverFile(writer, root + L"\\before", "1");
    c.handOverFailing(writer, root);
    // Handed over before the writing thread can have reached the failure.
    handOverFile(writer, root + L"\\later\\after", "3");
    writer.handOver(0, Begins::kFolder, root + L"\\later-folder", true);

    const zip::BackgroundWriter::Progress done = writer.wait();
    EXPECT_TRUE(done.failed);
    EXPECT_EQ(done.itemsDone, 1u);
    EXPECT_EQ(done.error, 0u) << "no write failed";
    std::vector<std::wstring> left = listFolder(root);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, c.left);
  }
}

TEST(BackgroundWriter, AWriteThatFailsEndsWithItsErrorAndItsFileDeleted) {
  const std::wstring volume = testsupport::tinyVolumeFolder();
  if (volume.empty()) GTEST_SKIP() << "the 64 KiB test volume is not mounted; run through CTest";
  const std::wstring root = volume + L"writer-disk-full";
  ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
  const sysenv::ScopeExit cleanUp([&] { testsupport::removeTreeForTest(root); });
  zip::BackgroundWriter writer(root);
  handOverFile(writer, root + L"\\small", "fits");
  handOverFile(writer, root + L"\\huge", patternBytes(2 * zip::BackgroundWriter::kBufferBytes, 5));
  handOverFile(writer, root + L"\\later", "3");

  const zip::BackgroundWriter::Progress done = writer.wait();
  EXPECT_TRUE(done.failed);
  EXPECT_EQ(done.itemsDone, 1u);
  EXPECT_EQ(done.error, DWORD{ERROR_DISK_FULL});
  EXPECT_EQ(listFolder(root), std::vector<std::wstring>{L"small"});
}

}  // namespace
