// Win32 code.
#include "sysenv/scratch_folder_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/file_links_win.h"
#include "support/folder_security_win.h"
#include "support/private_temp_folder_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/environment_win.h"
#include "sysenv/scratch_rules.h"
#include "sysenv/shell_win.h"
#include "sysenv/wide_text_win.h"

namespace {

using testsupport::AllowedAce;
using testsupport::Principal;
using testsupport::readFileBytes;
using testsupport::ScratchFolder;
using testsupport::writeFileBytes;

constexpr BYTE kInheritedByAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
const std::vector<AllowedAce> kScratchAces = {{Principal::System, FILE_ALL_ACCESS, kInheritedByAll},
                                              {Principal::Administrators, FILE_ALL_ACCESS, kInheritedByAll}};

// The folder's name (the last component, without the trailing backslash) and its parent with one.
std::wstring nameOf(const std::wstring& folder) {
  const std::wstring trimmed = folder.substr(0, folder.size() - 1);
  return trimmed.substr(trimmed.rfind(L'\\') + 1);
}
std::wstring parentOf(const std::wstring& folder) { return folder.substr(0, folder.size() - nameOf(folder).size() - 1); }

// A scratch folder of an elevated process, deleted at the end.
struct ElevatedScratch {
  std::wstring path;
  ElevatedScratch() { EXPECT_TRUE(sysenv::createScratchFolder(path, true)); }
  ~ElevatedScratch() {
    if (!path.empty()) sysenv::deleteFolderTree(path);
  }
};

// Owned by Administrators; SYSTEM and Administrators alone, with full control; nothing inherited.
void expectScratchSecurity(const testsupport::StoredSecurity& security) {
  EXPECT_TRUE(security.read);
  EXPECT_EQ(security.owner, Principal::Administrators);
  EXPECT_TRUE(security.daclProtected);
  EXPECT_TRUE(security.onlyAllowedAces);
  EXPECT_EQ(security.aces, kScratchAces);
}

TEST(ScratchFolder, TheFolderIsCreatedOwnedByAdministratorsWithOnlySystemAndAdministrators) {
  expectScratchSecurity(testsupport::describeSddl(sysenv::toWide(sysenv::kScratchFolderSddl).c_str()));
}

TEST(ScratchFolder, ElevatedLandsInTheWindowsTemporaryFolderWithAGuidNameAndAProtectedDacl) {
  const testsupport::ScopedPrivateTempFolder userTemp;
  ElevatedScratch scratch;
  ASSERT_FALSE(scratch.path.empty());
  ASSERT_EQ(scratch.path.back(), L'\\');

  wchar_t windows[MAX_PATH] = {};
  ASSERT_GT(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
  const std::wstring windowsFolder = std::wstring(windows) + L"\\";
  const DWORD systemTemp = GetFileAttributesW((windowsFolder + L"SystemTemp").c_str());
  const std::wstring expectedRoot =
      windowsFolder + (sysenv::isUsableScratchRoot(systemTemp) ? L"SystemTemp\\" : L"Temp\\");
  EXPECT_EQ(CompareStringOrdinal(parentOf(scratch.path).c_str(), -1, expectedRoot.c_str(), -1, TRUE), CSTR_EQUAL)
      << sysenv::toUtf8(scratch.path);
  EXPECT_EQ(sysenv::windowsScratchRoot(), parentOf(scratch.path));
  EXPECT_TRUE(sysenv::isScratchFolderName(sysenv::toU16(nameOf(scratch.path)))) << sysenv::toUtf8(scratch.path);
  EXPECT_EQ(testsupport::listFolder(userTemp.path()), std::vector<std::wstring>{});

  // Wine stores no ACLs (it derives them from Unix permissions), so there the check stops at what
  // the folder is created with.
  if (!testsupport::aclsAreStored()) GTEST_SKIP() << "this system does not store ACLs";
  expectScratchSecurity(testsupport::readStoredSecurity(scratch.path));
}

TEST(ScratchFolder, EachCallMakesAFolderOfItsOwn) {
  ElevatedScratch first, second;
  EXPECT_NE(first.path, second.path);
  EXPECT_TRUE(testsupport::pathExists(first.path));
  EXPECT_TRUE(testsupport::pathExists(second.path));
}

TEST(ScratchFolder, WithoutElevationItIsANewSubfolderOfTheUserTemporaryFolder) {
  const testsupport::ScopedPrivateTempFolder userTemp;
  std::wstring folder;
  ASSERT_TRUE(sysenv::createScratchFolder(folder, false));
  EXPECT_EQ(parentOf(folder), userTemp.path() + L"\\");
  EXPECT_EQ(userTemp.entries(), std::vector<std::wstring>{nameOf(folder)});
  EXPECT_TRUE(sysenv::deleteFolderTree(folder));
}

TEST(ScratchFolder, TheProcessQueryDecidesWhereItGoes) {
  // Wine runs every process elevated; on Windows the test may run either way.
  std::wstring folder;
  ASSERT_TRUE(sysenv::createScratchFolder(folder));
  EXPECT_EQ(parentOf(folder) == sysenv::windowsScratchRoot(), sysenv::isProcessElevated());
  EXPECT_TRUE(sysenv::deleteFolderTree(folder));
}

TEST(ScratchFolder, AnExistingNameIsNeverTakenOver) {
  // Whoever made the name first keeps it, contents and security: the protected creation fails.
  ScratchFolder scratch;
  const std::wstring planted = scratch.file(L"planted");
  ASSERT_TRUE(CreateDirectoryW(planted.c_str(), nullptr));
  ASSERT_TRUE(writeFileBytes(planted + L"\\theirs.txt", "theirs"));
  const testsupport::StoredSecurity before = testsupport::readStoredSecurity(planted);

  SetLastError(0);
  EXPECT_FALSE(sysenv::createProtectedFolder(planted, sysenv::toWide(sysenv::kScratchFolderSddl).c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(readFileBytes(planted + L"\\theirs.txt"), "theirs");
  EXPECT_EQ(testsupport::readStoredSecurity(planted).aces, before.aces);
}

// --- files of a scratch folder --------------------------------------------------------------------

std::string readAll(HANDLE file) {
  std::string bytes(64, '\0');
  DWORD read = 0;
  if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return {};
  bytes.resize(read);
  return bytes;
}

TEST(ScratchFile, CreatesANewFileAndTruncatesAPlainExistingOne) {
  ElevatedScratch scratch;
  const std::wstring path = scratch.path + L"file.txt";
  {
    const sysenv::UniqueFileHandle file = sysenv::openScratchFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), "first content", 13, &written, nullptr));
  }
  {
    const sysenv::UniqueFileHandle file = sysenv::openScratchFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_TRUE(file);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), "second", 6, &written, nullptr));
  }
  EXPECT_EQ(readFileBytes(path), "second");
  const sysenv::UniqueFileHandle reader = sysenv::openScratchFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_TRUE(reader);
  EXPECT_EQ(readAll(reader.get()), "second");
  EXPECT_FALSE(sysenv::openScratchFile(scratch.path + L"missing.txt", GENERIC_READ, 0, OPEN_EXISTING));
}

