// Win32 code. Real containers: the stub and a probe program, signed and packed with the staged UI payload by
// the build's packaging tool, run as a user would run them with their own temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/folder_watch_win.h"
#include "support/private_temp_folder_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/environment_win.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/shell_win.h"

namespace {

using testsupport::ScratchFolder;

std::wstring packedProbe() { return testsupport::windowsPathFromEnvironment("SORVANE_PACKED_PROBE"); }
std::wstring packedStub() { return testsupport::windowsPathFromEnvironment("SORVANE_PACKED_STUB"); }
std::wstring stagedPayload() { return testsupport::windowsPathFromEnvironment("SORVANE_STAGED_PAYLOAD"); }

bool isFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Every file below `folder`, by its path relative to it (backslash-separated), with its bytes.
void collectFiles(const std::wstring& folder, const std::wstring& prefix, std::map<std::wstring, std::string>* files) {
  for (const std::wstring& name : testsupport::listFolder(folder)) {
    const std::wstring path = folder + L"\\" + name;
    if (isFolder(path)) {
      collectFiles(path, prefix + name + L"\\", files);
    } else {
      (*files)[prefix + name] = testsupport::readFileBytes(path);
    }
  }
}

std::map<std::wstring, std::string> filesBelow(std::wstring folder) {
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  std::map<std::wstring, std::string> files;
  collectFiles(folder, L"", &files);
  return files;
}

struct ProbeReport {
  testsupport::ChildResult run;
  std::map<std::wstring, std::wstring> fields;  // folder, loaded, languages
};

// Runs the packed probe with `temp` as its temporary folder. With a `keepFolder`, the probe moves
// the unpacked folder there instead of deleting it.
ProbeReport runProbe(const ScratchFolder& temp, const ScratchFolder& reports, const std::wstring& keepFolder = L"") {
  const std::wstring reportPath = reports.file(L"report.txt");
  std::wstring commandLine = testsupport::quoted(packedProbe());
  if (!keepFolder.empty()) commandLine += L" --keep " + testsupport::quoted(keepFolder);
  commandLine += L" " + testsupport::quoted(reportPath);
  ProbeReport report;
  report.run = testsupport::runChild(commandLine, {{L"TMP", temp.path()}, {L"TEMP", temp.path()}});
  const std::string bytes = testsupport::readFileBytes(reportPath);
  const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find(L'\n', begin);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = text.substr(begin, end - begin);
    const std::size_t equals = line.find(L'=');
    if (equals != std::wstring::npos) report.fields[line.substr(0, equals)] = line.substr(equals + 1);
    begin = end + 1;
  }
  return report;
}

class PackedStub : public ::testing::Test {
 protected:
  void SetUp() override {
    if (packedProbe().empty() || packedStub().empty() || stagedPayload().empty()) {
      GTEST_SKIP() << "no packed programs: configure this build with -DSORVANE_NATIVE_TOOLS=<native build>/bin";
    }
  }
};

TEST_F(PackedStub, ProbeUnpacksEveryEntryByteForByteAndReadsTheLanguageList) {
  ScratchFolder temp;
  ScratchFolder reports;
  const std::wstring kept = reports.file(L"kept");
  const ProbeReport report = runProbe(temp, reports, kept);
  ASSERT_TRUE(report.run.finished);
  EXPECT_EQ(report.run.exitCode, 0u);
  EXPECT_EQ(report.fields.at(L"loaded"), L"1");
  EXPECT_EQ(report.fields.at(L"languages"), L"en,fr,jp,de,it,nl");

  // The payload had its own subfolder of the temporary folder.
  const std::wstring folder = report.fields.at(L"folder");
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), L'\\');
  // The probe runs as elevated as this process; elevated, it works in the Windows temporary folder.
  const std::wstring root = sysenv::isProcessElevated() ? sysenv::windowsScratchRoot() : temp.path() + L"\\";
  EXPECT_EQ(_wcsnicmp(folder.c_str(), root.c_str(), root.size()), 0) << sysenv::toUtf8(folder);

  const std::map<std::wstring, std::string> staged = filesBelow(stagedPayload());
  const std::map<std::wstring, std::string> unpacked = filesBelow(kept);
  EXPECT_EQ(staged.size(), 15u);
  ASSERT_EQ(unpacked.size(), staged.size());
  for (const auto& [path, bytes] : staged) {
    const auto found = unpacked.find(path);
    ASSERT_NE(found, unpacked.end()) << sysenv::toUtf8(path);
    EXPECT_TRUE(found->second == bytes) << sysenv::toUtf8(path) << ": " << found->second.size() << " bytes unpacked, "
                                        << bytes.size() << " staged";
  }
}

TEST_F(PackedStub, ProbeDeletesThePayloadFolderAtTheEnd) {
  ScratchFolder temp;
  ScratchFolder reports;
  const ProbeReport report = runProbe(temp, reports);
  ASSERT_TRUE(report.run.finished);
  EXPECT_EQ(report.run.exitCode, 0u);
  const std::wstring folder = report.fields.at(L"folder");
  EXPECT_FALSE(folder.empty());
  EXPECT_FALSE(testsupport::pathExists(folder)) << sysenv::toUtf8(folder);
  EXPECT_EQ(testsupport::listFolder(temp.path()), std::vector<std::wstring>{});
}

