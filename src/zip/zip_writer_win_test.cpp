// Win32 code.
#include "zip/zip_writer_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_http_server_win.h"
#include "support/wine_test_support_win.h"
#include "support/zip_archive_reader_win.h"
#include "sysenv/scope_exit.h"
#include "sysenv/unique_handle_win.h"

namespace {

using testsupport::listFolder;
using testsupport::pathExists;
using testsupport::readFileBytes;
using testsupport::ScratchFolder;
using testsupport::writeFileBytes;

// The archives are read back by hand (support/zip_archive_reader_win.h), so that a fault in the
// library that wrote them cannot hide behind the same library reading them.
using Entry = testsupport::ZipEntry;
using testsupport::crc32Of;

std::vector<Entry> readArchive(const std::string& archive) { return testsupport::readZipArchive(archive); }
std::vector<std::string> namesIn(const std::wstring& archivePath) { return testsupport::zipItemNames(archivePath); }

// Same bytes every run; deflate cannot shrink them.
std::string incompressibleBytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 2463534242u;
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state);
  }
  return bytes;
}

const std::string kLogText = [] {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "[2024-05-01 10:00:00.000][DEBUG] QJDownload: step " + std::to_string(i) + "\r\n";
  return text;
}();

class ZipWriter : public ::testing::Test {
 protected:
  // A source file in a folder of its own, as the logs are.
  std::wstring source(const std::wstring& name, const std::string& content) {
    const std::wstring folder = scratch_.file(L"logs");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\" + name;
    EXPECT_TRUE(writeFileBytes(path, content));
    return path;
  }

  ScratchFolder scratch_;
  const std::wstring archive_ = scratch_.file(L"report.zip");
};

TEST_F(ZipWriter, FirstFileMakesAnArchiveWithOneItemUnderItsBareName) {
  ASSERT_TRUE(zip::AddFileToZip(source(L"installer_log.txt", kLogText), archive_));
  const std::vector<Entry> entries = readArchive(readFileBytes(archive_));
  ASSERT_EQ(entries.size(), 1u);
  const Entry& entry = entries[0];
  EXPECT_EQ(entry.name, "installer_log.txt");
  EXPECT_EQ(entry.method, 8u);
  EXPECT_EQ(entry.localMethod, 8u);
  EXPECT_EQ(entry.size, kLogText.size());
  EXPECT_LT(entry.compressedSize, kLogText.size() / 4);
  EXPECT_EQ(entry.crc, crc32Of(kLogText));
  EXPECT_EQ(entry.extraAndComment, 0u);
  // No encryption and no UTF-8 flag: the name is in the ANSI code page.
  EXPECT_EQ(entry.flags & 0x0801u, 0u);
  EXPECT_EQ(entry.localFlags & 0x0801u, 0u);
}

TEST_F(ZipWriter, LaterFilesFollowInOrderAndTheSameFileTwiceGivesTwoItems) {
  const std::wstring first = source(L"installer_log.txt", kLogText);
  const std::wstring second = source(L"MSI1a2b3.LOG", "second log");
  EXPECT_TRUE(zip::AddFileToZip(first, archive_));
  EXPECT_TRUE(zip::AddFileToZip(second, archive_));
  EXPECT_TRUE(zip::AddFileToZip(first, archive_));
  const std::vector<Entry> entries = readArchive(readFileBytes(archive_));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "installer_log.txt");
  EXPECT_EQ(entries[1].name, "MSI1a2b3.LOG");
  EXPECT_EQ(entries[2].name, "installer_log.txt");
  EXPECT_EQ(entries[1].crc, crc32Of("second log"));
  EXPECT_EQ(entries[2].crc, entries[0].crc);
}

TEST_F(ZipWriter, UpToThreeBytesAreStoredAndMoreAreDeflated) {
  const struct {
    const wchar_t* name;
    std::string content;
    std::uint32_t method;
  } cases[] = {
      {L"empty.log", "", 0}, {L"one.log", "1", 0},     {L"three.log", "abc", 0},
      {L"four.log", "abcd", 8}, {L"text.log", kLogText, 8},
  };
  for (const auto& c : cases) EXPECT_TRUE(zip::AddFileToZip(source(c.name, c.content), archive_)) << c.name;
  const std::vector<Entry> entries = readArchive(readFileBytes(archive_));
  ASSERT_EQ(entries.size(), std::size(cases));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(entries[i].name);
    EXPECT_EQ(entries[i].method, cases[i].method);
    EXPECT_EQ(entries[i].localMethod, cases[i].method);
    EXPECT_EQ(entries[i].size, cases[i].content.size());
    EXPECT_EQ(entries[i].crc, crc32Of(cases[i].content));
    if (cases[i].method == 0) {
      EXPECT_EQ(entries[i].data, cases[i].content);
    }
  }
}

