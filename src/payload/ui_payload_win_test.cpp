// Win32 code. Containers built here byte by byte, read from real files into real folders.
#include "payload/ui_payload_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "app/logger_win.h"
#include "support/held_file_win.h"
#include "support/payload_container_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/environment_win.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/shell_win.h"

namespace {

using testsupport::pathExists;
using testsupport::readFileBytes;
using testsupport::ScratchFolder;
using Strings = std::vector<std::string>;

using testsupport::appendLittleEndian;
using testsupport::containerFile;
using Entry = testsupport::ContainerEntry;
Entry entry(const std::wstring& path, const std::string& data) { return testsupport::containerEntry(path, data); }

std::string narrow(const std::wstring& text) { return sysenv::toUtf8(text); }

// The log's lines as "LEVEL message", without the time stamp.
// The unpacking's own lines: a test build's line about its unpinned trust slot comes first in every
// one of these runs and says nothing about the unpacking.
Strings logMessages(const app::Logger& logger) {
  Strings messages;
  const std::string text = readFileBytes(logger.logPath());
  const std::regex line(R"(\[\d{8} \d\d:\d\d:\d\d [ \d]{3} (\w+)\] ([^\r\n]*)\r\n)");
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) {
    if ((*it)[2].str().rfind("trust slot of a test build:", 0) == 0) continue;
    messages.push_back((*it)[1].str() + " " + (*it)[2].str());
  }
  return messages;
}

// A container file in one scratch folder, unpacked into an "out" folder inside it.
class Unpacking : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = scratch_.file(L"out") + L"\\";
    ASSERT_TRUE(CreateDirectoryW(out_.c_str(), nullptr));
  }
  bool unpack(const std::string& fileBytes) {
    const std::wstring exe = scratch_.file(L"packed.exe");
    EXPECT_TRUE(testsupport::writeFileBytes(exe, fileBytes));
    return payload::unpackPayloadFile(exe, out_, &logger_);
  }
  Strings failureLog(const char* message) { return {std::string("ERROR ") + message, kFinished}; }

  static constexpr const char* kFinished = "DEBUG Load Resource from pe finished.";
  ScratchFolder scratch_;
  std::wstring out_;
  app::Logger logger_;
};

TEST_F(Unpacking, ContainerWithoutEntriesSucceedsAndWritesNothing) {
  EXPECT_TRUE(unpack(containerFile({})));
  EXPECT_TRUE(testsupport::listFolder(out_).empty());
  EXPECT_EQ(logMessages(logger_), Strings{kFinished});
}

