// Win32 code. Archives made by the archivers that packages really come from (tests/make-real-archives,
// run by CTest before this test), each extracted here and compared with the tree it was made from:
// the same names, the same bytes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/wine_test_support_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/unique_handle_win.h"
#include "zip/unzip_win.h"

namespace {

using testsupport::readFileBytes;

class RecordingReporter final : public zip::ZipReporter {
 public:
  void ReportProgress(std::uint32_t done, std::uint32_t total) override { progress.emplace_back(done, total); }
  void ReportError(std::uint32_t code) override { errors.push_back(code); }

  std::vector<std::pair<std::uint32_t, std::uint32_t>> progress;
  std::vector<std::uint32_t> errors;
};

// Every file and folder below `folder`, by relative path: a file's bytes, or "<folder>".
void collectTree(const std::wstring& folder, const std::wstring& prefix, std::map<std::wstring, std::string>& tree) {
  for (const std::wstring& name : testsupport::listFolder(folder)) {
    const std::wstring path = folder + L"\\" + name;
    if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
      tree[prefix + name] = "<folder>";
      collectTree(path, prefix + name + L"\\", tree);
    } else {
      tree[prefix + name] = readFileBytes(path);
    }
  }
}

std::map<std::wstring, std::string> treeOf(const std::wstring& folder) {
  std::map<std::wstring, std::string> tree;
  collectTree(folder, L"", tree);
  return tree;
}

std::string describe(const std::map<std::wstring, std::string>& tree) {
  std::ostringstream text;
  for (const auto& [name, bytes] : tree) text << "\n  " << sysenv::toUtf8(name) << " (" << bytes.size() << " bytes)";
  return text.str();
}

TEST(RealArchives, EachExtractsByteForByteUnderTheNamesItWasMadeFrom) {
  const std::wstring folder = testsupport::windowsPathFromEnvironment("SORVANE_TEST_REAL_ARCHIVES");
  if (folder.empty()) GTEST_SKIP() << "SORVANE_TEST_REAL_ARCHIVES is unset: run through CTest";
  const std::map<std::wstring, std::string> source = treeOf(folder + L"\\source");
  ASSERT_EQ(source.count(L"Donn\u00E9es.txt"), 1u) << describe(source);
  ASSERT_EQ(source.count(L"\u65E5\u672C\u8A9E\\\u30D5\u30A1\u30A4\u30EB.txt"), 1u) << describe(source);

  std::istringstream manifest(readFileBytes(folder + L"\\archives.txt"));
  std::string file, outcome;
  int archives = 0;
  testsupport::ScratchFolder scratch;
  while (manifest >> file >> outcome) {
    SCOPED_TRACE(file);
    ++archives;
    const std::wstring archivePath = folder + L"\\" + std::wstring(file.begin(), file.end());
    const std::wstring destination = scratch.file(std::wstring(file.begin(), file.end()));
    const sysenv::UniqueFileHandle archive(CreateFileW(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(archive.valid());
    RecordingReporter reporter;
    const bool unpacked = zip::UnzipToFolder(archive.get(), destination, &reporter);
    EXPECT_TRUE(reporter.errors.empty());
    if (outcome == "extracts") {
      EXPECT_TRUE(unpacked);
      const std::map<std::wstring, std::string> extracted = treeOf(destination);
      EXPECT_TRUE(extracted == source) << "extracted:" << describe(extracted) << "\nmade from:" << describe(source);
    } else {
      ASSERT_EQ(outcome, "fails-at-first-item");
      EXPECT_FALSE(unpacked);
      ASSERT_FALSE(reporter.progress.empty());
      const std::uint32_t count = reporter.progress.back().second;
      EXPECT_EQ(reporter.progress, (decltype(reporter.progress){{0, count}, {count, count}}));
      EXPECT_EQ(testsupport::listFolder(destination), std::vector<std::wstring>{}) << "nothing left of the item";
    }
  }
  EXPECT_EQ(archives, 10);
}

}  // namespace