TEST(ScratchFile, APlantedLinkToAFileIsNeitherReadNorWrittenThrough) {
  ScratchFolder outside;
  const std::wstring precious = outside.file(L"precious.txt");
  ASSERT_TRUE(writeFileBytes(precious, "administrators only"));
  ElevatedScratch scratch;
  const std::wstring link = scratch.path + L"log.txt";
  if (!testsupport::makeFileLink(link, precious)) GTEST_SKIP() << "no file links here";

  for (const DWORD disposition : {DWORD{CREATE_ALWAYS}, DWORD{OPEN_ALWAYS}, DWORD{OPEN_EXISTING}}) {
    SetLastError(0);
    EXPECT_FALSE(sysenv::openScratchFile(link, GENERIC_READ | GENERIC_WRITE, 0, disposition)) << disposition;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << disposition;
  }
  EXPECT_EQ(readFileBytes(precious), "administrators only");
  testsupport::removeLeftoverLink(link);
}

TEST(ScratchFile, AFileReachedThroughAPlantedFolderLinkIsRefused) {
  ScratchFolder outside;
  ASSERT_TRUE(writeFileBytes(outside.file(L"setup.exe"), "theirs"));
  ElevatedScratch scratch;
  const std::wstring link = scratch.path + L"package";
  if (!testsupport::makeDirectoryLink(link, outside.path())) GTEST_SKIP() << "no folder links here";

  // The file itself is plain; the folder holding it is the link.
  EXPECT_FALSE(sysenv::openScratchFile(link + L"\\setup.exe", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_FALSE(sysenv::openScratchFile(link + L"\\new.txt", GENERIC_WRITE, 0, CREATE_ALWAYS));
  EXPECT_EQ(readFileBytes(outside.file(L"setup.exe")), "theirs");
  testsupport::removeLeftoverLink(link);
}

TEST(ScratchFolder, APlantedLinkInsideIsNotDeletedThrough) {
  ScratchFolder outside;
  ASSERT_TRUE(writeFileBytes(outside.file(L"keep.txt"), "keep"));
  std::wstring folder;
  ASSERT_TRUE(sysenv::createScratchFolder(folder, true));
  ASSERT_TRUE(writeFileBytes(folder + L"ours.txt", "ours"));
  const std::wstring link = folder + L"link";
  const bool linked = testsupport::makeDirectoryLink(link, outside.path());

  sysenv::deleteFolderTree(folder);
  EXPECT_EQ(readFileBytes(outside.file(L"keep.txt")), "keep");
  EXPECT_FALSE(testsupport::pathExists(folder + L"ours.txt"));
  if (linked) {
    // Wine removes a link only through its target (which is not empty here): the link stays.
    testsupport::removeLeftoverLink(link);
    sysenv::deleteFolderTree(folder);
  }
  EXPECT_FALSE(testsupport::pathExists(folder));
}

}  // namespace
