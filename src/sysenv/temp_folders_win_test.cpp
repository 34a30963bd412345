// Win32 code.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "support/file_links_win.h"
#include "support/held_file_win.h"
#include "support/private_temp_folder_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/unique_handle_win.h"

namespace {

using testsupport::makeDirectoryLink;
using testsupport::pathExists;
using testsupport::removeLeftoverLink;
using testsupport::runUnixProgram;
using testsupport::unixPath;
using testsupport::widen;
using testsupport::ScratchFolder;

std::wstring shortForm(const std::wstring& path) {
  wchar_t buffer[1024] = {};
  const DWORD length = GetShortPathNameW(path.c_str(), buffer, 1024);
  return (length > 0 && length < 1024) ? buffer : L"";
}

TEST(TempFolder, EndsInABackslashAndIsTheLongForm) {
  ScratchFolder scratch;
  const std::wstring longFolder = scratch.file(L"a folder with a long name");
  ASSERT_TRUE(CreateDirectoryW(longFolder.c_str(), nullptr));
  const std::wstring shortFolder = shortForm(longFolder);
  ASSERT_FALSE(shortFolder.empty());
  ASSERT_NE(shortFolder, longFolder) << "no short names on this volume";
  testsupport::ScopedTempVariables variables(shortFolder);  // without the backslash, which is added
  std::wstring folder;
  ASSERT_TRUE(sysenv::getTempFolder(folder));
  EXPECT_EQ(folder, longFolder + L"\\");
}

TEST(TempFolder, FailsFrom259CharactersOn) {
  // GetTempPathW counts the backslash it adds: 257 characters give 258, the longest that passes.
  const std::wstring base = L"C:\\";
  testsupport::ScopedTempVariables variables(base);
  for (size_t length : {size_t{257}, size_t{258}, size_t{259}, size_t{300}}) {
    const std::wstring path = base + std::wstring(length - base.size(), L'x');
    variables.set(path);
    std::wstring folder = L"unchanged";
    const bool found = sysenv::getTempFolder(folder);
    EXPECT_EQ(found, length <= 257) << length;
    EXPECT_EQ(folder, found ? path + L"\\" : L"unchanged") << length;
  }
}

TEST(TempFolder, KeepsTheShortFormWhenTheLongFormOutgrowsItsBuffer) {
  ScratchFolder scratch;
  // Three nested folders of 200 characters: a long form of over 600 characters, a short one of ~80.
  std::wstring longPath = scratch.path();
  for (wchar_t letter : {L'p', L'q', L'r'}) {
    longPath += L"\\" + std::wstring(200, letter);
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + longPath).c_str(), nullptr)) << GetLastError();
  }
  std::wstring shortPath = shortForm(L"\\\\?\\" + longPath);
  if (shortPath.rfind(L"\\\\?\\", 0) == 0) shortPath.erase(0, 4);
  ASSERT_FALSE(shortPath.empty());
  ASSERT_LT(shortPath.size(), 258u);
  testsupport::ScopedTempVariables variables(shortPath);
  std::wstring folder;
  ASSERT_TRUE(sysenv::getTempFolder(folder));
  EXPECT_EQ(folder, shortPath + L"\\");
  EXPECT_TRUE(pathExists(folder));
}

std::wstring hexName(DWORD value) {
  wchar_t text[16];
  wsprintfW(text, L"%x", value);
  return text;
}

TEST(UniqueSubfolder, IsANewFolderNamedAfterTheTickCount) {
  ScratchFolder scratch;
  std::wstring folder = scratch.path();
  const DWORD before = GetTickCount();
  ASSERT_TRUE(sysenv::createUniqueSubfolder(folder));
  const DWORD after = GetTickCount();
  ASSERT_EQ(folder.back(), L'\\');
  EXPECT_TRUE(pathExists(folder));
  const std::wstring name = folder.substr(scratch.path().size() + 1, folder.size() - scratch.path().size() - 2);
  EXPECT_EQ(folder, scratch.path() + L"\\" + name + L"\\");
  const DWORD tick = wcstoul(name.c_str(), nullptr, 16);
  EXPECT_EQ(name, hexName(tick));  // lowercase, no leading zeros
  EXPECT_GE(tick, before);
  EXPECT_LE(tick, after);
}

