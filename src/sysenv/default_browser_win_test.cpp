// Win32 code.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "sysenv/environment_win.h"
#include "sysenv/unique_handle_win.h"

namespace {

// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE of this process redirected to two fresh private keys
// (RegOverridePredefKey), so each test builds exactly the registry it needs and the real one is
// never touched. Both are put back, and the private keys deleted, at the end.
class PrivateRegistry {
 public:
  PrivateRegistry() : root_(L"Software\\SorvaneTest\\browser-" + std::to_wstring(GetCurrentProcessId())) {
    ok_ = redirect(HKEY_CURRENT_USER, L"user", user_) && redirect(HKEY_LOCAL_MACHINE, L"machine", machine_);
  }
  ~PrivateRegistry() {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    user_.reset();
    machine_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, root_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\SorvaneTest");  // only when no other test uses it
  }
  PrivateRegistry(const PrivateRegistry&) = delete;
  PrivateRegistry& operator=(const PrivateRegistry&) = delete;

  bool ok() const { return ok_; }

  // Makes the StartMenuInternet key under the user's or the machine's root, with a default value
  // of `bytes` (raw, so a test can leave the terminator out) when given.
  void clientsKey(bool machine, const std::wstring* text = nullptr, DWORD type = REG_SZ, DWORD byteCount = ~0u) {
    sysenv::UniqueRegistryKey key;
    const wchar_t* path = machine ? L"SOFTWARE\\Clients\\StartMenuInternet" : L"Software\\Clients\\StartMenuInternet";
    ASSERT_EQ(RegCreateKeyExW(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    if (text == nullptr) return;
    const DWORD size = byteCount != ~0u ? byteCount : static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(RegSetValueExW(key.get(), nullptr, 0, type, reinterpret_cast<const BYTE*>(text->c_str()), size),
              ERROR_SUCCESS);
  }

 private:
  bool redirect(HKEY predefined, const wchar_t* name, sysenv::UniqueRegistryKey& key) {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\" + name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
      return false;
    }
    return RegOverridePredefKey(predefined, key.get()) == ERROR_SUCCESS;
  }

  std::wstring root_;
  sysenv::UniqueRegistryKey user_, machine_;
  bool ok_ = false;
};

TEST(DefaultBrowser, IsTheUsersDefaultValueFirst) {
  PrivateRegistry registry;
  ASSERT_TRUE(registry.ok());
  const std::wstring user = L"Firefox-308046B0AF4A39CB", machine = L"IEXPLORE.EXE";
  registry.clientsKey(false, &user);
  registry.clientsKey(true, &machine);
  EXPECT_EQ(sysenv::queryDefaultBrowser(), user);
}

TEST(DefaultBrowser, IsTheMachinesWhenTheUserHasNoKey) {
  PrivateRegistry registry;
  ASSERT_TRUE(registry.ok());
  const std::wstring machine = L"Google Chrome";
  registry.clientsKey(true, &machine);
  EXPECT_EQ(sysenv::queryDefaultBrowser(), machine);
}

TEST(DefaultBrowser, IsOtherWhenTheUsersKeyHasNoDefaultValueEvenIfTheMachineNamesOne) {
  PrivateRegistry registry;
  ASSERT_TRUE(registry.ok());
  const std::wstring machine = L"IEXPLORE.EXE";
  registry.clientsKey(false);
  registry.clientsKey(true, &machine);
  EXPECT_EQ(sysenv::queryDefaultBrowser(), L"Other");
}

TEST(DefaultBrowser, IsOtherWithoutEitherKey) {
  PrivateRegistry registry;
  ASSERT_TRUE(registry.ok());
  EXPECT_EQ(sysenv::queryDefaultBrowser(), L"Other");
}

TEST(DefaultBrowser, IsEmptyForAnEmptyDefaultValue) {
  PrivateRegistry registry;
  ASSERT_TRUE(registry.ok());
  const std::wstring empty;
  registry.clientsKey(false, &empty);
  EXPECT_EQ(sysenv::queryDefaultBrowser(), L"");
}

TEST(DefaultBrowser, TakesTheValueUpToItsFirstNulWhateverItsType) {
  PrivateRegistry registry;
  ASSERT_TRUE(registry.ok());
  const std::wstring text(L"Opera\0Stable", 12);
  registry.clientsKey(false, &text, REG_BINARY, static_cast<DWORD>(text.size() * sizeof(wchar_t)));
  EXPECT_EQ(sysenv::queryDefaultBrowser(), L"Opera");
}

TEST(DefaultBrowser, FillsTheWholeBufferButIsOtherBeyondIt) {
  PrivateRegistry registry;
  ASSERT_TRUE(registry.ok());
  // 260 characters without a terminator fill all 520 bytes: the text must still end there. (As a
  // binary value: Wine refuses a string value that leaves no room for the terminator it adds.)
  const std::wstring full(260, L'b');
  registry.clientsKey(false, &full, REG_BINARY, 520);
  EXPECT_EQ(sysenv::queryDefaultBrowser(), full);
  // 260 characters with their terminator need 522 bytes: the read fails.
  registry.clientsKey(false, &full);
  EXPECT_EQ(sysenv::queryDefaultBrowser(), L"Other");
  const std::wstring longest(259, L'c');
  registry.clientsKey(false, &longest);
  EXPECT_EQ(sysenv::queryDefaultBrowser(), longest);
}

}  // namespace
