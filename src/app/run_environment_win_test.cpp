// Win32 code.
#include "app/run_environment_win.h"

#include <gtest/gtest.h>

#include <regex>

#include "app/install_properties.h"
#include "app/language_table.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/machine_id_win.h"

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

TEST(RunEnvironment, CarriesAFreshRequestTokenAndTheProcessMachineId) {
  const app::RunEnvironment first = app::gatherRunEnvironment();
  const app::RunEnvironment second = app::gatherRunEnvironment();
  const std::wregex guid(L"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  EXPECT_TRUE(std::regex_match(sysenv::toWide(first.requestToken), guid));
  EXPECT_NE(first.requestToken, second.requestToken);
  // Whatever this machine's id is (the placeholder where Wine shows no adapter), every record of
  // the process carries the same one.
  EXPECT_EQ(first.machineId.size(), 38u);
  EXPECT_EQ(first.machineId, sysenv::toU16(telemetry::getMachineId()));
  EXPECT_EQ(second.machineId, first.machineId);
}

}  // namespace
