// Win32 code.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/wine_test_support_win.h"
#include "sysenv/shell_win.h"

namespace {

using testsupport::ScratchFolder;

// Run as a child by the test below: writes this process's pass-through text (UTF-16) to the file
// that the parent names.
TEST(PassthroughChild, DISABLED_Report) {
  wchar_t report[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"SORVANE_PASSTHROUGH_REPORT", report, MAX_PATH), 0u);
  const std::wstring text = sysenv::getPassthroughArguments();
  ASSERT_TRUE(testsupport::writeFileBytes(
      report, std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t))));
}

TEST(Passthrough, ComesFromTheRealCommandLine) {
  ScratchFolder scratch;
  const std::wstring report = scratch.file(L"passthrough.txt");
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring start = testsupport::quoted(self) +
                             L" --gtest_brief=1 --gtest_also_run_disabled_tests --gtest_filter=PassthroughChild.*";
  const struct {
    const wchar_t* arguments;
    const wchar_t* expected;
  } cases[] = {
      {L" passthro=\"a b\"", L"a b"},
      {L" passthro=\"/qn TRANSFORMS=1031.mst\" --extra", L"/qn TRANSFORMS=1031.mst"},
      {L" passthro=\"\"", L""},
      {L" passthro=\"a b", L""},
      {L"", L""},
  };
  for (const auto& c : cases) {
    DeleteFileW(report.c_str());
    const testsupport::ChildResult child =
        testsupport::runChild(start + c.arguments, {{L"SORVANE_PASSTHROUGH_REPORT", report}});
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(child.exitCode, 0u) << c.arguments;
    ASSERT_TRUE(testsupport::pathExists(report)) << c.arguments;
    const std::string bytes = testsupport::readFileBytes(report);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t)),
              c.expected)
        << c.arguments;
  }
}

}  // namespace
