// Win32 test code.
#include "app/run_environment_win.h"

#include <gtest/gtest.h>

#include "app/install_properties.h"
#include "app/language_table.h"

namespace {

// The Wine tests run the 64-bit build on 64-bit Wine.
TEST(RunEnvironment, RecordBuiltFromThisSystemDescribesA64BitWindows) {
  const app::RunEnvironment environment = app::gatherRunEnvironment();
  app::InstallProperties properties(u"KRV", u"1.0.20.1", environment);
  EXPECT_EQ(properties.architecture, u"x64");
  EXPECT_EQ(properties.properties.at(u"osbits"), u"64");
  EXPECT_EQ(properties.OS.substr(0, 8), u"Windows ");
  EXPECT_FALSE(properties.country.empty());
  EXPECT_FALSE(properties.defaultBrowser.empty());
  // This test program is started without passthro="...".
  EXPECT_EQ(properties.passthrough, u"");
  EXPECT_GE(properties.language, 0);
  EXPECT_LT(properties.language, app::kLanguageCount);
  EXPECT_EQ(properties.language, app::uiLanguageIndex());
}

TEST(RunEnvironment, IdentityPlaceholdersStandInUntilTheIdentityIsMade) {
  const app::RunEnvironment environment = app::gatherRunEnvironment();
  EXPECT_EQ(environment.requestToken, u"XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
  EXPECT_EQ(environment.machineId, u"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
  EXPECT_EQ(environment.machineId.size(), 38u);
}

}  // namespace
