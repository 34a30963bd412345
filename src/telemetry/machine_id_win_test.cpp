// Win32 code. The machine id against the real parts: Wine's WMI and DPAPI, the prefix's real
// C:\ProgramData\UniqueId\data (saved and put back around every test), and a second process that
// holds the file open.
#include "telemetry/machine_id_win.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <wincrypt.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <regex>

#include "sysenv/scope_exit.h"
#include "sysenv/system_dll_win.h"
#include "sysenv/wide_text_win.h"
#include "support/file_links_win.h"
#include "support/folder_security_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/scratch_rules.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

const wchar_t kStoredVirtualId[] = L"V-0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
const wchar_t kOtherVirtualId[] = L"V-11111111-2222-3333-4444-555555555555";
const wchar_t kPlaceholder[] = L"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
const std::wregex kGuid(L"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");

// Where the file must be, found without the code under test.
std::wstring expectedFolder() {
  wchar_t folder[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder);
  return std::wstring(folder) + L"\\UniqueId";
}
std::wstring expectedFile() { return expectedFolder() + L"\\data"; }

// DPAPI called directly, as another program (or an earlier version) would have stored the id.
std::string protectForTest(const std::wstring& text, std::string entropyText = "pravelk") {
  auto protect = sysenv::systemFunction<decltype(&CryptProtectData)>(L"crypt32.dll", "CryptProtectData");
  std::string plain(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  DATA_BLOB in{static_cast<DWORD>(plain.size()), reinterpret_cast<BYTE*>(plain.data())};
  DATA_BLOB entropy{static_cast<DWORD>(entropyText.size()), reinterpret_cast<BYTE*>(entropyText.data())};
  DATA_BLOB out{};
  if (protect == nullptr || !protect(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out)) {
    ADD_FAILURE() << "CryptProtectData failed";
    return std::string();
  }
  std::string blob(reinterpret_cast<const char*>(out.pbData), out.cbData);
  LocalFree(out.pbData);
  return blob;
}

// The stored id as the test reads it back: the raw UTF-16LE bytes.
std::optional<std::string> unprotectStoredFile() {
  auto unprotect = sysenv::systemFunction<decltype(&CryptUnprotectData)>(L"crypt32.dll", "CryptUnprotectData");
  std::string blob = testsupport::readFileBytes(expectedFile());
  char entropyText[] = {'p', 'r', 'a', 'v', 'e', 'l', 'k'};
  DATA_BLOB in{static_cast<DWORD>(blob.size()), reinterpret_cast<BYTE*>(blob.data())};
  DATA_BLOB entropy{sizeof(entropyText), reinterpret_cast<BYTE*>(entropyText)};
  DATA_BLOB out{};
  if (blob.empty() || !unprotect(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out)) {
    return std::nullopt;
  }
  std::string plain(reinterpret_cast<const char*>(out.pbData), out.cbData);
  LocalFree(out.pbData);
  return plain;
}

std::string utf16le(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// Every test starts with no cached id and leaves the machine's file as it found it.
class MachineIdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::pathExists(expectedFile())) saved_ = testsupport::readFileBytes(expectedFile());
    DeleteFileW(expectedFile().c_str());
    telemetry::detail::forgetCachedMachineId();
  }
  void TearDown() override {
    telemetry::detail::forgetCachedMachineId();
    DeleteFileW(expectedFile().c_str());
    if (saved_) {
      CreateDirectoryW(expectedFolder().c_str(), nullptr);
      testsupport::writeFileBytes(expectedFile(), *saved_);
    }
  }
  static void storeFile(const std::string& bytes) {
    CreateDirectoryW(expectedFolder().c_str(), nullptr);
    ASSERT_TRUE(testsupport::writeFileBytes(expectedFile(), bytes));
  }
  // The system's own sources with this machine declared virtual or physical.
  static telemetry::MachineIdSources sourcesOfA(bool virtualMachine) {
    telemetry::MachineIdSources sources = telemetry::detail::systemMachineIdSources();
    sources.queryVirtualMachine = [virtualMachine](bool& isVirtual) {
      isVirtual = virtualMachine;
      return true;
    };
    return sources;
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(MachineIdTest, WineAnswersWmiAsAPhysicalMachine) {
  // getMachineId opens the apartment around the query; asked directly, the test does.
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  const sysenv::ScopeExit uninitialize([] { CoUninitialize(); });
  std::wstring model, manufacturer;
  ASSERT_TRUE(telemetry::detail::queryComputerSystem(model, manufacturer));
  std::printf("Win32_ComputerSystem: model \"%ls\", manufacturer \"%ls\"\n", model.c_str(), manufacturer.c_str());
  EXPECT_FALSE(model.empty());
  bool isVirtual = true;
  EXPECT_TRUE(telemetry::detail::isVirtualMachine(isVirtual));
  EXPECT_FALSE(isVirtual);
}

TEST_F(MachineIdTest, AdapterAddressesAreSixHexPairs) {
  std::vector<std::wstring> addresses;
  const bool found = telemetry::detail::collectMacAddresses(addresses);
  std::printf("collectMacAddresses: %d address(es)\n", static_cast<int>(addresses.size()));
  EXPECT_EQ(found, !addresses.empty());
  for (const std::wstring& address : addresses) {
    EXPECT_TRUE(std::regex_match(address, std::wregex(L"([0-9A-F]{2}:){5}[0-9A-F]{2}"))) << address;
  }
}

TEST_F(MachineIdTest, AStoredVirtualIdIsUsedOnAPhysicalMachine) {
  storeFile(protectForTest(kStoredVirtualId));
  EXPECT_EQ(telemetry::getMachineId(), kStoredVirtualId);
  EXPECT_EQ(unprotectStoredFile(), utf16le(kStoredVirtualId));  // read, not rewritten
}

TEST_F(MachineIdTest, WithoutFileAndAdaptersThePhysicalMachineGetsThePlaceholder) {
  std::vector<std::wstring> addresses;
  if (telemetry::detail::collectMacAddresses(addresses)) GTEST_SKIP() << "this machine shows an adapter";
  EXPECT_EQ(telemetry::getMachineId(), kPlaceholder);
  EXPECT_FALSE(testsupport::pathExists(expectedFile()));
  // Nothing was cached: a file that appears later is found by the next call.
  storeFile(protectForTest(kStoredVirtualId));
  EXPECT_EQ(telemetry::getMachineId(), kStoredVirtualId);
}

TEST_F(MachineIdTest, AVirtualMachineReplacesAStoredTextThatIsNoId) {
  // 37 characters; and 38 whose "&" would change the report's query.
  for (const std::wstring& stored : {std::wstring(kStoredVirtualId).substr(0, 37),
                                     std::wstring(L"V-0F1E2D3C-4B5A-6978-8796-A5B4C3D2E&F0")}) {
    telemetry::detail::forgetCachedMachineId();
    storeFile(protectForTest(stored));
    const std::optional<std::u16string> id = telemetry::resolveMachineIdFrom(sourcesOfA(true));
    ASSERT_TRUE(id);
    const std::wstring text = sysenv::toWide(*id);
    EXPECT_EQ(text.substr(0, 2), L"V-");
    EXPECT_TRUE(std::regex_match(text.substr(2), kGuid)) << text;
    EXPECT_EQ(unprotectStoredFile(), utf16le(text));  // 76 bytes, no terminator
  }
}

TEST_F(MachineIdTest, AFileThatCannotBeUnprotectedIsReplaced) {
  const std::string unreadable[] = {
      protectForTest(kOtherVirtualId, "another"),  // another program's entropy
      std::string(200, '\x5A'),                    // not a DPAPI blob at all
  };
  for (const std::string& content : unreadable) {
    storeFile(content);
    std::wstring read;
    EXPECT_FALSE(telemetry::detail::readMachineIdFile(read));
    const std::optional<std::u16string> id = telemetry::resolveMachineIdFrom(sourcesOfA(true));
    ASSERT_TRUE(id);
    EXPECT_NE(sysenv::toWide(*id), kOtherVirtualId);
    EXPECT_EQ(unprotectStoredFile(), utf16le(sysenv::toWide(*id)));
  }
}

TEST_F(MachineIdTest, APhysicalMachineStoresTheIdOfItsSmallestAddress) {
  telemetry::MachineIdSources sources = sourcesOfA(false);
  sources.collectAddresses = [] { return std::vector<std::u16string>{u"00:1A:2B:3C:4D:5E", u"00:0B:2B:3C:4D:5E"}; };
  EXPECT_EQ(telemetry::resolveMachineIdFrom(sources), u"P-000B2B3C-4D5E-000B-2B3C-4D5E000B2B3C");
  EXPECT_EQ(unprotectStoredFile(), utf16le(L"P-000B2B3C-4D5E-000B-2B3C-4D5E000B2B3C"));
  // The next run reads it back, whatever the adapters say then.
  sources.collectAddresses = [] { return std::vector<std::u16string>{u"00:00:00:00:00:01"}; };
  EXPECT_EQ(telemetry::resolveMachineIdFrom(sources), u"P-000B2B3C-4D5E-000B-2B3C-4D5E000B2B3C");
}

TEST_F(MachineIdTest, TheFileFolderIsMadeUnderAllUsersApplicationData) {
  RemoveDirectoryW(expectedFolder().c_str());
  std::wstring path;
  ASSERT_TRUE(telemetry::detail::machineIdFilePath(path));
  EXPECT_EQ(path, expectedFile());
  EXPECT_TRUE(testsupport::pathExists(expectedFolder()));
  EXPECT_TRUE(telemetry::detail::machineIdFilePath(path));  // an existing folder is fine
}

TEST_F(MachineIdTest, TheFolderIsMadeForAdministratorsWithReadingForUsers) {
  using testsupport::AllowedAce;
  using testsupport::Principal;
  constexpr BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  const std::vector<AllowedAce> expected = {
      {Principal::System, FILE_ALL_ACCESS, kInherited},
      {Principal::Administrators, FILE_ALL_ACCESS, kInherited},
      {Principal::Users, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, kInherited}};
  const testsupport::StoredSecurity given =
      testsupport::describeSddl(sysenv::toWide(sysenv::kMachineIdFolderSddl).c_str());
  EXPECT_EQ(given.owner, Principal::Administrators);
  EXPECT_TRUE(given.daclProtected);
  EXPECT_TRUE(given.onlyAllowedAces);
  EXPECT_EQ(given.aces, expected);

  RemoveDirectoryW(expectedFolder().c_str());
  std::wstring path;
  ASSERT_TRUE(telemetry::detail::machineIdFilePath(path));
  if (!testsupport::aclsAreStored()) GTEST_SKIP() << "this system does not store ACLs";
  const testsupport::StoredSecurity stored = testsupport::readStoredSecurity(expectedFolder());
  EXPECT_EQ(stored.owner, Principal::Administrators);
  EXPECT_TRUE(stored.daclProtected);
  EXPECT_EQ(stored.aces, expected);
}

TEST_F(MachineIdTest, AFolderThatIsALinkIsNeitherReadNorWrittenAndAVirtualMachineHasNoId) {
  // Someone made the folder first, as a link to a folder of theirs holding an id of their choice.
  testsupport::ScratchFolder theirs;
  const std::string planted = protectForTest(kStoredVirtualId);
  ASSERT_TRUE(testsupport::writeFileBytes(theirs.file(L"data"), planted));
  RemoveDirectoryW(expectedFolder().c_str());
  if (testsupport::pathExists(expectedFolder())) GTEST_SKIP() << "the folder holds more than the id";
  if (!testsupport::makeDirectoryLink(expectedFolder(), theirs.path())) GTEST_SKIP() << "no folder links here";
  const sysenv::ScopeExit unlink([] { testsupport::removeLeftoverLink(expectedFolder()); });

  EXPECT_TRUE(telemetry::detail::machineIdFolderRefused());
  std::wstring path;
  EXPECT_FALSE(telemetry::detail::machineIdFilePath(path));
  EXPECT_EQ(telemetry::resolveMachineIdFrom(sourcesOfA(true)), std::nullopt);
  EXPECT_EQ(testsupport::readFileBytes(theirs.file(L"data")), planted);
  EXPECT_TRUE(telemetry::machineIdFolderWasRefused());
}

TEST_F(MachineIdTest, ASecondCallReturnsTheCachedIdWithoutReadingTheFile) {
  storeFile(protectForTest(kStoredVirtualId));
  ASSERT_EQ(telemetry::getMachineId(), kStoredVirtualId);
  storeFile(protectForTest(kOtherVirtualId));
  EXPECT_EQ(telemetry::getMachineId(), kStoredVirtualId);
  DeleteFileW(expectedFile().c_str());
  EXPECT_EQ(telemetry::getMachineId(), kStoredVirtualId);
}

TEST(RequestToken, EachCallMakesANewUppercaseGuid) {
  const std::wstring first = telemetry::newRequestToken();
  const std::wstring second = telemetry::newRequestToken();
  EXPECT_TRUE(std::regex_match(first, kGuid)) << first;
  EXPECT_TRUE(std::regex_match(second, kGuid)) << second;
  EXPECT_NE(first, second);
}

// The other process of the sharing tests: this program again, running only the holder below.
constexpr wchar_t kHoldPathVariable[] = L"SORVANE_TEST_HOLD_PATH";
constexpr wchar_t kHoldMsVariable[] = L"SORVANE_TEST_HOLD_MS";
constexpr wchar_t kHoldEventVariable[] = L"SORVANE_TEST_HOLD_EVENT";

std::wstring environmentValue(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  return GetEnvironmentVariableW(name, value, MAX_PATH) ? value : L"";
}

// Started by FileHolder; disabled so that a normal run of this program skips it.
TEST(MachineIdFileHolder, DISABLED_HoldsTheFileOpenExclusively) {
  const std::wstring path = environmentValue(kHoldPathVariable);
  ASSERT_FALSE(path.empty());
  sysenv::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  sysenv::UniqueKernelHandle opened(OpenEventW(EVENT_MODIFY_STATE, FALSE, environmentValue(kHoldEventVariable).c_str()));
  ASSERT_TRUE(opened);
  SetEvent(opened.get());
  Sleep(static_cast<DWORD>(std::stoul(environmentValue(kHoldMsVariable))));
}

// Another process that has the file open exclusively for `holdMs` from the moment the constructor
// returns.
class FileHolder {
 public:
  FileHolder(const std::wstring& path, DWORD holdMs) {
    const std::wstring eventName = L"sorvane-test-hold-" + std::to_wstring(GetCurrentProcessId());
    opened_.reset(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    SetEnvironmentVariableW(kHoldPathVariable, path.c_str());
    SetEnvironmentVariableW(kHoldMsVariable, std::to_wstring(holdMs).c_str());
    SetEnvironmentVariableW(kHoldEventVariable, eventName.c_str());
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = testsupport::quoted(self) +
                               L" --gtest_also_run_disabled_tests"
                               L" --gtest_filter=MachineIdFileHolder.DISABLED_HoldsTheFileOpenExclusively";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      process_.reset(process.hProcess);
      CloseHandle(process.hThread);
    }
    for (const wchar_t* name : {kHoldPathVariable, kHoldMsVariable, kHoldEventVariable}) SetEnvironmentVariableW(name, nullptr);
    HANDLE waits[] = {opened_.get(), process_.get()};
    holding_ = process_ && WaitForMultipleObjects(2, waits, FALSE, 20000) == WAIT_OBJECT_0;
  }
  ~FileHolder() {
    if (process_ && WaitForSingleObject(process_.get(), 20000) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 1);
  }
  bool holding() const { return holding_; }
  // Ends the holder now; its handle to the file is closed when this returns.
  void stop() {
    if (!process_) return;
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 20000);
  }

 private:
  sysenv::UniqueKernelHandle opened_;
  sysenv::UniqueKernelHandle process_;
  bool holding_ = false;
};

