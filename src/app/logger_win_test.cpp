// Win32 code.
#include "app/logger_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/private_temp_folder_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/environment_win.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/scope_exit.h"
#include "sysenv/unique_handle_win.h"

namespace {

// "[YYYYMMDD HH:MM:SS mmm LEVEL] ", the milliseconds right-aligned in three places.
const char kPrefixPattern[] = R"(\[\d{8} \d{2}:\d{2}:\d{2} (?:  \d| [1-9]\d|[1-9]\d\d) (?:DEBUG|ERROR)\] )";

std::string logText(const app::Logger& logger) { return testsupport::readFileBytes(logger.logPath()); }

// The file's lines without their CR LF; fails the test on a line break that is not CR LF.
std::vector<std::string> logLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "last line has no CR LF: " << text.substr(start);
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "stray line break in: " << line;
  }
  return lines;
}

std::wstring longTemporaryFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  wchar_t longForm[520];
  return GetLongPathNameW(temp, longForm, 520) ? std::wstring(longForm) : std::wstring(temp);
}

ULONGLONG fileTimeValue(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

ULONGLONG nowInMilliseconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return fileTimeValue(now) / 10000;
}

TEST(Logger, MakesItsOwnFolderUnderTheTemporaryFolder) {
  app::Logger logger;
  const std::wstring folder = logger.logFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), L'\\');
  // Elevated (as every process under Wine), the folder is under the Windows temporary folder.
  const std::wstring temp = sysenv::isProcessElevated() ? sysenv::windowsScratchRoot() : longTemporaryFolder();
  EXPECT_EQ(_wcsnicmp(folder.c_str(), temp.c_str(), temp.size()), 0) << folder;
  EXPECT_GT(folder.size(), temp.size() + 1);
  EXPECT_EQ(logger.logPath(), folder + L"installer_log.txt");
  ASSERT_TRUE(testsupport::pathExists(logger.logPath()));
  EXPECT_EQ(logText(logger), "");
  EXPECT_EQ(testsupport::listFolder(folder).size(), 1u);
}

TEST(Logger, DebugLineHasTheUtcPrefixAndEndsInCrLf) {
  app::Logger logger;
  const ULONGLONG before = nowInMilliseconds();
  logger.debug(L"Install start");
  const ULONGLONG after = nowInMilliseconds();

  const std::string text = logText(logger);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(text, match, std::regex(R"(\[(\d{4})(\d{2})(\d{2}) (\d{2}):(\d{2}):(\d{2}) )"
                                                       R"((  \d| [1-9]\d|[1-9]\d\d) DEBUG\] Install start\r\n)")))
      << text;
  SYSTEMTIME stamp{};
  stamp.wYear = static_cast<WORD>(std::stoi(match[1]));
  stamp.wMonth = static_cast<WORD>(std::stoi(match[2]));
  stamp.wDay = static_cast<WORD>(std::stoi(match[3]));
  stamp.wHour = static_cast<WORD>(std::stoi(match[4]));
  stamp.wMinute = static_cast<WORD>(std::stoi(match[5]));
  stamp.wSecond = static_cast<WORD>(std::stoi(match[6]));
  stamp.wMilliseconds = static_cast<WORD>(std::stoi(match[7]));
  FILETIME stampTime;
  ASSERT_TRUE(SystemTimeToFileTime(&stamp, &stampTime));
  const ULONGLONG written = fileTimeValue(stampTime) / 10000;
  EXPECT_LE(before, written);
  EXPECT_LE(written, after);
}

TEST(Logger, ErrorAndDebugLinesNameTheirLevel) {
  app::Logger logger;
  logger.error(L"QJDownload: %d", -2146697208);
  logger.debug(L"QJExtract: %u", 42u);
  logger.debugNarrow("zip: %d", 7);
  const std::vector<std::string> lines = logLines(logText(logger));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(kPrefixPattern) + "QJDownload: -2146697208")));
  EXPECT_NE(lines[0].find(" ERROR] "), std::string::npos);
  EXPECT_NE(lines[1].find(" DEBUG] QJExtract: 42"), std::string::npos);
  EXPECT_NE(lines[2].find(" DEBUG] zip: 7"), std::string::npos);
}

