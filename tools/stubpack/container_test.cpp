#include "stubpack/container.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "stubpack/packer.h"
#include "stubpack/synthetic_image.h"

namespace stubpack {
namespace {

TEST(EntryPath, AcceptsRelativeNamesBelowThePayloadFolder) {
  const std::u16string accepted[] = {
      u"Load.html", u"js\\installparams.js", u"images\\Background_small.png", u"a b\\c d.txt",
      u"\u753B\u50CF\\\u30ED\u30B4.png", u"..hidden", std::u16string(259, u'a'),
  };
  for (const std::u16string& path : accepted) {
    EXPECT_EQ(entryPathProblem(path), "") << utf16ToUtf8(path);
  }
}

TEST(EntryPath, RefusesWhatCouldLeaveThePayloadFolderOrCannotBeStored) {
  const struct {
    std::u16string path;
    const char* reason;
  } refused[] = {
      {u"", "empty"},
      {u"\\Windows\\evil.dll", "absolute"},
      {u"/etc/passwd", "absolute"},
      {u"\\\\server\\share\\x", "absolute"},
      {u"C:\\Windows\\evil.dll", "drive"},
      {u"C:evil.dll", "drive"},
      {u"Load.html:stream", "drive"},
      {u"..\\evil.dll", "'..'"},
      {u"js\\..\\..\\evil.dll", "'..'"},
      {u"js\\..", "'..'"},
      {u"..", "'..'"},
      {u".\\Load.html", "'.'"},
      {u"js\\\\x.js", "empty segment"},
      {u"js\\", "empty segment"},
      {u"js/x.js", "'/'"},
      {std::u16string(u"a\u0001b"), "character"},
      {u"a*b", "character"},
      {u"a?b", "character"},
      {std::u16string(260, u'a'), "at most 259"},
      {u"js\\CON", "stub refuses"},
      {u"nul.txt", "stub refuses"},
      {u"name..", "stub refuses"},
      {u"images.\\x.png", "stub refuses"},
  };
  for (const auto& c : refused) {
    const std::string problem = entryPathProblem(c.path);
    EXPECT_NE(problem.find(c.reason), std::string::npos) << utf16ToUtf8(c.path) << ": " << problem;
  }
}

TEST(EntrySize, RefusesFourGibibytesAndMore) {
  EXPECT_EQ(entrySizeProblem(0), "");
  EXPECT_EQ(entrySizeProblem(0xFFFFFFFFull), "");
  EXPECT_NE(entrySizeProblem(0x100000000ull), "");
}

TEST(FillSize, AtLeast524AndRoundsTheTableToEightBytes) {
  for (std::uint64_t before = 1000; before < 1016; ++before) {
    const std::size_t fill = fillSize(before);
    EXPECT_GE(fill, kMinimumFill) << before;
    EXPECT_LT(fill, kMinimumFill + 8) << before;
    EXPECT_EQ((before + fill + payload::kPayloadTrailerSize) % 8, 0u) << before;
  }
  // The shipped stub's table before the fill ends 6 bytes past a multiple of 8: 526 bytes of fill.
  EXPECT_EQ(fillSize(8 * 1000 + 6), 526u);
  EXPECT_EQ(fillSize(0), 524u);
}

TEST(EntryHeader, PathAsZeroPaddedUtf16LeThenSize) {
  Bytes out{0xEE};
  appendEntryHeader(out, u"js\\a\u00E9", 0x0102030405ull);
  ASSERT_EQ(out.size(), 1 + payload::kPayloadEntryHeaderSize);
  const Bytes path{'j', 0, 's', 0, '\\', 0, 'a', 0, 0xE9, 0};
  EXPECT_EQ(Bytes(out.begin() + 1, out.begin() + 11), path);
  for (std::size_t i = 11; i < 1 + 520; ++i) ASSERT_EQ(out[i], 0) << i;
  EXPECT_EQ(Bytes(out.begin() + 521, out.end()), (Bytes{0x05, 0x04, 0x03, 0x02, 0x01, 0, 0, 0}));
}

TEST(EntryList, TheShippedListGivesFifteenEntriesInOrder) {
  const char* listPath = std::getenv("STUBPACK_ENTRY_LIST");
  ASSERT_NE(listPath, nullptr);
  std::ifstream in(listPath, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::u16string> paths;
  std::string error;
  ASSERT_TRUE(parseEntryList(text, &paths, &error)) << error;
  ASSERT_EQ(paths.size(), 15u);
  EXPECT_EQ(paths.front(), u"js\\installparams.js");
  EXPECT_EQ(paths[8], u"js\\jquery-1.11.2.min.js");
  EXPECT_EQ(paths.back(), u"Download.html");
}

TEST(EntryList, SkipsCommentsBlankLinesAndCarriageReturns) {
  std::vector<std::u16string> paths;
  std::string error;
  ASSERT_TRUE(parseEntryList("# comment\r\n\r\nLoad.html\r\n\ncss\\Style.css", &paths, &error)) << error;
  EXPECT_EQ(paths, (std::vector<std::u16string>{u"Load.html", u"css\\Style.css"}));
}

TEST(EntryList, RefusalsNameTheLine) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"Load.html\n..\\evil.dll\n", "line 2 (..\\evil.dll): the path has a '..' segment"},
      {"Load.html\nLOAD.HTML\n", "line 2 (LOAD.HTML): the path is listed twice"},
      {"# x\nC:\\x\n", "line 2 (C:\\x): the path has a drive"},
      {"a\xC0\xAF\n", "line 1"},
  };
  for (const auto& c : cases) {
    std::vector<std::u16string> paths;
    std::string error;
    EXPECT_FALSE(parseEntryList(c.text, &paths, &error)) << c.text;
    EXPECT_EQ(error.rfind(c.expected, 0), 0u) << error;
  }
}

