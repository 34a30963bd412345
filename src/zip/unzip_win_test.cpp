// Win32 code.
#include "zip/unzip_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "miniz.h"
#include "support/folder_watch_win.h"
#include "support/test_http_server_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/scope_exit.h"
#include "sysenv/unique_handle_win.h"

namespace {

using testsupport::listFolder;
using testsupport::pathExists;
using testsupport::readFileBytes;
using testsupport::ScratchFolder;
using testsupport::writeFileBytes;

using Progress = std::pair<std::uint32_t, std::uint32_t>;

class RecordingReporter final : public zip::ZipReporter {
 public:
  void ReportProgress(std::uint32_t done, std::uint32_t total) override { progress.emplace_back(done, total); }
  void ReportError(std::uint32_t code) override { errors.push_back(code); }

  std::vector<Progress> progress;
  std::vector<std::uint32_t> errors;
};

struct Item {
  std::string name;  // as stored: 8-bit, "/" between folders, a trailing "/" for a folder item
  std::string data;
  int level = MZ_BEST_COMPRESSION;  // 0 stores the bytes as they are
  // The writer marks every name as UTF-8 (bit 11) unless told that it is not (kNotUtf8).
  mz_uint flags = 0;
  std::string extra{};  // extra field records, in both headers
};

constexpr mz_uint kNotUtf8 = MZ_ZIP_FLAG_ASCII_FILENAME;

void replaceAll(std::string& bytes, const std::string& from, const std::string& to) {
  ASSERT_EQ(from.size(), to.size());
  std::size_t at = 0;
  int replaced = 0;
  while ((at = bytes.find(from, at)) != std::string::npos) {
    bytes.replace(at, from.size(), to);
    at += to.size();
    ++replaced;
  }
  ASSERT_GT(replaced, 0) << from;
}

// A real archive from miniz's writer. Its writer refuses names that start with "/", so such a name
// is stored with "#" in front and patched afterwards in both the local and the central header.
std::string makeArchive(const std::vector<Item>& items) {
  mz_zip_archive writer;
  mz_zip_zero_struct(&writer);
  EXPECT_TRUE(mz_zip_writer_init_heap(&writer, 0, 0));
  std::vector<std::pair<std::string, std::string>> patches;
  for (const Item& item : items) {
    std::string name = item.name;
    if (!name.empty() && name[0] == '/') {
      name[0] = '#';
      patches.emplace_back(name, item.name);
    }
    EXPECT_TRUE(mz_zip_writer_add_mem_ex_v2(&writer, name.c_str(), item.data.data(), item.data.size(), nullptr, 0,
                                            static_cast<mz_uint>(item.level) | item.flags, 0, 0, nullptr,
                                            item.extra.data(), static_cast<mz_uint>(item.extra.size()),
                                            item.extra.data(), static_cast<mz_uint>(item.extra.size())))
        << item.name;
  }
  void* buffer = nullptr;
  size_t size = 0;
  EXPECT_TRUE(mz_zip_writer_finalize_heap_archive(&writer, &buffer, &size));
  std::string bytes(static_cast<const char*>(buffer), size);
  mz_free(buffer);
  mz_zip_writer_end(&writer);
  for (const auto& [from, to] : patches) replaceAll(bytes, from, to);
  return bytes;
}

// Progress of an unpacking that handled items 0..last and then stopped (or finished when last is
// total - 1): each index before its item, then the count once.
std::vector<Progress> progressUpTo(std::uint32_t last, std::uint32_t total) {
  std::vector<Progress> expected;
  for (std::uint32_t i = 0; i <= last && i < total; ++i) expected.emplace_back(i, total);
  expected.emplace_back(total, total);
  return expected;
}

std::string pseudoRandomBytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 12345;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

class Unzip : public ::testing::Test {
 protected:
  struct Outcome {
    bool result = false;
    RecordingReporter reporter;
  };