TEST_F(ZipWriter, UnreadableSourceLeavesTheArchiveAsItWas) {
  ASSERT_TRUE(zip::AddFileToZip(source(L"installer_log.txt", kLogText), archive_));
  const std::string before = readFileBytes(archive_);

  const std::wstring busy = source(L"busy.log", "being written");
  {
    const sysenv::UniqueFileHandle writer(CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.valid());
    EXPECT_FALSE(zip::AddFileToZip(busy, archive_));
  }
  EXPECT_FALSE(zip::AddFileToZip(scratch_.file(L"logs\\missing.log"), archive_));
  EXPECT_FALSE(zip::AddFileToZip(scratch_.file(L"logs"), archive_));  // a folder
  EXPECT_EQ(readFileBytes(archive_), before);
}

TEST_F(ZipWriter, FailureWithoutAnArchiveCreatesNone) {
  const std::wstring log = source(L"installer_log.txt", kLogText);
  EXPECT_FALSE(zip::AddFileToZip(scratch_.file(L"logs\\missing.log"), archive_));
  EXPECT_FALSE(pathExists(archive_));
  EXPECT_FALSE(zip::AddFileToZip(log, scratch_.file(L"no-such-folder\\report.zip")));
  EXPECT_FALSE(pathExists(scratch_.file(L"no-such-folder")));
  // 260 characters do not fit MAX_PATH with their NUL, though Wine itself would create the file.
  const std::wstring longPath = scratch_.file(std::wstring(259 - scratch_.path().size(), L'a'));
  ASSERT_EQ(longPath.size(), 260u);
  EXPECT_FALSE(zip::AddFileToZip(log, longPath));
  EXPECT_EQ(listFolder(scratch_.path()), std::vector<std::wstring>{L"logs"});
}

TEST_F(ZipWriter, SourceOfFourGibibytesOrMoreIsRefused) {
  // Sparse: only the size is large. Its low 32 bits say 3 bytes.
  const std::wstring huge = source(L"huge.log", "");
  {
    const sysenv::UniqueFileHandle file(CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.valid());
    LARGE_INTEGER end = {};
    end.QuadPart = 0x100000003LL;
    ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.get()));
  }
  EXPECT_FALSE(zip::AddFileToZip(huge, archive_));
  EXPECT_FALSE(pathExists(archive_));
}

TEST_F(ZipWriter, FileThatIsNotAnArchiveIsLeftUnchanged) {
  const std::string contents[] = {"", "short", "not a zip archive, only text long enough to be searched for an end record\r\n",
                                  std::string("PK\5\6", 4) + "truncated end record"};
  const std::wstring log = source(L"installer_log.txt", kLogText);
  for (const std::string& content : contents) {
    ASSERT_TRUE(writeFileBytes(archive_, content));
    EXPECT_FALSE(zip::AddFileToZip(log, archive_)) << content;
    EXPECT_EQ(readFileBytes(archive_), content);
  }
}

TEST_F(ZipWriter, ArchivePathOutsideTheAnsiAsciiRangeIsUsedAsGiven) {
  // miniz decodes the path as UTF-8: handed the ANSI bytes of "é" it would look for another folder.
  const std::wstring folder = scratch_.file(L"Jos\u00e9 \u65e5\u672c");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring archive = folder + L"\\report.zip";
  EXPECT_TRUE(zip::AddFileToZip(source(L"installer_log.txt", kLogText), archive));
  EXPECT_TRUE(zip::AddFileToZip(source(L"second.log", "2nd"), archive));
  EXPECT_EQ(namesIn(archive), (std::vector<std::string>{"installer_log.txt", "second.log"}));
  EXPECT_EQ(listFolder(folder), std::vector<std::wstring>{L"report.zip"});
}

TEST_F(ZipWriter, FullDiskLeavesNoNewArchiveAndAnEarlierOneAsItWas) {
  const std::wstring volume = testsupport::tinyVolumeFolder();
  if (volume.empty()) GTEST_SKIP() << "the 64 KiB test volume is not mounted; run through CTest";
  const std::wstring folder = volume + L"zip-writer-disk-full";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  const sysenv::ScopeExit cleanUp([&] { testsupport::removeTreeForTest(folder); });
  const std::wstring big = source(L"big.bin", incompressibleBytes(200000));
  const std::wstring archive = folder + L"\\report.zip";

  EXPECT_FALSE(zip::AddFileToZip(big, archive));
  EXPECT_TRUE(listFolder(folder).empty());

  ASSERT_TRUE(zip::AddFileToZip(source(L"installer_log.txt", "small log"), archive));
  const std::string before = readFileBytes(archive);
  EXPECT_FALSE(zip::AddFileToZip(big, archive));
  const std::string after = readFileBytes(archive);
  EXPECT_TRUE(after == before) << "the archive went from " << before.size() << " to " << after.size() << " bytes";
  EXPECT_EQ(namesIn(archive), std::vector<std::string>{"installer_log.txt"});
}

}  // namespace