TEST(UniqueSubfolder, TakesTheNextNumberUpWhileTheNameIsTaken) {
  ScratchFolder scratch;
  // Every name the tick count can reach during the call is taken already: one as a file, the rest
  // as folders. The first free name after them must be the one made.
  constexpr DWORD kTaken = 400;
  const DWORD first = GetTickCount();
  ASSERT_TRUE(testsupport::writeFileBytes(scratch.file(hexName(first)), "taken"));
  for (DWORD tick = first + 1; tick <= first + kTaken; ++tick) {
    ASSERT_TRUE(CreateDirectoryW(scratch.file(hexName(tick)).c_str(), nullptr));
  }
  std::wstring folder = scratch.path() + L"\\";
  ASSERT_TRUE(sysenv::createUniqueSubfolder(folder));
  if (GetTickCount() > first + kTaken) GTEST_SKIP() << "the machine was too slow to cover the call";
  EXPECT_EQ(folder, scratch.path() + L"\\" + hexName(first + kTaken + 1) + L"\\");
  EXPECT_TRUE(pathExists(folder));
  EXPECT_EQ(testsupport::listFolder(scratch.path()).size(), kTaken + 2);
}

TEST(UniqueSubfolder, FailsOnAMissingBaseAndMakesNothing) {
  ScratchFolder scratch;
  std::wstring folder = scratch.file(L"missing");
  ASSERT_FALSE(sysenv::createUniqueSubfolder(folder));
  EXPECT_EQ(folder, scratch.file(L"missing"));
  EXPECT_TRUE(testsupport::listFolder(scratch.path()).empty());
}

TEST(UniqueSubfolder, FailsWhenTheNewPathWouldNotFit) {
  ScratchFolder scratch;
  // A base of 255 characters exists, but no name joined to it fits in MAX_PATH with its backslash.
  std::wstring base = scratch.path() + L"\\";
  base += std::wstring(255 - base.size(), L'd');
  ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));
  std::wstring folder = base;
  EXPECT_FALSE(sysenv::createUniqueSubfolder(folder));
  EXPECT_EQ(folder, base);
  EXPECT_TRUE(testsupport::listFolder(base).empty());
}