  // Writes the archive into the scratch folder, opens it as the extraction job does, and unpacks it.
  Outcome unzip(const std::string& archive, const std::wstring& destination) {
    Outcome outcome;
    EXPECT_TRUE(writeFileBytes(archivePath_, archive));
    sysenv::UniqueFileHandle file(CreateFileW(archivePath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file.valid());
    outcome.result = zip::UnzipToFolder(file.get(), destination, &outcome.reporter);
    return outcome;
  }
  Outcome unzip(const std::vector<Item>& items) { return unzip(makeArchive(items), destination_); }

  ScratchFolder scratch_;
  const std::wstring archivePath_ = scratch_.file(L"package.zip");
  const std::wstring destination_ = scratch_.file(L"out");
};

TEST_F(Unzip, WritesEveryItemAndReportsEachIndexBeforeItAndTheCountAtTheEnd) {
  const std::vector<Item> items = {
      {"readme.txt", "read me", 0},
      {"setup.exe", std::string(5000, 'x')},
      {"data.bin", pseudoRandomBytes(70000)},
  };
  const Outcome outcome = unzip(items);
  EXPECT_TRUE(outcome.result);
  EXPECT_EQ(outcome.reporter.progress, progressUpTo(2, 3));
  EXPECT_TRUE(outcome.reporter.errors.empty());
  for (const Item& item : items) {
    EXPECT_EQ(readFileBytes(scratch_.file(L"out\\" + std::wstring(item.name.begin(), item.name.end()))), item.data);
  }

  // No reporter at all is allowed.
  sysenv::UniqueFileHandle file(CreateFileW(archivePath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(zip::UnzipToFolder(file.get(), scratch_.file(L"again"), nullptr));
  EXPECT_EQ(readFileBytes(scratch_.file(L"again\\setup.exe")), items[1].data);
}

TEST_F(Unzip, EmptyArchiveCreatesTheFolderWithItsParentsAndReportsZeroOfZeroOnce) {
  const std::wstring destination = scratch_.file(L"deep\\er\\out");
  const Outcome outcome = unzip(makeArchive({}), destination);
  EXPECT_TRUE(outcome.result);
  EXPECT_EQ(outcome.reporter.progress, (std::vector<Progress>{{0, 0}}));
  EXPECT_EQ(GetFileAttributesW(destination.c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
}

TEST_F(Unzip, ItemsLandUnderTheirFoldersWhetherOrNotTheArchiveHasFolderItems) {
  ASSERT_TRUE(CreateDirectoryW(destination_.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(scratch_.file(L"out\\existing").c_str(), nullptr));
  const Outcome outcome = unzip({
      {"a/b/c.txt", "abc"},
      {"docs/", ""},
      {"existing/", ""},
      {"a/../inside.txt", "resolved"},  // climbs, but stays in the folder
      {"./", ""},                       // the destination itself
  });
  EXPECT_TRUE(outcome.result);
  EXPECT_EQ(outcome.reporter.progress, progressUpTo(4, 5));
  EXPECT_EQ(readFileBytes(scratch_.file(L"out\\a\\b\\c.txt")), "abc");
  EXPECT_EQ(listFolder(scratch_.file(L"out\\docs")), std::vector<std::wstring>{}) << "only the folder";
  EXPECT_EQ(GetFileAttributesW(scratch_.file(L"out\\docs").c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_EQ(readFileBytes(scratch_.file(L"out\\inside.txt")), "resolved");
}

TEST_F(Unzip, EmptyItemGivesAnEmptyFileAndAnExistingFileIsReplaced) {
  ASSERT_TRUE(CreateDirectoryW(destination_.c_str(), nullptr));
  ASSERT_TRUE(writeFileBytes(scratch_.file(L"out\\old.txt"), "an older and longer content"));
  const Outcome outcome = unzip({{"empty.txt", ""}, {"old.txt", "new", 0}});
  EXPECT_TRUE(outcome.result);
  EXPECT_TRUE(pathExists(scratch_.file(L"out\\empty.txt")));
  EXPECT_EQ(readFileBytes(scratch_.file(L"out\\empty.txt")), "");
  EXPECT_EQ(readFileBytes(scratch_.file(L"out\\old.txt")), "new");
}

TEST_F(Unzip, OnlyTheFirst259BytesOfAStoredNameCount) {
  // 250 bytes of "./" resolve to nothing, so the cut leaves a short name that fits in the path.
  std::string name;
  while (name.size() < 250) name += "./";
  name += "abcdefghi";           // bytes 250..258
  name += std::string(41, 'X');  // 300 bytes in all
  ASSERT_EQ(name.size(), 300u);
  const Outcome outcome = unzip({{name, "cut", MZ_BEST_COMPRESSION, kNotUtf8}});
  EXPECT_TRUE(outcome.result);
  EXPECT_EQ(listFolder(destination_), std::vector<std::wstring>{L"abcdefghi"});
  EXPECT_EQ(readFileBytes(scratch_.file(L"out\\abcdefghi")), "cut");
}

TEST_F(Unzip, FailingItemStopsTheUnpackingAndLeavesEarlierItems) {
  struct Case {
    const char* what;
    std::vector<Item> items;  // item 1 fails
    void (*prepare)(const std::wstring& destination, std::string& archive);
    std::vector<std::wstring> left;  // the failed item's file is deleted
  };
  const Case cases[] = {
      {"joined path over 259 characters",
       {{"first.txt", "1"}, {std::string(250, 'd') + ".txt", "long"}, {"later.txt", "3"}},
       nullptr,
       {L"first.txt"}},
      {"CRC-32 mismatch",
       {{"first.txt", "1"}, {"bad.txt", "stored bytes that get corrupted", 0}, {"later.txt", "3"}},
       [](const std::wstring&, std::string& archive) {
         replaceAll(archive, "stored bytes that get corrupted", "stored bytes that got corrupted");
       },
       {L"first.txt"}},
      {"a folder where the file goes",
       {{"first.txt", "1"}, {"bad.txt", "blocked"}, {"later.txt", "3"}},
       [](const std::wstring& destination, std::string&) {
         CreateDirectoryW(destination.c_str(), nullptr);
         CreateDirectoryW((destination + L"\\bad.txt").c_str(), nullptr);
       },
       {L"bad.txt", L"first.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring destination = scratch_.file(std::wstring(c.what, c.what + 6));
    std::string archive = makeArchive(c.items);
    if (c.prepare != nullptr) c.prepare(destination, archive);
    const Outcome outcome = unzip(archive, destination);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.reporter.progress, progressUpTo(1, 3));
    EXPECT_TRUE(outcome.reporter.errors.empty()) << "nothing short was read or written";
    EXPECT_EQ(readFileBytes(destination + L"\\first.txt"), "1");
    std::vector<std::wstring> left = listFolder(destination);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, c.left);
  }
  EXPECT_EQ(GetFileAttributesW(scratch_.file(L"a fold\\bad.txt").c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
}

// An Info-ZIP Unicode Path extra field (0x7075, version 1) for an item stored as `rawName`.
std::string unicodePathField(const std::string& rawName, const std::string& utf8Name) {
  const auto crc = static_cast<std::uint32_t>(
      mz_crc32(MZ_CRC32_INIT, reinterpret_cast<const unsigned char*>(rawName.data()), rawName.size()));
  std::string data(1, '\1');
  for (int i = 0; i < 4; ++i) data += static_cast<char>((crc >> (8 * i)) & 0xFF);
  data += utf8Name;
  return std::string{'\x75', '\x70', static_cast<char>(data.size() & 0xFF), static_cast<char>(data.size() >> 8)} + data;
}

TEST_F(Unzip, NamesAreUtf8WhenTheArchiveSaysSoAndInTheAnsiCodePageOtherwise) {
  const std::string cp850 = "Donn\x82" "es-850.txt";  // as zip on Windows stores "Données-850.txt"
  const std::string unmarked = "caf\xE9.txt";
  const Outcome outcome = unzip({
      {"Donn\xC3\xA9" "es.txt", "flag"},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB.txt", "nested"},
      {cp850, "field", MZ_BEST_COMPRESSION, kNotUtf8, unicodePathField(cp850, "Donn\xC3\xA9" "es-850.txt")},
      {"stale.txt", "stale field", MZ_BEST_COMPRESSION, kNotUtf8, unicodePathField("renamed.txt", "other.txt")},
      {unmarked, "ansi", MZ_BEST_COMPRESSION, kNotUtf8},
  });
  EXPECT_TRUE(outcome.result);
  wchar_t ansi[MAX_PATH] = {};
  ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, unmarked.c_str(), -1, ansi, MAX_PATH), 0);
  std::vector<std::wstring> names = listFolder(destination_);
  std::sort(names.begin(), names.end());
  std::vector<std::wstring> expected = {L"Donn\u00E9es.txt", L"Donn\u00E9es-850.txt", L"stale.txt", ansi,
                                        L"\u65E5\u672C\u8A9E"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  EXPECT_EQ(readFileBytes(destination_ + L"\\\u65E5\u672C\u8A9E\\\u30D5\u30A1\u30A4\u30EB.txt"), "nested");
  EXPECT_EQ(readFileBytes(destination_ + L"\\Donn\u00E9es-850.txt"), "field");
}

TEST_F(Unzip, AUtf8NameIsDecodedWholeAndNotCutAt259Bytes) {
  // Five folders of 20 characters (60 bytes each, as Linux under Wine allows at most 255 bytes a
  // name): 304 bytes in all, 104 characters.
  std::string segment;
  for (int i = 0; i < 20; ++i) segment += "\xE6\x97\xA5";
  std::string name = segment;
  for (int i = 0; i < 4; ++i) name += "/" + segment;
  const Outcome outcome = unzip({{name, "long"}});
  EXPECT_TRUE(outcome.result);
  std::wstring path = destination_;
  for (int i = 0; i < 5; ++i) path += L"\\" + std::wstring(20, L'\u65E5');
  EXPECT_EQ(readFileBytes(path), "long");
}

TEST_F(Unzip, AnItemWhoseNameClaimsUtf8AndIsNotIsRefusedAndEndsTheUnpacking) {
  const std::string raw = "plain.txt";
  const std::vector<Item> refused[] = {
      {{"before.txt", "1"}, {"Donn\xE9" "es.txt", "latin-1 under the flag"}, {"after.txt", "3"}},
      {{"before.txt", "1"}, {raw, "a field", MZ_BEST_COMPRESSION, kNotUtf8, unicodePathField(raw, "bad\xC3")}, {"after.txt", "3"}},
  };
  for (const std::vector<Item>& items : refused) {
    const Outcome outcome = unzip(items);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.reporter.progress, progressUpTo(1, 3));
    EXPECT_TRUE(outcome.reporter.errors.empty());
    EXPECT_EQ(listFolder(destination_), std::vector<std::wstring>{L"before.txt"});
    testsupport::removeTreeForTest(destination_);
  }
}

TEST_F(Unzip, TheFolderAndDeviceRulesApplyToTheDecodedName) {
  // Each raw name is harmless; the name that the Unicode Path field gives is not.
  const std::string decoded[] = {"../sorvane-zip-slip.txt", "a/../../sorvane-zip-slip.txt", "C:/sorvane-zip-slip.txt",
                                 "/sorvane-zip-slip.txt", "nul", "com1.txt"};
  for (const std::string& name : decoded) {
    SCOPED_TRACE(name);
    const std::string raw = "harmless.txt";
    const Outcome outcome = unzip(
        {{"before.txt", "1"}, {raw, "evil", MZ_BEST_COMPRESSION, kNotUtf8, unicodePathField(raw, name)}, {"after.txt", "3"}});
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.reporter.progress, progressUpTo(1, 3));
    EXPECT_EQ(listFolder(destination_), std::vector<std::wstring>{L"before.txt"});
    EXPECT_FALSE(pathExists(scratch_.file(L"sorvane-zip-slip.txt")));
    EXPECT_FALSE(pathExists(L"C:\\sorvane-zip-slip.txt"));
    testsupport::removeTreeForTest(destination_);
  }
}

TEST_F(Unzip, NamesThatWouldLandOutsideTheFolderAreRefusedAndEndTheUnpacking) {
  const std::string refused[] = {
      "../sorvane-zip-slip.txt",
      "a/../../sorvane-zip-slip.txt",
      "C:/sorvane-zip-slip.txt",
      "/sorvane-zip-slip.txt",
      "\\\\127.0.0.1\\c$\\sorvane-zip-slip.txt",
      "a:b",  // a stream of the file "a"
      "nul",  // the null device
  };
  for (const std::string& name : refused) {
    SCOPED_TRACE(name);
    const Outcome outcome = unzip({{"before.txt", "1"}, {name, "evil"}, {"after.txt", "3"}});
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.reporter.progress, progressUpTo(1, 3));
    EXPECT_TRUE(outcome.reporter.errors.empty());
    EXPECT_EQ(listFolder(destination_), std::vector<std::wstring>{L"before.txt"});
    std::vector<std::wstring> scratchNames = listFolder(scratch_.path());
    std::sort(scratchNames.begin(), scratchNames.end());
    EXPECT_EQ(scratchNames, (std::vector<std::wstring>{L"out", L"package.zip"}));
    EXPECT_FALSE(pathExists(L"C:\\sorvane-zip-slip.txt"));
    testsupport::removeTreeForTest(destination_);
  }
}

TEST_F(Unzip, WhatIsNoZipArchiveFailsBeforeAnythingIsCreated) {
  std::string truncated = makeArchive({{"a.txt", "a"}});
  truncated.resize(truncated.size() - 10);
  const std::string inputs[] = {"", "not a zip archive, only some text", truncated};
  for (const std::string& input : inputs) {
    const Outcome outcome = unzip(input, destination_);
    EXPECT_FALSE(outcome.result);
    EXPECT_TRUE(outcome.reporter.progress.empty());
    EXPECT_FALSE(pathExists(destination_));
  }
}

TEST_F(Unzip, FullDiskReportsErrorDiskFullAndDeletesThePartFile) {
  const std::wstring volume = testsupport::tinyVolumeFolder();
  if (volume.empty()) GTEST_SKIP() << "the 64 KiB test volume is not mounted; run through CTest";
  const std::wstring destination = volume + L"unzip-disk-full";
  sysenv::ScopeExit cleanUp([&] { testsupport::removeTreeForTest(destination); });
  const Outcome outcome = unzip(
      makeArchive({{"small.txt", "fits"}, {"big.bin", pseudoRandomBytes(200000), 0}, {"later.txt", "3"}}), destination);
  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.reporter.errors, std::vector<std::uint32_t>{ERROR_DISK_FULL});
  EXPECT_EQ(outcome.reporter.progress, progressUpTo(1, 3));
  EXPECT_EQ(listFolder(destination), std::vector<std::wstring>{L"small.txt"});
}

// Free bytes of the volume that holds `folder`.
std::uint64_t freeBytes(const std::wstring& folder) {
  ULARGE_INTEGER available = {};
  EXPECT_TRUE(GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr));
  return available.QuadPart;
}

// A folder on the 64 KiB test volume, removed again at the end; empty where the volume is missing.
class TinyVolumeDestination {
 public:
  explicit TinyVolumeDestination(const std::wstring& name)
      : path_(testsupport::tinyVolumeFolder().empty() ? L"" : testsupport::tinyVolumeFolder() + name) {}
  ~TinyVolumeDestination() {
    if (!path_.empty()) testsupport::removeTreeForTest(path_);
  }
  TinyVolumeDestination(const TinyVolumeDestination&) = delete;
  TinyVolumeDestination& operator=(const TinyVolumeDestination&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

#define SKIP_WITHOUT_TINY_VOLUME(destination) \
  if ((destination).path().empty()) GTEST_SKIP() << "the 64 KiB test volume is not mounted; run through CTest"

TEST_F(Unzip, AZipBombFailsAsAFullDiskBeforeAnyOfItIsWritten) {
  const TinyVolumeDestination destination(L"unzip-bomb");
  SKIP_WITHOUT_TINY_VOLUME(destination);
  const std::string archive =
      makeArchive({{"small.txt", "fits"}, {"zeros.bin", std::string(40u << 20, '\0')}, {"later.txt", "3"}});
  ASSERT_LT(archive.size(), 64u * 1024) << "a bomb: far smaller than what it unpacks to";
  ASSERT_TRUE(CreateDirectoryW(destination.path().c_str(), nullptr));
  const std::uint64_t freeBefore = freeBytes(destination.path());
  testsupport::FolderWatch watch(destination.path());
  ASSERT_TRUE(watch.watching());

  const Outcome outcome = unzip(archive, destination.path());

  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.reporter.errors, std::vector<std::uint32_t>{ERROR_DISK_FULL});
  EXPECT_EQ(outcome.reporter.progress, progressUpTo(1, 3));
  EXPECT_EQ(listFolder(destination.path()), std::vector<std::wstring>{L"small.txt"});
  // Not even created: the volume was never filled, not for a moment.
  EXPECT_EQ(watch.stop(), std::vector<std::wstring>{L"small.txt"});
  EXPECT_GE(freeBytes(destination.path()) + 4096, freeBefore);
}

TEST_F(Unzip, AnItemThatReplacesAFileMayUseTheSpaceThatFileFrees) {
  const TinyVolumeDestination destination(L"unzip-replace");
  SKIP_WITHOUT_TINY_VOLUME(destination);
  ASSERT_TRUE(CreateDirectoryW(destination.path().c_str(), nullptr));
  // An earlier extraction's file takes most of the volume; the new one is as large.
  // A tiny volume's worth: it fits a size_t on either build.
  const auto size = static_cast<std::size_t>(freeBytes(destination.path()) * 3 / 4);
  ASSERT_TRUE(writeFileBytes(destination.path() + L"\\big.bin", pseudoRandomBytes(size)));
  const std::string newer = pseudoRandomBytes(size + 1).substr(1);
  const Outcome outcome = unzip(makeArchive({{"big.bin", newer, 0}}), destination.path());
  EXPECT_TRUE(outcome.result);
  EXPECT_TRUE(outcome.reporter.errors.empty());
  EXPECT_EQ(readFileBytes(destination.path() + L"\\big.bin"), newer);
}

TEST_F(Unzip, ItemsLargerThanTheWritersBuffersArriveByteForByte) {
  // Several times the writing thread's buffers, deflated and stored, and many small items around them.
  const std::string large = pseudoRandomBytes(3 * 1024 * 1024 + 17);
  std::string text;
  while (text.size() < 2 * 1024 * 1024) text += "installer component feature " + std::to_string(text.size()) + "\r\n";
  std::vector<Item> items = {{"big/random.bin", large}, {"big/stored.bin", large, 0}, {"big/text.txt", text}};
  for (int i = 0; i < 40; ++i) items.push_back({"small/" + std::to_string(i % 5) + "/" + std::to_string(i) + ".txt", std::to_string(i)});
  const Outcome outcome = unzip(items);
  EXPECT_TRUE(outcome.result);
  EXPECT_TRUE(outcome.reporter.errors.empty());
  EXPECT_EQ(outcome.reporter.progress, progressUpTo(42, 43));
  for (const Item& item : items) {
    std::wstring name(item.name.begin(), item.name.end());
    std::replace(name.begin(), name.end(), L'/', L'\\');
    EXPECT_EQ(readFileBytes(destination_ + L"\\" + name), item.data) << item.name;
  }
}

TEST_F(Unzip, ItemsThatFitOneByOneButNotTogetherStopAsAFullDiskBeforeTheFirstThatDoesNot) {
  // Counted against one reading of the free space: the item that no longer fits is refused before it
  // is created, as it would be if the volume were asked before every item.
  const TinyVolumeDestination destination(L"unzip-tally");
  SKIP_WITHOUT_TINY_VOLUME(destination);
  ASSERT_TRUE(CreateDirectoryW(destination.path().c_str(), nullptr));
  const std::size_t third = static_cast<std::size_t>(freeBytes(destination.path()) / 3);
  std::vector<Item> items;
  for (int i = 0; i < 5; ++i) items.push_back({"part" + std::to_string(i) + ".bin", pseudoRandomBytes(third), 0});
  testsupport::FolderWatch watch(destination.path());
  ASSERT_TRUE(watch.watching());

  const Outcome outcome = unzip(makeArchive(items), destination.path());

  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.reporter.errors, std::vector<std::uint32_t>{ERROR_DISK_FULL});
  ASSERT_GE(outcome.reporter.progress.size(), 2u);
  const std::uint32_t failed = outcome.reporter.progress[outcome.reporter.progress.size() - 2].first;
  EXPECT_GE(failed, 2u) << "two thirds fit";
  EXPECT_EQ(listFolder(destination.path()).size(), failed);
  EXPECT_EQ(watch.stop().size(), failed) << "the item that does not fit was never created";
}

// Sets the uncompressed size that the central directory states for the archive's last item.
void stateLastItemSize(std::string& archive, std::uint32_t size) {
  const std::size_t header = archive.rfind("PK\1\2");
  ASSERT_NE(header, std::string::npos);
  for (int i = 0; i < 4; ++i) archive[header + 24 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
}

TEST_F(Unzip, AnItemWhoseSizeLiesFailsWithoutGrowingBeyondTheStatedSize) {
  // The volume keeps less room than one window of the inflater (32 KiB): a single piece written
  // beyond the stated size would fill it and show as a disk-full report.
  const TinyVolumeDestination destination(L"unzip-lies");
  SKIP_WITHOUT_TINY_VOLUME(destination);
  ASSERT_TRUE(CreateDirectoryW(destination.path().c_str(), nullptr));
  const std::wstring filler = testsupport::tinyVolumeFolder() + L"unzip-lies-filler.bin";
  const sysenv::ScopeExit removeFiller([&] { DeleteFileW(filler.c_str()); });
  ASSERT_TRUE(writeFileBytes(filler, std::string(static_cast<std::size_t>(freeBytes(destination.path()) - 12 * 1024), 'f')));

  const struct {
    const char* what;
    std::size_t dataSize;
    std::uint32_t statedSize;
  } cases[] = {
      {"inflates to more than stated", 1u << 20, 1000},
      {"stated empty", 1u << 20, 0},
      {"inflates to less than stated", 1000, 8000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string archive = makeArchive({{"first.txt", "1"}, {"liar.bin", std::string(c.dataSize, 'z')}});
    stateLastItemSize(archive, c.statedSize);
    const Outcome outcome = unzip(archive, destination.path());
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.reporter.progress, progressUpTo(1, 2));
    EXPECT_TRUE(outcome.reporter.errors.empty()) << "refused as a broken item, never written past its size";
    EXPECT_EQ(listFolder(destination.path()), std::vector<std::wstring>{L"first.txt"});
  }
}

TEST_F(Unzip, ReadsByPositionAndLeavesTheArchiveHandleUsable) {
  ASSERT_TRUE(writeFileBytes(archivePath_, makeArchive({{"a.txt", "a"}, {"b/c.txt", std::string(3000, 'c')}})));
  sysenv::UniqueFileHandle file(CreateFileW(archivePath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.valid());
  LARGE_INTEGER away = {};
  away.QuadPart = 17;
  ASSERT_TRUE(SetFilePointerEx(file.get(), away, nullptr, FILE_BEGIN));
  RecordingReporter reporter;
  EXPECT_TRUE(zip::UnzipToFolder(file.get(), destination_, &reporter));
  EXPECT_EQ(readFileBytes(destination_ + L"\\b\\c.txt"), std::string(3000, 'c'));

  LARGE_INTEGER start = {};
  ASSERT_TRUE(SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN));
  char signature[4] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(file.get(), signature, 4, &read, nullptr));
  EXPECT_EQ(std::string(signature, read), std::string("PK\3\4", 4));
}

}  // namespace