Bytes packedImage(const std::vector<PayloadFile>& files) {
  Bytes packed;
  std::string error;
  EXPECT_TRUE(packContainer(testing::makeSignedImage(false, 300).bytes, files, &packed, &error)) << error;
  return packed;
}

TEST(ReadContainer, ListsWhatWasPacked) {
  const Bytes packed = packedImage({{u"a.txt", {1, 2, 3}}, {u"d\\empty", {}}, {u"d\\b.bin", Bytes(1000, 7)}});
  ContainerListing listing;
  std::string error;
  ASSERT_TRUE(readContainer(packed, &listing, &error)) << error;
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.entries[0].path, u"a.txt");
  EXPECT_EQ(listing.entries[1].path, u"d\\empty");
  EXPECT_EQ(listing.entries[1].size, 0u);
  EXPECT_EQ(listing.entries[2].size, 1000u);
  EXPECT_EQ(Bytes(packed.begin() + static_cast<std::ptrdiff_t>(listing.entries[0].dataOffset),
                  packed.begin() + static_cast<std::ptrdiff_t>(listing.entries[0].dataOffset + 3)),
            (Bytes{1, 2, 3}));
  EXPECT_GE(listing.fill, kMinimumFill);
}

TEST(ReadContainer, RefusesContainersTheStubWouldMisread) {
  const Bytes good = packedImage({{u"a.txt", {1, 2, 3}}});
  ContainerListing listing;
  std::string error;
  ASSERT_TRUE(readContainer(good, &listing, &error)) << error;
  const std::size_t header = listing.start;
  const std::size_t trailer = good.size() - 4;
  const struct {
    const char* name;
    std::size_t offset;
    Bytes bytes;
    const char* reason;
  } cases[] = {
      {"trailer not at the signature end", trailer, {0, 0, 0, 0}, "no payload container"},
      {"path with ..", header, {'.', 0, '.', 0, '\\', 0, 'x', 0}, "'..'"},
      {"size past the trailer", header + 520, {0xFF, 0xFF, 0, 0}, "runs past"},
      {"size of 4 GiB", header + 524, {1, 0, 0, 0}, "4 GiB"},
      {"fill not zero", trailer - 1, {1}, "fill"},
  };
  for (const auto& c : cases) {
    Bytes bent = good;
    std::copy(c.bytes.begin(), c.bytes.end(), bent.begin() + static_cast<std::ptrdiff_t>(c.offset));
    EXPECT_FALSE(readContainer(bent, &listing, &error)) << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
  }
  Bytes unterminated = good;
  for (std::size_t i = 0; i < 520; i += 2) unterminated[header + i] = 'a';
  EXPECT_FALSE(readContainer(unterminated, &listing, &error));
  EXPECT_NE(error.find("not terminated"), std::string::npos) << error;
}

}  // namespace
}  // namespace stubpack