// A tree of files and nested folders under `root`.
void makeTree(const std::wstring& root) {
  ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
  ASSERT_TRUE(testsupport::writeFileBytes(root + L"\\top.txt", "top"));
  ASSERT_TRUE(CreateDirectoryW((root + L"\\a").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((root + L"\\a\\b").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((root + L"\\a\\b\\c").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((root + L"\\empty").c_str(), nullptr));
  ASSERT_TRUE(testsupport::writeFileBytes(root + L"\\a\\one.bin", std::string(70000, 'x')));
  ASSERT_TRUE(testsupport::writeFileBytes(root + L"\\a\\b\\c\\deep.txt", "deep"));
  ASSERT_TRUE(testsupport::writeFileBytes(root + L"\\a\\b\\c\\.hidden", ""));
}

TEST(DeleteFolderTree, RemovesNestedFoldersAndFiles) {
  ScratchFolder scratch;
  const std::wstring root = scratch.file(L"tree");
  makeTree(root);
  EXPECT_TRUE(sysenv::deleteFolderTree(root));
  EXPECT_FALSE(pathExists(root));
  // Also as createUniqueSubfolder hands it out, with a trailing backslash.
  makeTree(root);
  EXPECT_TRUE(sysenv::deleteFolderTree(root + L"\\"));
  EXPECT_FALSE(pathExists(root));
  EXPECT_TRUE(testsupport::listFolder(scratch.path()).empty());
}

TEST(DeleteFolderTree, ReadOnlyFilesAndFoldersGoToo) {
  // What an installer may leave in the work folder: read-only files, also hidden or system ones, and
  // read-only folders.
  ScratchFolder scratch;
  const std::wstring root = scratch.file(L"tree");
  makeTree(root);
  for (const auto& [path, attributes] : std::vector<std::pair<std::wstring, DWORD>>{
           {root + L"\\a\\b\\c\\deep.txt", FILE_ATTRIBUTE_READONLY},
           {root + L"\\top.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
           {root + L"\\a\\b", FILE_ATTRIBUTE_READONLY},
           {root + L"\\empty", FILE_ATTRIBUTE_READONLY},
       }) {
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes)) << path;
  }
  ASSERT_FALSE(DeleteFileW((root + L"\\a\\b\\c\\deep.txt").c_str())) << "the attribute protects the file here";
  EXPECT_TRUE(sysenv::deleteFolderTree(root));
  EXPECT_FALSE(pathExists(root));
}

TEST(DeleteFolderTree, AFileInUseStaysWithItsFoldersAndTheRestGoes) {
  ScratchFolder scratch;
  const std::wstring root = scratch.file(L"tree");
  makeTree(root);
  const std::wstring inUse = root + L"\\a\\b\\c\\deep.txt";
  const struct {
    const char* what;
    DWORD sharing;
    DWORD attributes;
  } cases[] = {
      {"no sharing", 0, FILE_ATTRIBUTE_NORMAL},
      {"shared for reading and writing, not deleting", FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_ATTRIBUTE_NORMAL},
      {"read-only as well", FILE_SHARE_READ, FILE_ATTRIBUTE_READONLY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (!pathExists(root)) makeTree(root);
    ASSERT_TRUE(SetFileAttributesW(inUse.c_str(), c.attributes));
    testsupport::FileHeldByAnotherProcess holder(inUse, GENERIC_READ, c.sharing);
    ASSERT_TRUE(holder.held());

    EXPECT_FALSE(sysenv::deleteFolderTree(root));
    EXPECT_EQ(testsupport::listFolder(root), std::vector<std::wstring>{L"a"});
    EXPECT_EQ(testsupport::listFolder(root + L"\\a"), std::vector<std::wstring>{L"b"});
    EXPECT_EQ(testsupport::listFolder(root + L"\\a\\b\\c"), std::vector<std::wstring>{L"deep.txt"});
    EXPECT_EQ(GetFileAttributesW(inUse.c_str()) & FILE_ATTRIBUTE_READONLY, c.attributes & FILE_ATTRIBUTE_READONLY)
        << "left as it was";

    // Once the other process lets go, the next attempt takes the rest.
    holder.release();
    EXPECT_TRUE(sysenv::deleteFolderTree(root));
    EXPECT_FALSE(pathExists(root));
  }
}

TEST(DeleteFolderTree, FailsOnAMissingFolderAndOnAnEmptyPath) {
  ScratchFolder scratch;
  EXPECT_FALSE(sysenv::deleteFolderTree(scratch.file(L"missing")));
  // An empty path must not mean the current folder.
  ASSERT_TRUE(testsupport::writeFileBytes(scratch.file(L"keep.txt"), "keep"));
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().c_str()));
  const bool deleted = sysenv::deleteFolderTree(L"");
  SetCurrentDirectoryW(previous);
  EXPECT_FALSE(deleted);
  EXPECT_EQ(testsupport::readFileBytes(scratch.file(L"keep.txt")), "keep");
}

// --- links -------------------------------------------------------------------------------------

// A folder outside the tree with content that must survive.
struct OutsideTarget {
  ScratchFolder scratch;
  std::wstring root = scratch.file(L"precious");
  OutsideTarget() {
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
    testsupport::writeFileBytes(root + L"\\keep.txt", "keep");
    testsupport::writeFileBytes(root + L"\\sub\\keep2.txt", "keep2");
  }
  void expectIntact() const {
    EXPECT_EQ(testsupport::readFileBytes(root + L"\\keep.txt"), "keep");
    EXPECT_EQ(testsupport::readFileBytes(root + L"\\sub\\keep2.txt"), "keep2");
  }
};

TEST(DeleteFolderTree, AReadOnlyHardLinkGoesAndTheFileOutsideStaysReadOnly) {
  // The attribute belongs to the file, not to its name: clearing it to delete the name inside the
  // tree must not leave the same file outside writable.
  OutsideTarget outside;
  const std::wstring outsideFile = outside.root + L"\\keep.txt";
  ASSERT_TRUE(SetFileAttributesW(outsideFile.c_str(), FILE_ATTRIBUTE_READONLY));
  ScratchFolder scratch;
  const std::wstring root = scratch.file(L"tree");
  makeTree(root);
  if (!CreateHardLinkW((root + L"\\a\\linked.txt").c_str(), outsideFile.c_str(), nullptr)) {
    GTEST_SKIP() << "no hard links here";
  }

  EXPECT_TRUE(sysenv::deleteFolderTree(root));
  EXPECT_FALSE(pathExists(root));
  outside.expectIntact();
  EXPECT_TRUE(GetFileAttributesW(outsideFile.c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST(DeleteFolderTree, LeavesWhatALinkInsideLeadsTo) {
  OutsideTarget outside;
  ScratchFolder scratch;
  const std::wstring root = scratch.file(L"tree");
  makeTree(root);
  const std::wstring link = root + L"\\a\\link";
  if (!makeDirectoryLink(link, outside.root)) GTEST_SKIP() << "no directory links here";

  const bool removed = sysenv::deleteFolderTree(root);
  outside.expectIntact();
  EXPECT_EQ(removed, !pathExists(root));
  // Windows would remove the link itself and then the tree. Wine's RemoveDirectoryW acts on the
  // link's target and refuses because that is not empty: the link and the folders holding it stay.
  EXPECT_EQ(testsupport::listFolder(root), std::vector<std::wstring>{L"a"});
  EXPECT_EQ(testsupport::listFolder(root + L"\\a"), std::vector<std::wstring>{L"link"});
  removeLeftoverLink(link);
}

TEST(DeleteFolderTree, AFolderThatIsItselfALinkIsNotEmptied) {
  OutsideTarget outside;
  ScratchFolder scratch;
  const std::wstring link = scratch.file(L"work");
  if (!makeDirectoryLink(link, outside.root)) GTEST_SKIP() << "no directory links here";

  EXPECT_FALSE(sysenv::deleteFolderTree(link + L"\\"));  // Wine: as above
  outside.expectIntact();
  removeLeftoverLink(link);
}

TEST(DeleteFolderTree, ANameOfThreeDotsStaysInsideTheTree) {
  // NTFS allows a folder named "..." (made through a \\?\ path); Wine shows one made from Unix.
  // Path canonicalisation reads it as a step up, which must never lead the deletion out of the tree
  // into the folder beside it.
  ScratchFolder scratch;
  const std::wstring root = scratch.file(L"tree");
  makeTree(root);
  ASSERT_TRUE(testsupport::writeFileBytes(scratch.file(L"beside.txt"), "beside"));
  const std::wstring dots = root + L"\\...";
  if (!CreateDirectoryW((L"\\\\?\\" + dots).c_str(), nullptr)) {
    const std::string unixDots = unixPath(root) + "/...";
    auto made = [&] { return testsupport::listFolder(root).size() == 4; };
    if (unixPath(root).empty() || !runUnixProgram(L"/bin/mkdir " + widen(unixDots), made)) {
      GTEST_SKIP() << "cannot make a folder named ...";
    }
  }
  ASSERT_TRUE(testsupport::writeFileBytes(L"\\\\?\\" + dots + L"\\inner.txt", "inner"));
  ASSERT_TRUE(CreateDirectoryW(scratch.file(L"b").c_str(), nullptr));
  ASSERT_TRUE(testsupport::writeFileBytes(scratch.file(L"b\\b.txt"), "b"));

  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().c_str()));
  sysenv::deleteFolderTree(root);
  SetCurrentDirectoryW(previous);

  EXPECT_EQ(testsupport::readFileBytes(scratch.file(L"beside.txt")), "beside");
  EXPECT_EQ(testsupport::readFileBytes(scratch.file(L"b\\b.txt")), "b");
  // Everything else in the tree went (what Windows does with "..." itself may differ).
  EXPECT_FALSE(pathExists(root + L"\\top.txt"));
  EXPECT_FALSE(pathExists(root + L"\\a\\b"));
  if (pathExists(root)) runUnixProgram(L"/bin/rm -rf " + widen(unixPath(root)), [&] { return !pathExists(root); });
}

}  // namespace
