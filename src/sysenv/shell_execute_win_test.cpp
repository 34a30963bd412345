// Win32 code.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <windows.h>

#include <string>
#include <thread>

#include "support/wine_test_support_win.h"
#include "sysenv/shell_win.h"

namespace {

using testsupport::ScratchFolder;

// What a program that the shell started wrote to `path`, waiting up to ten seconds: the file exists
// for a moment while still empty, and a loaded machine may take a while to fill it.
std::string waitForContent(const std::wstring& path) {
  std::string content;
  for (int i = 0; i < 200; ++i) {
    content = testsupport::readFileBytes(path);
    if (!content.empty()) {
      Sleep(100);  // the writer may not be done: take what stays
      const std::string settled = testsupport::readFileBytes(path);
      if (settled == content) return content;
      content = settled;
    }
    Sleep(50);
  }
  return content;
}

// The process of the desktop's shell: the owner of the shell window on Windows; Wine has none, and
// its desktop window belongs to the shell (explorer /desktop).
DWORD desktopShellProcess() {
  HWND window = GetShellWindow();
  if (window == nullptr) window = GetDesktopWindow();
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

DWORD parentOf(DWORD processId) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == processId) parent = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  return parent;
}

class DesktopShellExecuteTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(DesktopShellExecuteTest, TheDesktopShellStartsTheProgramWithItsArguments) {
  ScratchFolder scratch;
  const std::wstring marker = scratch.file(L"started by the shell.txt");
  // The argument string travels as one piece, quotes and all.
  const HRESULT result =
      sysenv::shellExecuteAsDesktopUser(L"cmd.exe", L"/c echo shell>\"" + marker + L"\"");
  ASSERT_EQ(result, S_OK);
  EXPECT_EQ(waitForContent(marker), "shell\r\n");
}

TEST_F(DesktopShellExecuteTest, TheProgramIsNotAChildOfThisProcess) {
  ScratchFolder scratch;
  const std::wstring marker = scratch.file(L"parent.txt");
  // The shell starts this test program in child mode, which reports its parent.
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const HRESULT result = sysenv::shellExecuteAsDesktopUser(
      self, L"--gtest_brief=1 --gtest_also_run_disabled_tests --gtest_filter=ShellChild.* \"" + marker + L"\"");
  ASSERT_EQ(result, S_OK);
  const std::string report = waitForContent(marker);
  ASSERT_FALSE(report.empty());
  const DWORD parent = std::stoul(report);
  EXPECT_NE(parent, GetCurrentProcessId());
  EXPECT_EQ(parent, desktopShellProcess());
}

// Started by the shell in the test above: writes its parent's process id to the file named last on
// its command line.
TEST(ShellChild, DISABLED_ReportParent) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  ASSERT_GT(count, 1);
  const std::wstring report = arguments[count - 1];
  LocalFree(arguments);
  ASSERT_TRUE(testsupport::writeFileBytes(report, std::to_string(parentOf(GetCurrentProcessId()))));
}

TEST(DesktopShellExecute, FailsWithoutCom) {
  HRESULT result = S_OK;
  std::thread([&] { result = sysenv::shellExecuteAsDesktopUser(L"cmd.exe", L"/c exit"); }).join();
  EXPECT_EQ(result, CO_E_NOTINITIALIZED);
}

}  // namespace
