// Win32 code.
#include "sysenv/environment_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "support/wine_test_support_win.h"
#include "sysenv/unique_handle_win.h"

namespace {

using testsupport::ScratchFolder;

// The supported systems of the program's manifest. Without them, Windows 8.1 and later (and Wine
// acting as them) report 6.2 to GetVersionExW.
constexpr char kSupportedOsManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
    "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\"><application>\n"
    "    <supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>\n"
    "    <supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>\n"
    "    <supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>\n"
    "    <supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>\n"
    "    <supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>\n"
    "  </application></compatibility>\n"
    "</assembly>\n";

std::wstring environmentValue(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
  return (length > 0 && length < MAX_PATH) ? value : L"";
}

// Run as a child by the tests below: answers the version queries into the file that the parent names.
TEST(OsQueryChild, DISABLED_Report) {
  const std::wstring report = environmentValue(L"SORVANE_OS_REPORT");
  ASSERT_FALSE(report.empty());
  const std::wstring answer = sysenv::queryOsName() + L"|" + sysenv::queryOsVersion();
  std::string bytes(reinterpret_cast<const char*>(answer.data()), answer.size() * sizeof(wchar_t));
  ASSERT_TRUE(testsupport::writeFileBytes(report, bytes));
}

// Wine can act as any Windows version for one program (HKCU\Software\Wine\AppDefaults\<exe>\Version),
// so the real GetVersionExW is asked in a child that runs a renamed copy of this test program. The
// manifest goes beside the copy ("<exe>.manifest"): Wine takes the supported systems from the
// program's own manifest at start, not from an activation context that the program makes later.
class ActingVersion {
 public:
  ActingVersion() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    programName_ = L"sorvane-os-probe-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    program_ = folder_.file(programName_);
    copied_ = CopyFileW(self, program_.c_str(), FALSE) != FALSE;
    manifest_ = program_ + L".manifest";
  }
  ~ActingVersion() { RegDeleteTreeW(HKEY_CURRENT_USER, appKey().c_str()); }
  ActingVersion(const ActingVersion&) = delete;
  ActingVersion& operator=(const ActingVersion&) = delete;

  bool ready() const { return copied_; }

  // Name and version as the child reports them, or "" when it could not run. An empty Wine version
  // leaves the prefix's own.
  std::wstring ask(const std::wstring& wineVersion, bool withManifest) {
    RegDeleteTreeW(HKEY_CURRENT_USER, appKey().c_str());
    if (!wineVersion.empty()) {
      sysenv::UniqueRegistryKey key;
      if (RegCreateKeyExW(HKEY_CURRENT_USER, appKey().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS) {
        return L"";
      }
      RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(wineVersion.c_str()),
                     static_cast<DWORD>((wineVersion.size() + 1) * sizeof(wchar_t)));
    }
    DeleteFileW(manifest_.c_str());
    if (withManifest && !testsupport::writeFileBytes(manifest_, kSupportedOsManifest)) return L"";
    const std::wstring report = folder_.file(L"report.txt");
    DeleteFileW(report.c_str());
    const std::wstring childMode = L" --gtest_brief=1 --gtest_also_run_disabled_tests --gtest_filter=OsQueryChild.*";
    const testsupport::ChildResult child =
        testsupport::runChild(testsupport::quoted(program_) + childMode, {{L"SORVANE_OS_REPORT", report}});
    if (!child.finished || child.exitCode != 0) return L"";
    const std::string bytes = testsupport::readFileBytes(report);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  }

 private:
  std::wstring appKey() const { return L"Software\\Wine\\AppDefaults\\" + programName_; }

  ScratchFolder folder_;
  std::wstring programName_, program_, manifest_;
  bool copied_ = false;
};

bool runningUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

