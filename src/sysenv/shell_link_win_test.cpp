// Win32 code.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "support/file_links_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/shell_win.h"

namespace {

using Microsoft::WRL::ComPtr;
using testsupport::pathExists;

// COM on the test's thread, and a shortcut name of this process alone, removed at the end whatever
// the test did with it.
class DesktopShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    comReady_ = true;
    name_ = L"Sorvane test " + std::to_wstring(GetCurrentProcessId()) + L".lnk";
    wchar_t desktop[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop)));
    desktop_ = desktop;
    path_ = desktop_ + L"\\" + name_;
    DeleteFileW(path_.c_str());
  }
  void TearDown() override {
    DeleteFileW(path_.c_str());
    if (comReady_) CoUninitialize();
  }

  // Target and working folder of a shortcut file, read back through the shell's own link object.
  static bool readLink(const std::wstring& path, std::wstring& target, std::wstring& folder) {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) ||
        FAILED(link.As(&file)) || FAILED(file->Load(path.c_str(), STGM_READ))) {
      return false;
    }
    wchar_t text[MAX_PATH] = {};
    if (FAILED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) return false;
    target = text;
    text[0] = 0;
    if (FAILED(link->GetWorkingDirectory(text, MAX_PATH))) return false;
    folder = text;
    return true;
  }

  static std::wstring thisProgram() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
  }

  bool comReady_ = false;
  std::wstring name_, desktop_, path_;
};

TEST_F(DesktopShortcutTest, CreatePointsAtThisProgramWithItsFolderAsWorkingFolder) {
  sysenv::manageDesktopShortcut(name_, true);
  std::wstring target, folder;
  ASSERT_TRUE(readLink(path_, target, folder));
  const std::wstring program = thisProgram();
  EXPECT_EQ(target, program);
  EXPECT_EQ(folder, program.substr(0, program.rfind(L'\\')));
}

TEST_F(DesktopShortcutTest, CreateReplacesAnExistingShortcut) {
  ASSERT_TRUE(testsupport::writeFileBytes(path_, "not a shortcut"));
  sysenv::manageDesktopShortcut(name_, true);
  std::wstring target, folder;
  ASSERT_TRUE(readLink(path_, target, folder));
  EXPECT_EQ(target, thisProgram());
}

TEST_F(DesktopShortcutTest, DeleteRemovesItAndAMissingOneIsNoError) {
  sysenv::manageDesktopShortcut(name_, true);
  ASSERT_TRUE(pathExists(path_));
  sysenv::manageDesktopShortcut(name_, false);
  EXPECT_FALSE(pathExists(path_));
  const std::vector<std::wstring> before = testsupport::listFolder(desktop_);
  sysenv::manageDesktopShortcut(name_, false);
  EXPECT_EQ(testsupport::listFolder(desktop_), before);
}

TEST_F(DesktopShortcutTest, AnEmptyNameDoesNothing) {
  const std::vector<std::wstring> before = testsupport::listFolder(desktop_);
  sysenv::manageDesktopShortcut(L"", true);
  sysenv::manageDesktopShortcut(L"", false);
  EXPECT_EQ(testsupport::listFolder(desktop_), before);
  EXPECT_TRUE(pathExists(desktop_));
}

TEST_F(DesktopShortcutTest, ANameWithAPathReachesNothingBeyondTheDesktop) {
  // Beside the desktop folder, where "..\\" from the desktop leads.
  const std::wstring besideName = L"Sorvane beside " + std::to_wstring(GetCurrentProcessId()) + L".lnk";
  const std::wstring beside = desktop_.substr(0, desktop_.rfind(L'\\')) + L"\\" + besideName;
  ASSERT_TRUE(testsupport::writeFileBytes(beside, "precious"));
  sysenv::manageDesktopShortcut(L"..\\" + besideName, false);
  sysenv::manageDesktopShortcut(L"../" + besideName, true);
  EXPECT_EQ(testsupport::readFileBytes(beside), "precious");
  DeleteFileW(beside.c_str());

  testsupport::ScratchFolder scratch;
  const std::vector<std::wstring> desktopBefore = testsupport::listFolder(desktop_);
  sysenv::manageDesktopShortcut(scratch.file(L"elsewhere.lnk"), true);
  sysenv::manageDesktopShortcut(L"CON.lnk", true);
  sysenv::manageDesktopShortcut(name_ + L":stream", true);
  EXPECT_FALSE(pathExists(scratch.file(L"elsewhere.lnk")));
  EXPECT_EQ(testsupport::listFolder(desktop_), desktopBefore);
}

TEST_F(DesktopShortcutTest, AFolderLinkOrHardLinkInItsPlaceIsNeitherFollowedNorDeleted) {
  testsupport::ScratchFolder outside;
  const std::wstring precious = outside.file(L"precious");
  ASSERT_TRUE(CreateDirectoryW(precious.c_str(), nullptr));
  ASSERT_TRUE(testsupport::writeFileBytes(precious + L"\\keep.txt", "keep"));
  const std::wstring victim = outside.file(L"victim.dll");
  ASSERT_TRUE(testsupport::writeFileBytes(victim, "precious"));

  // A link to a folder (a junction to the code).
  ASSERT_TRUE(testsupport::makeDirectoryLink(path_, precious));
  sysenv::manageDesktopShortcut(name_, true);
  sysenv::manageDesktopShortcut(name_, false);
  EXPECT_EQ(testsupport::listFolder(precious), std::vector<std::wstring>{L"keep.txt"});
  EXPECT_EQ(testsupport::readFileBytes(precious + L"\\keep.txt"), "keep");
  EXPECT_NE(GetFileAttributesW(path_.c_str()), INVALID_FILE_ATTRIBUTES) << "the link itself stays";
  testsupport::removeLeftoverLink(path_);

  // A second name of another file: writing the shortcut would overwrite that file.
  ASSERT_TRUE(CreateHardLinkW(path_.c_str(), victim.c_str(), nullptr));
  sysenv::manageDesktopShortcut(name_, true);
  EXPECT_EQ(testsupport::readFileBytes(victim), "precious");
  sysenv::manageDesktopShortcut(name_, false);  // deleting the second name leaves the file
  EXPECT_EQ(testsupport::readFileBytes(victim), "precious");
  DeleteFileW(path_.c_str());

  // A plain folder of that name.
  ASSERT_TRUE(CreateDirectoryW(path_.c_str(), nullptr));
  sysenv::manageDesktopShortcut(name_, true);
  sysenv::manageDesktopShortcut(name_, false);
  EXPECT_EQ(GetFileAttributesW(path_.c_str()) & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  RemoveDirectoryW(path_.c_str());
}

TEST(ShellLink, FailsWithoutCom) {
  // Only creating the link object is reported; on a thread without COM that is what fails.
  testsupport::ScratchFolder scratch;
  HRESULT result = S_OK;
  std::thread([&] { result = sysenv::createShellLink(L"C:\\x.exe", scratch.file(L"x.lnk")); }).join();
  EXPECT_EQ(result, CO_E_NOTINITIALIZED);
  EXPECT_FALSE(pathExists(scratch.file(L"x.lnk")));
}

}  // namespace