// Wine has no HTML document object: the stub unpacks its pages, fails to create the window's
// document, and tears down as after any window run.
TEST_F(PackedStub, PackedStubUnpacksItsPagesAndLeavesTheTemporaryFolderEmpty) {
  ScratchFolder temp;
  const std::vector<std::wstring> windowsBefore = testsupport::windowsScratchFolders();
  // The stub is elevated as this process is; elevated, it works in the Windows temporary folder.
  testsupport::FolderWatch watch(sysenv::isProcessElevated() ? sysenv::windowsScratchRoot() : temp.path());
  ASSERT_TRUE(watch.watching());
  const testsupport::ChildResult run =
      testsupport::runChild(testsupport::quoted(packedStub()), {{L"TMP", temp.path()}, {L"TEMP", temp.path()}}, 60000);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(testsupport::listFolder(temp.path()), std::vector<std::wstring>{});
  EXPECT_EQ(testsupport::newWindowsScratchFolders(windowsBefore), std::vector<std::wstring>{});

  // What existed while it ran: its log, and every page file in a payload folder of its own.
  std::set<std::wstring> payloadFiles;
  std::set<std::wstring> folders;
  bool logMade = false;
  for (const std::wstring& created : watch.stop()) {
    const size_t separator = created.find(L'\\');
    if (separator == std::wstring::npos) continue;
    const std::wstring rest = created.substr(separator + 1);
    if (rest == L"installer_log.txt") {
      logMade = true;
    } else {
      payloadFiles.insert(rest);
      folders.insert(created.substr(0, separator));
    }
  }
  EXPECT_TRUE(logMade);
  EXPECT_EQ(folders.size(), 1u);
  for (const wchar_t* entry : {L"js\\installparams.js", L"Load.html", L"Download.html", L"images\\close.png"}) {
    EXPECT_EQ(payloadFiles.count(entry), 1u) << sysenv::toUtf8(entry);
  }
  EXPECT_EQ(payloadFiles.size(), 15u + 3u);  // the entries and their folders js, images, css
}

// The container lies outside the signature: a changed page leaves the signature valid (the packaging
// tool's tests show it with osslsigncode), but the digest in the signed trust slot no longer matches,
// and not one entry reaches the disk.
TEST_F(PackedStub, ProbeWithAChangedPageInItsContainerWritesNothing) {
  ScratchFolder copy;
  std::string bytes = testsupport::readFileBytes(packedProbe());
  ASSERT_GT(bytes.size(), 4u);
  const auto* tail = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size() - 4);
  const std::size_t container = tail[0] | tail[1] << 8 | tail[2] << 16 | static_cast<std::size_t>(tail[3]) << 24;
  ASSERT_LT(container + 528 + 10, bytes.size());
  bytes[container + 528 + 10] ^= 0x20;  // a byte of the first entry's data
  const std::wstring changed = copy.file(L"payload_probe.exe");
  ASSERT_TRUE(testsupport::writeFileBytes(changed, bytes));

  ScratchFolder temp;
  ScratchFolder reports;
  testsupport::FolderWatch watch(temp.path());
  ASSERT_TRUE(watch.watching());
  const std::wstring reportPath = reports.file(L"report.txt");
  const testsupport::ChildResult run = testsupport::runChild(
      testsupport::quoted(changed) + L" " + testsupport::quoted(reportPath), {{L"TMP", temp.path()}, {L"TEMP", temp.path()}});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_NE(testsupport::readFileBytes(reportPath).find("loaded=0"), std::string::npos);
  // Folders and the log only: no page file was ever written.
  for (const std::wstring& created : watch.stop()) {
    const std::size_t separator = created.find(L'\\');
    if (separator == std::wstring::npos) continue;
    EXPECT_EQ(created.substr(separator + 1), L"installer_log.txt") << sysenv::toUtf8(created);
  }
  EXPECT_EQ(testsupport::listFolder(temp.path()), std::vector<std::wstring>{});
}

// A release's slot (marked by the packer of `make package`) without a package pin: the probe refuses
// its payload and writes nothing; with the package pinned as well, the same container unpacks. The
// slot is changed in a copy: the signature no longer verifies, which the stub does not check of
// itself (what protects its slot is that a user's copy would no longer verify).
TEST_F(PackedStub, AReleaseSlotWithoutAPackagePinRefusesItsPayload) {
  const std::string original = testsupport::readFileBytes(packedProbe());
  const std::string marker = "SorvaneTrustSlot";
  const std::size_t slot = original.find(marker);
  ASSERT_NE(slot, std::string::npos);
  ASSERT_EQ(original[slot + 20], 1);  // the probe pins its container only
  const struct {
    const char* name;
    char flags;
    bool loads;
  } cases[] = {
      {"release without a package pin", 0x11, false},
      {"release with its package pinned", 0x13, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = original;
    bytes[slot + 20] = c.flags;
    ScratchFolder copy;
    const std::wstring changed = copy.file(L"payload_probe.exe");
    ASSERT_TRUE(testsupport::writeFileBytes(changed, bytes));
    ScratchFolder temp;
    ScratchFolder reports;
    testsupport::FolderWatch watch(temp.path());
    ASSERT_TRUE(watch.watching());
    const std::wstring reportPath = reports.file(L"report.txt");
    const testsupport::ChildResult run = testsupport::runChild(
        testsupport::quoted(changed) + L" " + testsupport::quoted(reportPath), {{L"TMP", temp.path()}, {L"TEMP", temp.path()}});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, c.loads ? 0u : 1u);
    EXPECT_NE(testsupport::readFileBytes(reportPath).find(c.loads ? "loaded=1" : "loaded=0"), std::string::npos);
    std::size_t written = 0;
    for (const std::wstring& created : watch.stop()) {
      const std::size_t separator = created.find(L'\\');
      if (separator != std::wstring::npos && created.substr(separator + 1) != L"installer_log.txt") ++written;
    }
    if (!c.loads) EXPECT_EQ(written, 0u);
  }
}

}  // namespace
