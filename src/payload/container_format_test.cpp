#include "payload/container_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using payload::ContainerReadResult;
using payload::PayloadEntryHeader;

void appendLittleEndian(std::string& bytes, std::uint64_t value, int count) {
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A header written byte by byte, independently of the code under test.
std::string headerBytes(const std::u16string& path, std::uint64_t size) {
  std::string bytes;
  for (std::size_t i = 0; i < 260; ++i) appendLittleEndian(bytes, i < path.size() ? path[i] : 0, 2);
  appendLittleEndian(bytes, size, 8);
  return bytes;
}

struct Entry {
  std::u16string path;
  std::string data;
  std::uint64_t statedSize;  // what the header claims
};
Entry entry(std::u16string path, std::string data) {
  const std::uint64_t size = data.size();
  return {std::move(path), std::move(data), size};
}

// Some bytes standing for the executable, the entries, the zero fill and the trailer.
std::string container(const std::vector<Entry>& entries, std::string prefix = "MZ executable bytes") {
  std::string bytes = std::move(prefix);
  const auto offset = static_cast<std::uint32_t>(bytes.size());
  for (const Entry& e : entries) bytes += headerBytes(e.path, e.statedSize) + e.data;
  bytes.append(524, '\0');
  appendLittleEndian(bytes, offset, 4);
  return bytes;
}

struct Outcome {
  ContainerReadResult result;
  std::vector<std::pair<std::u16string, std::string>> written;
};

Outcome read(const std::string& bytes, bool writerSucceeds = true) {
  payload::MemoryContainerInput input(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  Outcome outcome;
  outcome.result = payload::readContainer(input, [&](const PayloadEntryHeader& header, const unsigned char* data) {
    EXPECT_NE(data, nullptr);
    outcome.written.emplace_back(payload::payloadEntryPath(header),
                                 std::string(reinterpret_cast<const char*>(data), header.size));
    return writerSucceeds;
  });
  return outcome;
}

TEST(PayloadEntryHeader, DecodesLittleEndianPathAndSize) {
  const std::string bytes = headerBytes(u"images\\close.png\u00E9\u65E5", 0x0000000123456789ull);
  PayloadEntryHeader header;
  ASSERT_TRUE(payload::decodePayloadEntryHeader(reinterpret_cast<const unsigned char*>(bytes.data()), 528, header));
  EXPECT_EQ(payload::payloadEntryPath(header), u"images\\close.png\u00E9\u65E5");
  EXPECT_EQ(header.size, 0x0000000123456789ull);

  const auto encoded = payload::encodePayloadEntryHeader(header);
  EXPECT_EQ(std::string(encoded.begin(), encoded.end()), bytes);
}

TEST(PayloadEntryHeader, PathEndsAtTheFirstZeroUnitOrAfter260Units) {
  PayloadEntryHeader header;
  const std::u16string full(260, u'a');
  std::copy(full.begin(), full.end(), header.path);
  EXPECT_EQ(payload::payloadEntryPath(header), full);
  header.path[3] = 0;
  EXPECT_EQ(payload::payloadEntryPath(header), u"aaa");  // what follows the 0 is padding
  header.path[0] = 0;
  EXPECT_TRUE(payload::isEndOfEntries(header));
}

TEST(PayloadEntryHeader, MakeRefusesPathsThatDoNotFit) {
  PayloadEntryHeader header;
  EXPECT_TRUE(payload::makePayloadEntryHeader(std::u16string(259, u'a'), 5, header));
  EXPECT_EQ(header.path[258], u'a');
  EXPECT_EQ(header.path[259], 0);
  EXPECT_FALSE(payload::makePayloadEntryHeader(std::u16string(260, u'a'), 5, header));
  EXPECT_FALSE(payload::makePayloadEntryHeader(std::u16string(u"a\0b", 3), 5, header));
}

TEST(PayloadTrailer, IsLittleEndian) {
  const unsigned char bytes[4] = {0x78, 0x56, 0x34, 0xF2};
  EXPECT_EQ(payload::decodePayloadTrailer(bytes), 0xF2345678u);
}

TEST(PayloadEntryPath, SafetyRule) {
  const struct {
    std::u16string path;
    bool safe;
  } cases[] = {
      {u"Load.html", true},
      {u"images\\close.png", true},
      {u"js/contents.js", true},
      {u"a\\b\\c\\d.txt", true},
      {u".hidden", true},
      {u"a..b", true},
      {u"console.log", true},
      {u"com10", true},
      {u"\u65E5\u672C.txt", true},
      {std::u16string(259, u'a'), true},
      {u"", false},
      {std::u16string(260, u'a'), false},
      {u"..", false},
      {u"..\\x", false},
      {u"../x", false},
      {u"a\\..\\..\\x", false},
      {u"a/../x", false},
      {u"a\\..", false},
      {u".", false},
      {u".\\x", false},
      {u"...", false},
      {u"...\\x", false},
      {u".. \\x", false},
      {u"a.\\x", false},
      {u"x ", false},
      {u"\\x", false},
      {u"/x", false},
      {u"\\\\server\\share\\x", false},
      {u"\\\\?\\C:\\x", false},
      {u"\\\\.\\pipe\\x", false},
      {u"C:\\x", false},
      {u"C:x", false},
      {u"x.txt:stream", false},
      {u"a\\\\b", false},
      {u"a\\", false},
      {u"a//b", false},
      {u"CON", false},
      {u"nul.txt", false},
      {u"images\\Com1.png", false},
      {u"lpt9", false},
      {u"AUX .txt", false},
      {u"conin$", false},
      {u"COM\u00B9", false},
      {u"a\tb", false},
      {u"a\x01", false},
      {u"a*b", false},
      {u"a?b", false},
      {u"a<b", false},
      {u"a>b", false},
      {u"a|b", false},
      {u"a\"b", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(payload::isSafePayloadEntryPath(c.path), c.safe)
        << std::string(c.path.begin(), c.path.end());  // ASCII view is enough to name the case
  }
}

TEST(ReadContainer, NoEntriesIsSuccessWithNothingWritten) {
  const Outcome outcome = read(container({}));
  EXPECT_EQ(outcome.result, ContainerReadResult::kSuccess);
  EXPECT_TRUE(outcome.written.empty());
}

TEST(ReadContainer, HandsOverEveryEntryInOrder) {
  const Outcome outcome = read(container({entry(u"Load.html", "<html>"), entry(u"empty.txt", ""),
                                          entry(u"images\\close.png", std::string("\x89PNG\0\x01", 6))}));
  EXPECT_EQ(outcome.result, ContainerReadResult::kSuccess);
  const decltype(outcome.written) expected = {
      {u"Load.html", "<html>"}, {u"empty.txt", ""}, {u"images\\close.png", std::string("\x89PNG\0\x01", 6)}};
  EXPECT_EQ(outcome.written, expected);
}

TEST(ReadContainer, StopsAtTheFirstZeroHeaderEvenWithEntriesAfterIt) {
  std::string bytes = "EXE" + headerBytes(u"a", 1) + "A" + headerBytes(u"", 0) + headerBytes(u"b", 1) + "B";
  bytes.append(524, '\0');
  appendLittleEndian(bytes, 3, 4);
  const Outcome outcome = read(bytes);
  EXPECT_EQ(outcome.result, ContainerReadResult::kSuccess);
  ASSERT_EQ(outcome.written.size(), 1u);
  EXPECT_EQ(outcome.written[0].first, u"a");
}

TEST(ReadContainer, FailuresStopTheLoopWithTheirResult) {
  std::string shortFill = container({entry(u"a", "A")});
  shortFill.erase(shortFill.size() - 4 - 524, 100);  // the last header read would overlap less than 528
  std::string pastTheEnd = container({entry(u"a", "A")});
  pastTheEnd.replace(pastTheEnd.size() - 4, 4, std::string("\xFF\xFF\x00\x00", 4));
  std::string truncatedData = "EXE" + headerBytes(u"a", 10) + "short";
  appendLittleEndian(truncatedData, 3, 4);
  // The stated size is what is left after the header plus one byte.
  std::string oneTooMany = "EXE" + headerBytes(u"a", 0) + "0123";
  appendLittleEndian(oneTooMany, 3, 4);
  oneTooMany.replace(3 + 520, 8, std::string("\x09\0\0\0\0\0\0\0", 8));

  Entry huge = entry(u"huge", "x");
  huge.statedSize = 0x100000001ull;  // low 32 bits say 1, which the file does hold
  Entry fourGiB = entry(u"huge", "x");
  fourGiB.statedSize = 0x100000000ull;

  const struct {
    const char* name;
    std::string bytes;
    ContainerReadResult result;
    std::size_t written;
  } cases[] = {
      {"empty file", "", ContainerReadResult::kTrailerUnreadable, 0},
      {"shorter than the trailer", "abc", ContainerReadResult::kTrailerUnreadable, 0},
      {"trailer alone pointing at itself", std::string("\0\0\0\0", 4), ContainerReadResult::kHeaderUnreadable, 0},
      {"trailer offset past the end", pastTheEnd, ContainerReadResult::kHeaderUnreadable, 0},
      {"zero fill too short", shortFill, ContainerReadResult::kHeaderUnreadable, 1},
      {"data shorter than stated", truncatedData, ContainerReadResult::kDataUnreadable, 0},
      {"stated size one byte more than the file holds", oneTooMany, ContainerReadResult::kDataUnreadable, 0},
      {"size above 4 GiB", container({entry(u"a", "A"), huge}), ContainerReadResult::kDataUnreadable, 1},
      {"size of exactly 4 GiB", container({fourGiB}), ContainerReadResult::kDataUnreadable, 0},
  };
  for (const auto& c : cases) {
    const Outcome outcome = read(c.bytes);
    EXPECT_EQ(outcome.result, c.result) << c.name;
    EXPECT_EQ(outcome.written.size(), c.written) << c.name;
  }
}

TEST(ReadContainer, AWriterFailureStopsTheLoop) {
  const Outcome outcome = read(container({entry(u"a", "A"), entry(u"b", "B")}), false);
  EXPECT_EQ(outcome.result, ContainerReadResult::kEntryNotWritten);
  EXPECT_EQ(outcome.written.size(), 1u);
}

// Records what the loop asks for, to show that a forged size is refused before any read or
// allocation of that size.
class RecordingInput : public payload::MemoryContainerInput {
 public:
  using MemoryContainerInput::MemoryContainerInput;
  bool read(unsigned char* buffer, std::uint32_t length, std::uint32_t& bytesRead) override {
    largestRequest = std::max(largestRequest, length);
    return MemoryContainerInput::read(buffer, length, bytesRead);
  }
  std::uint32_t largestRequest = 0;
};

TEST(ReadContainer, ForgedSizeIsRefusedBeforeItsDataIsRead) {
  Entry forged = entry(u"a", "A");
  forged.statedSize = 0xFFFFFFF0ull;
  const std::string bytes = container({forged});
  RecordingInput input(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  bool called = false;
  EXPECT_EQ(payload::readContainer(input, [&](const PayloadEntryHeader&, const unsigned char*) { return called = true; }),
            ContainerReadResult::kDataUnreadable);
  EXPECT_FALSE(called);
  EXPECT_EQ(input.largestRequest, 528u);
}

}  // namespace