TEST_F(Unpacking, WritesEveryEntryWithItsFolders) {
  const std::string png("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);
  ASSERT_TRUE(unpack(containerFile({entry(L"js\\installparams.js", "{\"LANG\":[\"en\"]}"),
                                    entry(L"images\\close.png", png), entry(L"a\\b\\c\\deep.txt", "deep"),
                                    entry(L"Load.html", "<html></html>")})));
  EXPECT_EQ(readFileBytes(out_ + L"js\\installparams.js"), "{\"LANG\":[\"en\"]}");
  EXPECT_EQ(readFileBytes(out_ + L"images\\close.png"), png);
  EXPECT_EQ(readFileBytes(out_ + L"a\\b\\c\\deep.txt"), "deep");
  EXPECT_EQ(readFileBytes(out_ + L"Load.html"), "<html></html>");
  EXPECT_EQ(testsupport::listFolder(out_).size(), 4u);
}

TEST_F(Unpacking, SizeZeroEntryMakesAnEmptyFile) {
  ASSERT_TRUE(unpack(containerFile({entry(L"empty.txt", "")})));
  ASSERT_TRUE(pathExists(out_ + L"empty.txt"));
  EXPECT_EQ(readFileBytes(out_ + L"empty.txt"), "");
}

TEST_F(Unpacking, ExistingFileIsReplacedWhole) {
  ASSERT_TRUE(CreateDirectoryW((out_ + L"css").c_str(), nullptr));
  ASSERT_TRUE(testsupport::writeFileBytes(out_ + L"css\\Style.css", "a much longer older content"));
  ASSERT_TRUE(unpack(containerFile({entry(L"css\\Style.css", "new")})));
  EXPECT_EQ(readFileBytes(out_ + L"css\\Style.css"), "new");
}

TEST_F(Unpacking, ForwardSlashesAreWrittenAsFolders) {
  ASSERT_TRUE(unpack(containerFile({entry(L"js/contents.js", "c")})));
  EXPECT_EQ(readFileBytes(out_ + L"js\\contents.js"), "c");
}

TEST_F(Unpacking, TrailerPastTheEndFailsReadingTheHeader) {
  std::string file = containerFile({entry(L"a.txt", "A")});
  file.replace(file.size() - 4, 4, std::string());
  appendLittleEndian(file, file.size() + 4 + 100, 4);
  EXPECT_FALSE(unpack(file));
  EXPECT_TRUE(testsupport::listFolder(out_).empty());
  EXPECT_EQ(logMessages(logger_), failureLog("read file info failed!"));
}

TEST_F(Unpacking, ShortZeroFillFailsReadingTheHeaderButKeepsEarlierEntries) {
  std::string file = containerFile({entry(L"a.txt", "A")});
  file.erase(file.size() - 4 - 524, 200);
  EXPECT_FALSE(unpack(file));
  EXPECT_EQ(readFileBytes(out_ + L"a.txt"), "A");
  EXPECT_EQ(logMessages(logger_), failureLog("read file info failed!"));
}

TEST_F(Unpacking, SizesOfFourGiBOrMoreFailReadingTheData) {
  for (std::uint64_t size : {0x100000000ull, 0x100000001ull, 0xFFFFFFFF00000000ull}) {
    app::Logger logger;
    Entry huge = entry(L"huge.bin", "x");
    huge.statedSize = size;
    const std::wstring exe = scratch_.file(L"huge.exe");
    ASSERT_TRUE(testsupport::writeFileBytes(exe, containerFile({entry(L"first.txt", "1"), huge})));
    EXPECT_FALSE(payload::unpackPayloadFile(exe, out_, &logger)) << size;
    EXPECT_EQ(logMessages(logger), failureLog("read file data failed!")) << size;
    EXPECT_FALSE(pathExists(out_ + L"huge.bin"));
    EXPECT_EQ(readFileBytes(out_ + L"first.txt"), "1");
  }
}

TEST_F(Unpacking, SizeBeyondTheFileFailsReadingTheData) {
  Entry forged = entry(L"forged.bin", "abc");
  forged.statedSize = 0xFFFFFFF0u;  // below 4 GiB, far more than the file holds
  EXPECT_FALSE(unpack(containerFile({forged})));
  EXPECT_FALSE(pathExists(out_ + L"forged.bin"));
  EXPECT_EQ(logMessages(logger_), failureLog("read file data failed!"));
}

TEST_F(Unpacking, FileShorterThanTheTrailerFailsWithoutTheFinishedLine) {
  EXPECT_FALSE(unpack("MZ"));
  EXPECT_EQ(logMessages(logger_), Strings{"ERROR read end of certification table failed!"});
}

TEST_F(Unpacking, MissingFileFailsToOpen) {
  const std::wstring missing = scratch_.file(L"missing.exe");
  EXPECT_FALSE(payload::unpackPayloadFile(missing, out_, &logger_));
  EXPECT_EQ(logMessages(logger_), Strings{"ERROR open file : " + narrow(missing) + " failed!"});
}

TEST_F(Unpacking, EntryThatCannotBeCreatedNamesThePayloadFolder) {
  // A folder of the entry's name stands where the file should go.
  ASSERT_TRUE(CreateDirectoryW((out_ + L"Load.html").c_str(), nullptr));
  EXPECT_FALSE(unpack(containerFile({entry(L"Load.html", "x"), entry(L"later.txt", "y")})));
  EXPECT_FALSE(pathExists(out_ + L"later.txt"));
  EXPECT_EQ(logMessages(logger_), failureLog(("create " + narrow(out_) + " failed!").c_str()));
}

TEST_F(Unpacking, PathsLeavingTheFolderAreRefusedAndNothingIsWrittenOutside) {
  // Each names scratch\escaped.txt, beside the "out" folder, in another way.
  const std::wstring outside = scratch_.file(L"escaped.txt");
  const std::wstring rootRelative = outside.substr(2);  // without "C:"
  const std::wstring cases[] = {L"..\\escaped.txt", L"../escaped.txt", L"sub\\..\\..\\escaped.txt",
                                L"...\\escaped.txt", outside, rootRelative, L"\\\\?\\" + outside,
                                L"C:escaped.txt"};
  for (const std::wstring& path : cases) {
    app::Logger logger;
    const std::wstring exe = scratch_.file(L"evil.exe");
    ASSERT_TRUE(testsupport::writeFileBytes(exe, containerFile({entry(path, "evil")})));
    EXPECT_FALSE(payload::unpackPayloadFile(exe, out_, &logger)) << narrow(path);
    EXPECT_EQ(logMessages(logger), failureLog(("create " + narrow(out_) + " failed!").c_str())) << narrow(path);
    EXPECT_FALSE(pathExists(outside)) << narrow(path);
    EXPECT_TRUE(testsupport::listFolder(out_).empty()) << narrow(path);
  }
}

TEST(WritePayloadEntry, WritesIntoAFolderGivenWithoutItsBackslash) {
  ScratchFolder scratch;
  payload::PayloadEntryHeader header;
  ASSERT_TRUE(payload::makePayloadEntryHeader(u"x\\y.txt", 3, header));
  EXPECT_TRUE(payload::writePayloadEntry(header, reinterpret_cast<const unsigned char*>("abc"), scratch.path()));
  EXPECT_EQ(readFileBytes(scratch.file(L"x\\y.txt")), "abc");
}

TEST(WritePayloadEntry, RefusesWhatCannotBeWrittenInside) {
  ScratchFolder scratch;
  const unsigned char data[] = "abc";
  payload::PayloadEntryHeader unsafe;
  ASSERT_TRUE(payload::makePayloadEntryHeader(u"..\\y.txt", 3, unsafe));
  EXPECT_FALSE(payload::writePayloadEntry(unsafe, data, scratch.file(L"in")));

  payload::PayloadEntryHeader fine;
  ASSERT_TRUE(payload::makePayloadEntryHeader(u"y.txt", 3, fine));
  // An empty folder would mean the current folder.
  EXPECT_FALSE(payload::writePayloadEntry(fine, data, L""));
  EXPECT_FALSE(pathExists(L"y.txt"));
  // Folder and path together beyond MAX_PATH.
  EXPECT_FALSE(payload::writePayloadEntry(fine, data, scratch.path() + L"\\" + std::wstring(250, L'f')));

  payload::PayloadEntryHeader huge;
  ASSERT_TRUE(payload::makePayloadEntryHeader(u"big.txt", 0x100000003ull, huge));
  EXPECT_FALSE(payload::writePayloadEntry(huge, data, scratch.path()));
  EXPECT_FALSE(pathExists(scratch.file(L"big.txt")));
  EXPECT_TRUE(testsupport::listFolder(scratch.path()).empty());
}

// A copy of this test program with a container appended is started with the report variable set;
// it then runs only this test, which unpacks its own container as the stub does at start.
TEST(UiPayloadChild, ReportsWhatItUnpackedFromItself) {
  wchar_t reportPath[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"SORVANE_PAYLOAD_REPORT", reportPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) GTEST_SKIP() << "runs as the child of the UiPayload tests";
  std::string report;
  app::Logger logger;
  {
    payload::UiPayload payload(&logger);
    const std::wstring folder = payload.payloadFolder();
    report += std::string("loaded ") + (payload.loaded() ? "yes" : "no") + "\n";
    report += "folder " + narrow(folder) + "\n";
    for (const wchar_t* name : {L"Load.html", L"js\\installparams.js", L"images\\close.png"}) {
      if (pathExists(folder + name)) report += "file " + narrow(name) + " " + readFileBytes(folder + name) + "\n";
    }
    for (const std::u16string& language : payload.readLanguageList()) {
      report += "language " + narrow(std::wstring(language.begin(), language.end())) + "\n";
    }
    payload.deletePayloadFolder();
    report += std::string("removed ") + (!pathExists(folder) && payload.payloadFolder().empty() ? "yes" : "no") + "\n";
  }
  for (const std::string& message : logMessages(logger)) report += "log " + message + "\n";
  ASSERT_TRUE(testsupport::writeFileBytes(reportPath, report));
}

// Runs a copy of this program with `container` appended after its own bytes; returns the report.
std::string runPackedCopy(const ScratchFolder& scratch, const std::vector<Entry>& entries, bool trailerPastTheEnd) {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_TRUE(length > 0 && length < MAX_PATH);
  std::string file = containerFile(entries, readFileBytes(self));
  if (trailerPastTheEnd) {
    file.resize(file.size() - 4);
    appendLittleEndian(file, file.size() + 4 + 4096, 4);
  }
  const std::wstring copy = scratch.file(L"packed_copy.exe");
  const std::wstring reportPath = scratch.file(L"report.txt");
  EXPECT_TRUE(testsupport::writeFileBytes(copy, file));
  const testsupport::ChildResult child =
      testsupport::runChild(testsupport::quoted(copy) + L" --gtest_filter=UiPayloadChild.*",
                            {{L"SORVANE_PAYLOAD_REPORT", reportPath}});
  EXPECT_TRUE(child.started && child.finished);
  EXPECT_EQ(child.exitCode, 0u);
  return readFileBytes(reportPath);
}

std::string reportValue(const std::string& report, const std::string& key) {
  const size_t at = report.find(key + " ");
  if (at == std::string::npos) return "<none>";
  const size_t start = at + key.size() + 1;
  return report.substr(start, report.find('\n', start) - start);
}

TEST(UiPayload, UnpacksTheContainerOfTheRunningExecutable) {
  ScratchFolder scratch;
  const std::string report = runPackedCopy(
      scratch,
      {entry(L"js\\installparams.js", "var p = {\"LANG\":[\"fr\",\"de\"]};"), entry(L"images\\close.png", "PNG"),
       entry(L"Load.html", "<html/>")},
      false);
  const std::string folder = reportValue(report, "folder");
  // The copy runs as elevated as this process; elevated, it works in the Windows temporary folder.
  std::wstring temp = sysenv::windowsScratchRoot();
  if (!sysenv::isProcessElevated()) ASSERT_TRUE(sysenv::getTempFolder(temp));
  EXPECT_EQ(folder.rfind(narrow(temp), 0), 0u) << folder;
  EXPECT_GT(folder.size(), narrow(temp).size());
  EXPECT_EQ(folder.back(), '\\');
  const std::string expected = "loaded yes\nfolder " + folder +
                               "\nfile Load.html <html/>\n"
                               "file js\\installparams.js var p = {\"LANG\":[\"fr\",\"de\"]};\n"
                               "file images\\close.png PNG\n"
                               "language fr\nlanguage de\n"
                               "removed yes\n"
                               "log DEBUG Load Resource from pe.\n"
                               "log DEBUG Load Resource from pe finished.\n"
                               "log DEBUG load resource success, temporary folder path : " + folder + "\n";
  EXPECT_EQ(report, expected);
}

TEST(UiPayload, UnreadableContainerLeavesItNotLoadedAndTheFolderRemovable) {
  ScratchFolder scratch;
  const std::string report = runPackedCopy(scratch, {entry(L"Load.html", "<html/>")}, true);
  const std::string folder = reportValue(report, "folder");
  EXPECT_NE(folder, "<none>");
  const std::string expected = "loaded no\nfolder " + folder +
                               "\nremoved yes\n"
                               "log DEBUG Load Resource from pe.\n"
                               "log ERROR read file info failed!\n"
                               "log DEBUG Load Resource from pe finished.\n";
  EXPECT_EQ(report, expected);
}

TEST(UiPayload, DestructorRemovesAFolderThatWasNotDeleted) {
  std::wstring folder;
  {
    payload::UiPayload payload(nullptr);
    folder = payload.payloadFolder();
    ASSERT_TRUE(pathExists(folder));
    ASSERT_TRUE(testsupport::writeFileBytes(folder + L"left.txt", "x"));
  }
  EXPECT_FALSE(pathExists(folder));
}

TEST(UiPayload, FolderThatCannotBeDeletedIsReported) {
  app::Logger logger;
  payload::UiPayload payload(&logger);
  const std::wstring folder = payload.payloadFolder();
  // Another process holds a file in it open without delete sharing.
  testsupport::FileHeldByAnotherProcess stuck(folder + L"stuck.txt");
  ASSERT_TRUE(stuck.held());
  payload.deletePayloadFolder();
  EXPECT_TRUE(payload.payloadFolder().empty());
  EXPECT_EQ(logMessages(logger).back(), "ERROR Delete Temp folder failed!");
  EXPECT_TRUE(pathExists(folder + L"stuck.txt"));
  stuck.release();
  testsupport::removeTreeForTest(folder);
}

TEST(UiPayload, ReadsTheLanguageListFromTheUnpackedParameterFile) {
  payload::UiPayload payload(nullptr);
  const std::wstring folder = payload.payloadFolder();
  ASSERT_FALSE(folder.empty());
  using List = std::vector<std::u16string>;
  EXPECT_EQ(payload.readLanguageList(), List{}) << "no js folder";

  ASSERT_TRUE(CreateDirectoryW((folder + L"js").c_str(), nullptr));
  const std::wstring file = folder + L"js\\installparams.js";
  const struct {
    std::string content;
    List expected;
  } cases[] = {
      {"var installParams = {\"LANG\":[\"en\",\"fr\",\"jp\",\"de\",\"it\",\"nl\"],\"CH\":\"web\"};",
       {u"en", u"fr", u"jp", u"de", u"it", u"nl"}},
      {"\xEF\xBB\xBFvar p = {\"LANG\" : [ \"en\" ]};", {u"en"}},
      {"var p = {\"LANG\":[]};", {}},
      {"var p = {\"CH\":\"web\"};", {}},
      {"var p = {\"LANG\":[\"\xC0\xAF\"]};", {}},
      {"", {}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(testsupport::writeFileBytes(file, c.content));
    EXPECT_EQ(payload.readLanguageList(), c.expected) << c.content;
  }
}

}  // namespace