TEST(OsName, WhatTheSystemReportsGoesThroughTheVersionTable) {
  if (!runningUnderWine()) GTEST_SKIP() << "needs Wine's per-program Windows version";
  ActingVersion acting;
  ASSERT_TRUE(acting.ready());
  // Wine's own version names, each with the version and product type it reports. Wine runs on an
  // x86-64 machine here, which makes 5.2 workstation 64-bit XP. Wine 8.0 swaps the product types of
  // "win7" and "win2008r2", so Windows 7 comes from the prefix's default (6.1 workstation).
  const struct {
    const wchar_t* wine;
    const wchar_t* expected;
  } cases[] = {
      {L"win2k", L"Other|5.0"},   {L"winxp", L"Windows XP|5.1"},    {L"winxp64", L"Windows XP|5.2"},
      {L"win2003", L"Other|5.2"}, {L"vista", L"Windows Vista|6.0"}, {L"win2008", L"Other|6.0"},
      {L"", L"Windows 7|6.1"},    {L"win8", L"Windows 8|6.2"},      {L"win81", L"Windows 8|6.3"},
      {L"win10", L"Windows 10|10.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(acting.ask(c.wine, true), c.expected) << c.wine;
}

TEST(OsName, WithoutTheManifestsSupportedSystemsTenReportsAsEight) {
  if (!runningUnderWine()) GTEST_SKIP() << "needs Wine's per-program Windows version";
  ActingVersion acting;
  ASSERT_TRUE(acting.ready());
  EXPECT_EQ(acting.ask(L"win10", false), L"Windows 8|6.2");
  EXPECT_EQ(acting.ask(L"win10", true), L"Windows 10|10.0");
}

TEST(Architecture, IsTheMachinesEvenInA32BitProcess) {
  // A 32-bit build on a 64-bit machine runs under WOW64; both builds must answer for the machine.
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const bool machineIs64Bit = sizeof(void*) == 8 || wow64;
  EXPECT_EQ(sysenv::queryArchitecture(), machineIs64Bit ? L"x64" : L"x86");
}

// The user's nation as Wine keeps it (HKCU\Control Panel\International\Geo, "Nation"), set for one
// test and put back after it.
class UserNation {
 public:
  UserNation() {
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\International\\Geo", 0, nullptr, 0,
                    KEY_READ | KEY_WRITE, nullptr, key_.put(), nullptr);
    wchar_t value[64] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    hadValue_ = RegQueryValueExW(key_.get(), L"Nation", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
                ERROR_SUCCESS;
    original_ = value;
  }
  ~UserNation() {
    if (hadValue_) {
      set(original_);
    } else {
      RegDeleteValueW(key_.get(), L"Nation");
    }
  }
  UserNation(const UserNation&) = delete;
  UserNation& operator=(const UserNation&) = delete;
  bool valid() const { return key_.valid(); }
  void set(const std::wstring& nation) {
    RegSetValueExW(key_.get(), L"Nation", 0, REG_SZ, reinterpret_cast<const BYTE*>(nation.c_str()),
                   static_cast<DWORD>((nation.size() + 1) * sizeof(wchar_t)));
  }

 private:
  sysenv::UniqueRegistryKey key_;
  bool hadValue_ = false;
  std::wstring original_;
};

TEST(Country, IsTheUsersNationAsDecimalAndMinusOneWhenUnset) {
  if (!runningUnderWine()) GTEST_SKIP() << "sets the nation where Wine keeps it";
  UserNation nation;
  ASSERT_TRUE(nation.valid());
  nation.set(L"94");  // Germany
  EXPECT_EQ(sysenv::queryCountry(), L"94");
  nation.set(L"244");  // United States
  EXPECT_EQ(sysenv::queryCountry(), L"244");
  nation.set(L"-1");  // no location chosen (GEOID_NOT_AVAILABLE)
  EXPECT_EQ(sysenv::queryCountry(), L"-1");
}

TEST(Privileges, AnElevatedAdministratorHasBoth) {
  // Wine's token is always an elevated administrator's; the filtered-token rule is tested natively.
  if (!runningUnderWine()) GTEST_SKIP() << "depends on how the test was started";
  EXPECT_TRUE(sysenv::isUserAdmin());
  EXPECT_TRUE(sysenv::isProcessElevated());
}

}  // namespace