TEST(Logger, WideFormatsTakeWideStringsForPercentS) {
  app::Logger logger;
  logger.debug(L"Property %s: %s\n", L"osbits", L"64");
  logger.error(L"narrow through %S", "capital S");
  const std::vector<std::string> lines = logLines(logText(logger));
  // The message's own line break leaves an empty line after the property.
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(kPrefixPattern) + "Property osbits: 64")))
      << lines[0];
  EXPECT_EQ(lines[1], "");
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(std::string(kPrefixPattern) + "narrow through capital S")))
      << lines[2];
}

TEST(Logger, LineBreakInsideAMessageContinuesWithoutPrefix) {
  app::Logger logger;
  logger.debug(L"first part\nsecond part");
  logger.debugNarrow("third\nfourth");
  const std::vector<std::string> lines = logLines(logText(logger));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(kPrefixPattern) + "first part")));
  EXPECT_EQ(lines[1], "second part");
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(std::string(kPrefixPattern) + "third")));
  EXPECT_EQ(lines[3], "fourth");
}

TEST(Logger, WideTextOutsideAsciiIsWrittenAsUtf8) {
  app::Logger logger;
  logger.debug(L"%s", L"Gr\u00F6\u00DFe \u8B66\u544A");
  logger.error(L"Gr\u00F6\u00DFe \u8B66\u544A");
  const std::string expected = "Gr\xC3\xB6\xC3\x9F" "e \xE8\xAD\xA6\xE5\x91\x8A";
  const std::vector<std::string> lines = logLines(logText(logger));
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& line : lines) {
    ASSERT_GE(line.size(), expected.size());
    EXPECT_EQ(line.substr(line.size() - expected.size()), expected);
  }
}

TEST(Logger, NarrowMessagesKeepTheirBytes) {
  app::Logger logger;
  logger.debugNarrow("entry %s, %d bytes", "caf\xC3\xA9\xFF.txt", 12);
  const std::vector<std::string> lines = logLines(logText(logger));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_search(lines[0], std::regex(std::string("^") + kPrefixPattern)));
  const std::string expected = "DEBUG] entry caf\xC3\xA9\xFF.txt, 12 bytes";
  EXPECT_EQ(lines[0].substr(lines[0].size() - expected.size()), expected);
}

TEST(Logger, LongMessagesAreWrittenWhole) {
  app::Logger logger;
  std::wstring wide(100000, L'w');
  wide += L"\u00E9";
  std::string narrow(70000, 'n');
  logger.debug(L"[%s] %d", wide.c_str(), 1);
  logger.debugNarrow("[%s] %d", narrow.c_str(), 2);
  const std::vector<std::string> lines = logLines(logText(logger));
  ASSERT_EQ(lines.size(), 2u);
  const std::string wideExpected = "DEBUG] [" + std::string(100000, 'w') + "\xC3\xA9] 1";
  const std::string narrowExpected = "DEBUG] [" + narrow + "] 2";
  EXPECT_TRUE(lines[0].size() > wideExpected.size() &&
              lines[0].compare(lines[0].size() - wideExpected.size(), std::string::npos, wideExpected) == 0);
  EXPECT_TRUE(lines[1].size() > narrowExpected.size() &&
              lines[1].compare(lines[1].size() - narrowExpected.size(), std::string::npos, narrowExpected) == 0);
}

TEST(Logger, ClosedFileIsCompleteAndFreeForOthersWhileTheLoggerLives) {
  app::Logger logger;
  logger.debug(L"Property %s: %s\n", L"lang", L"en");
  logger.closeFile();
  logger.debug(L"dropped");
  logger.error(L"dropped");
  logger.debugNarrow("dropped");

  // No share mode: this open succeeds only when nobody else holds the file.
  {
    sysenv::UniqueFileHandle exclusive(CreateFileW(logger.logPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(exclusive.valid()) << GetLastError();
  }
  const std::vector<std::string> lines = logLines(logText(logger));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("Property lang: en"), std::string::npos);
  EXPECT_EQ(lines[1], "");
  EXPECT_TRUE(DeleteFileW(logger.logPath().c_str()));
  logger.debug(L"still dropped");
  EXPECT_FALSE(testsupport::pathExists(logger.logPath()));
}

// Starts this test program suspended with inheritable handles, as an installer child would be
// started; the caller terminates it.
sysenv::UniqueKernelHandle startSuspendedChildInheritingHandles() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = testsupport::quoted(self) + L" --gtest_list_tests";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                      &startup, &process)) {
    return sysenv::UniqueKernelHandle();
  }
  CloseHandle(process.hThread);
  return sysenv::UniqueKernelHandle(process.hProcess);
}

