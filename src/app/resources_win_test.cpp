// Win32 code. The resources of the built stub, read from the executable itself as Windows would read them.
#include <gtest/gtest.h>

#include <initializer_list>

#include <string>

#include "app/resources/resource_ids.h"
#include "app/string_resources_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/unique_handle_win.h"

namespace {

class StubResources : public ::testing::Test {
 protected:
  void SetUp() override {
    stub_.reset(LoadLibraryExW(testsupport::stubExePath().c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(stub_) << "cannot open the stub";
  }
  std::string resourceBytes(LPCWSTR type, LPCWSTR name) {
    HRSRC found = FindResourceW(stub_.get(), name, type);
    if (found == nullptr) return {};
    const char* data = static_cast<const char*>(LockResource(LoadResource(stub_.get(), found)));
    return std::string(data, SizeofResource(stub_.get(), found));
  }
  sysenv::UniqueModule stub_;
};

TEST_F(StubResources, GermanTextsByExactLanguageAndNoneForSpanish) {
  EXPECT_EQ(app::loadResourceString(IDS_PRIVILEGE_MESSAGE, 0x0407, stub_.get()),
            L"Sie verf\u00fcgen nicht \u00fcber die erforderlichen Rechte, um diese Installation auszuf\u00fchren. "
            L"Melden Sie sich als Administrator an und versuchen Sie es dann erneut.");
  EXPECT_EQ(app::loadResourceString(IDS_PRIVILEGE_CAPTION, 0x0407, stub_.get()), L"Warnung");
  EXPECT_EQ(app::loadResourceString(IDS_PRIVILEGE_MESSAGE, 0x0C0A, stub_.get()), L"");
  EXPECT_EQ(app::loadResourceString(IDS_PRIVILEGE_CAPTION, 0x0C0A, stub_.get()), L"");
}

TEST_F(StubResources, NonLatinTextsSurviveTheResourceCompiler) {
  EXPECT_EQ(app::loadResourceString(IDS_PRIVILEGE_CAPTION, 0x0411, stub_.get()), L"\u8B66\u544A");
  EXPECT_EQ(app::loadResourceString(IDS_PRIVILEGE_CAPTION, 0x0404, stub_.get()), L"\u8B66\u544A");
  std::wstring traditional = app::loadResourceString(IDS_PRIVILEGE_MESSAGE, 0x0404, stub_.get());
  EXPECT_EQ(traditional.substr(0, 3), L"\u60A8\u6C92\u6709");
}

TEST_F(StubResources, EverySupportedLanguageHasBothStrings) {
  for (const WORD language : std::initializer_list<WORD>{0x0409, 0x0407, 0x040C, 0x0410, 0x0411, 0x0413, 0x0404}) {
    EXPECT_FALSE(app::loadResourceString(IDS_PRIVILEGE_MESSAGE, language, stub_.get()).empty()) << language;
    EXPECT_FALSE(app::loadResourceString(IDS_PRIVILEGE_CAPTION, language, stub_.get()).empty()) << language;
  }
}

TEST_F(StubResources, MissingIdsAndBlocksGiveEmptyText) {
  EXPECT_EQ(app::loadResourceString(IDS_PRIVILEGE_CAPTION + 1, 0x0409, stub_.get()), L"");
  EXPECT_EQ(app::loadResourceString(5000, 0x0409, stub_.get()), L"");
}

TEST_F(StubResources, ManifestDemandsAdministratorAndDeclaresDpiAwareness) {
  std::string manifest = resourceBytes(RT_MANIFEST, MAKEINTRESOURCEW(1));
  EXPECT_NE(manifest.find("level=\"requireAdministrator\" uiAccess=\"false\""), std::string::npos);
  EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
  // Windows 10: without it, version queries report 6.2 on 8.1 and 10.
  EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
}

TEST_F(StubResources, VersionBlockSaysOnePointZeroTwentyOne) {
  std::string version = resourceBytes(RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO));
  // VS_FIXEDFILEINFO starts at its signature, after the block's header and key.
  const DWORD signature = 0xFEEF04BD;
  size_t at = version.find(std::string(reinterpret_cast<const char*>(&signature), 4));
  ASSERT_NE(at, std::string::npos);
  VS_FIXEDFILEINFO fixed;
  ASSERT_LE(at + sizeof fixed, version.size());
  memcpy(&fixed, version.data() + at, sizeof fixed);
  EXPECT_EQ(fixed.dwFileVersionMS, MAKELONG(0, 1));
  EXPECT_EQ(fixed.dwFileVersionLS, MAKELONG(1, 20));
  EXPECT_EQ(fixed.dwProductVersionMS, fixed.dwFileVersionMS);
  EXPECT_EQ(fixed.dwProductVersionLS, fixed.dwFileVersionLS);
  const std::wstring text = L"1.0.20.1";
  std::string utf16(reinterpret_cast<const char*>(text.c_str()), text.size() * sizeof(wchar_t));
  EXPECT_NE(version.find(utf16), std::string::npos) << "the version strings";
}

TEST_F(StubResources, IconGroupHoldsFourSizes) {
  std::string group = resourceBytes(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APPLICATION_ICON));
  ASSERT_GE(group.size(), 6u);
  const unsigned count = static_cast<unsigned char>(group[4]) | (static_cast<unsigned char>(group[5]) << 8);
  ASSERT_EQ(count, 4u);
  ASSERT_EQ(group.size(), 6u + 14u * count);
  std::string widths;
  for (unsigned i = 0; i < count; ++i) widths += std::to_string(static_cast<unsigned char>(group[6 + 14 * i])) + " ";
  EXPECT_EQ(widths, "64 48 32 16 ");
}

}  // namespace