TEST_F(MachineIdTest, AFileHeldByAnotherProcessIsReadOnceItIsReleased) {
  storeFile(protectForTest(kStoredVirtualId));
  FileHolder holder(expectedFile(), 1000);
  ASSERT_TRUE(holder.holding());
  const auto start = steady_clock::now();
  std::wstring id;
  EXPECT_TRUE(telemetry::detail::readMachineIdFile(id));
  const auto waited = std::chrono::duration_cast<milliseconds>(steady_clock::now() - start);
  EXPECT_EQ(id, kStoredVirtualId);
  EXPECT_GE(waited.count(), 900);
}

TEST_F(MachineIdTest, AFileHeldTooLongIsGivenUpAfterThreeSeconds) {
  storeFile(protectForTest(kStoredVirtualId));
  FileHolder holder(expectedFile(), 15000);
  ASSERT_TRUE(holder.holding());
  const auto start = steady_clock::now();
  const sysenv::UniqueFileHandle file =
      telemetry::detail::openWithSharingRetry(expectedFile(), GENERIC_READ, OPEN_EXISTING);
  const auto waited = std::chrono::duration_cast<milliseconds>(steady_clock::now() - start);
  EXPECT_FALSE(file);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_GE(waited.count(), 2900);
  holder.stop();
}

}  // namespace