TEST(Logger, ChildProcessesDoNotInheritTheLogFile) {
  // Control: an inheritable handle does reach a child and keeps its file busy after we close ours.
  testsupport::ScratchFolder scratch;
  const std::wstring controlPath = scratch.file(L"inherited.txt");
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  sysenv::UniqueFileHandle control(CreateFileW(controlPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(control.valid());

  app::Logger logger;
  logger.debug(L"before the child");
  sysenv::UniqueKernelHandle child = startSuspendedChildInheritingHandles();
  ASSERT_TRUE(child.valid()) << GetLastError();
  auto endChild = sysenv::ScopeExit([&] {
    TerminateProcess(child.get(), 0);
    WaitForSingleObject(child.get(), 5000);
  });
  control.reset();
  logger.closeFile();

  sysenv::UniqueFileHandle controlAgain(
      CreateFileW(controlPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_FALSE(controlAgain.valid()) << "the child did not inherit the control handle";
  controlAgain.reset();
  sysenv::UniqueFileHandle log(
      CreateFileW(logger.logPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(log.valid()) << "the child holds the log file";
}

TEST(Logger, DestructorRemovesTheFolderWithTheLog) {
  std::wstring folder;
  std::wstring path;
  {
    app::Logger logger;
    logger.debug(L"Install start");
    folder = logger.logFolder();
    path = logger.logPath();
    ASSERT_TRUE(testsupport::pathExists(path));
  }
  EXPECT_FALSE(testsupport::pathExists(path));
  EXPECT_FALSE(testsupport::pathExists(folder));
}

TEST(Logger, UnusableTemporaryFolderLeavesNoLogAndNoFolder) {
  const std::wstring missing = L"C:\\sorvane-missing-temp-" + std::to_wstring(GetCurrentProcessId());
  ASSERT_FALSE(testsupport::pathExists(missing));
  {
    testsupport::ScopedTempVariables temp(missing);  // and this process as one without elevation
    app::Logger logger;
    EXPECT_EQ(logger.logFolder(), L"");
    EXPECT_EQ(logger.logPath(), L"");
    logger.debug(L"nowhere to go");
    logger.error(L"nowhere to go");
    logger.debugNarrow("nowhere to go");
    logger.closeFile();
  }
  EXPECT_FALSE(testsupport::pathExists(missing));
}

TEST(Logger, LinesFromManyThreadsStayWhole) {
  app::Logger logger;
  constexpr int kThreads = 8;
  constexpr int kLinesPerThread = 400;
  const std::wstring filler = std::wstring(100, L'x') + L"\u00E9\u8B66" + std::wstring(100, L'y');
  const std::string narrowFiller = std::string(100, 'x') + "\xC3\xA9\xE8\xAD\xA6" + std::string(100, 'y');
  // All threads start writing at the same moment, so that their lines really compete.
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&, thread] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int line = 0; line < kLinesPerThread; ++line) {
        if (thread % 2 == 0) {
          logger.debug(L"thread %d line %d %s", thread, line, filler.c_str());
        } else {
          logger.debugNarrow("thread %d line %d %s", thread, line, narrowFiller.c_str());
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  const std::regex wellFormed(std::string(kPrefixPattern) + "thread (\\d+) line (\\d+) " + narrowFiller);
  std::set<std::pair<int, int>> seen;
  for (const std::string& line : logLines(logText(logger))) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, wellFormed)) << line;
    seen.insert({std::stoi(match[1]), std::stoi(match[2])});
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLinesPerThread));
}

TEST(Logger, CloseFileWhileOtherThreadsWriteKeepsEveryLineWhole) {
  app::Logger logger;
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 4; ++thread) {
    threads.emplace_back([&, thread] {
      for (int line = 0; !stop.load(); ++line) logger.debug(L"thread %d line %d", thread, line);
    });
  }
  Sleep(50);
  logger.closeFile();
  Sleep(20);
  stop.store(true);
  for (std::thread& thread : threads) thread.join();

  const std::vector<std::string> lines = logLines(logText(logger));
  EXPECT_FALSE(lines.empty());
  const std::regex wellFormed(std::string(kPrefixPattern) + "thread \\d line \\d+");
  for (const std::string& line : lines) ASSERT_TRUE(std::regex_match(line, wellFormed)) << line;
}

}  // namespace
