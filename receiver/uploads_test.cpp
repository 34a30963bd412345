// The two uploads read from memory: log archives (real zips from miniz's writer) and minidumps.
#include <gtest/gtest.h>

#include "receiver/log_archive.h"
#include "receiver/minidump.h"
#include "receiver/test_fixtures.h"

namespace {

using receiver::testing::crashDump;
using receiver::testing::minidump;
using receiver::testing::zipArchive;

TEST(LogArchive, ListsEntriesInOrderAndTheStubLogsErrorLines) {
  const std::string zip = zipArchive(
      {{"log.txt", std::string(5000, 'v')}, {"log.txt.xml", "<x/>"}, {"installer_log.txt", receiver::testing::stubLog()}});
  std::string error;
  const auto archive = receiver::readLogArchive(zip, error);
  ASSERT_TRUE(archive) << error;
  ASSERT_EQ(archive->entries.size(), 3u);
  EXPECT_EQ(archive->entries[0].name, "log.txt");
  EXPECT_EQ(archive->entries[0].size, 5000u);
  EXPECT_EQ(archive->entries[2].name, "installer_log.txt");
  ASSERT_EQ(archive->errorLines.size(), 2u);
  EXPECT_EQ(archive->errorLines[0], "[20261209 18:20:39 412 ERROR] QJDownload: the download failed with 404");
  EXPECT_EQ(archive->errorLines[1], "[20261209 18:20:40   9 ERROR] QJInstall: no setup.exe");
}

TEST(LogArchive, AnArchiveWithoutTheStubLogHasEntriesAndNoErrorLines) {
  std::string error;
  const auto archive = receiver::readLogArchive(zipArchive({{"log.txt", "[x ERROR] not the stub's"}}), error);
  ASSERT_TRUE(archive) << error;
  EXPECT_EQ(archive->entries.size(), 1u);
  EXPECT_TRUE(archive->errorLines.empty());
}

TEST(LogArchive, CodePageNamesAndLinesBecomeCleanText) {
  std::string error;
  const auto archive = receiver::readLogArchive(
      zipArchive({{"Donn\xE9" "es.txt", "x"}, {"installer_log.txt", "[t ERROR] caf\xE9\x01 done\n"}}), error);
  ASSERT_TRUE(archive) << error;
  EXPECT_EQ(archive->entries[0].name, "Donn\xEF\xBF\xBD" "es.txt");
  ASSERT_EQ(archive->errorLines.size(), 1u);
  EXPECT_EQ(archive->errorLines[0], "[t ERROR] caf\xEF\xBF\xBD  done");
}

TEST(LogArchive, RefusesWhatIsNoReadableZip) {
  std::string zip = zipArchive({{"installer_log.txt", receiver::testing::stubLog() + std::string(20000, 'a')}});
  std::string corrupted = zip;
  corrupted[60] = static_cast<char>(corrupted[60] ^ 0x55);  // inside the deflated log: CRC or inflate fails
  std::string error;
  EXPECT_FALSE(receiver::readLogArchive(corrupted, error));
  EXPECT_FALSE(receiver::readLogArchive("", error));
  EXPECT_FALSE(receiver::readLogArchive(crashDump(), error));
  EXPECT_FALSE(receiver::readLogArchive(zip.substr(0, zip.size() / 2), error));
  EXPECT_FALSE(receiver::readLogArchive(std::string("PK\x03\x04", 4) + std::string(100, '\0'), error));
  EXPECT_FALSE(error.empty());
}

TEST(Minidump, FindsTheFaultingModuleAndOffset) {
  std::string error;
  const auto dump = receiver::readMinidump(crashDump(), error);
  ASSERT_TRUE(dump) << error;
  EXPECT_EQ(dump->exceptionCode, 0xC0000005u);
  EXPECT_EQ(dump->threadId, 0x1234u);
  ASSERT_EQ(dump->modules.size(), 2u);
  EXPECT_EQ(dump->modules[0].name, "ntdll.dll");
  EXPECT_EQ(dump->faultingModule, "SorvaneProSetup.exe");
  EXPECT_EQ(dump->offset, 0x1A2Bu);
  EXPECT_EQ(receiver::crashSignature(*dump), "C0000005 SorvaneProSetup.exe+0x1a2b");
}

TEST(Minidump, AnAddressOutsideEveryModuleKeepsTheAddress) {
  std::string error;
  const auto dump = receiver::readMinidump(minidump(0x80000003, 0x1000, {{u"a.dll", 0x2000, 0x1000}}), error);
  ASSERT_TRUE(dump) << error;
  EXPECT_EQ(receiver::crashSignature(*dump), "80000003 ?+0x1000");
}

TEST(Minidump, RefusesLyingOffsetsAndOtherFiles) {
  const std::string good = crashDump();
  std::string error;
  std::string badSignature = good;
  badSignature[0] = 'X';
  std::string directoryOutside = good;
  directoryOutside[12] = '\xF0';
  std::string streamOutside = good;
  streamOutside[32 + 12 + 8 + 3] = '\x7F';  // the exception stream's RVA
  std::string tooManyModules = good;
  const std::size_t listRva = static_cast<unsigned char>(good[32 + 24 + 8]) |
                              (static_cast<unsigned char>(good[32 + 24 + 9]) << 8);
  tooManyModules[listRva + 1] = '\x7F';
  std::string nameOutside = good;
  nameOutside[listRva + 4 + 20 + 3] = '\x7F';
  for (const std::string* bad : {&badSignature, &directoryOutside, &streamOutside, &tooManyModules, &nameOutside}) {
    EXPECT_FALSE(receiver::readMinidump(*bad, error));
  }
  EXPECT_FALSE(receiver::readMinidump(good.substr(0, 40), error));
  EXPECT_FALSE(receiver::readMinidump(zipArchive({{"a", "b"}}), error));
  EXPECT_FALSE(receiver::readMinidump(minidump(1, 2, {}).substr(0, 32 + 36 + 56), error));
}

}  // namespace
