#include "release/release_settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace release {
namespace {

Settings complete() {
  return {{"REPORT_HOST", "reports.example.com"},
          {"PACKAGE_URL", "https://downloads.example.com/SorvanePro.zip"},
          {"PACKAGE_SHA256", std::string(64, 'A')},
          {"PACKAGE_SIGNER", "Sorvane Software Ltd"},
          {"PACKAGE_SIGNER_KEY", std::string(64, 'b')}};
}

TEST(ReleaseSettings, TheReadmeCommandIsACompleteRelease) {
  const SettingsCheck check = checkSettings(complete(), false);
  EXPECT_TRUE(check.ok());
  // Without a thank-you page and a time stamp it still packs, with a warning for each.
  ASSERT_EQ(check.warnings.size(), 2u);
  EXPECT_NE(check.warnings[0].find("THANK_YOU_URL"), std::string::npos);
  EXPECT_NE(check.warnings[1].find("TIMESTAMP_URL"), std::string::npos);
  Settings full = complete();
  full["THANK_YOU_URL"] = "https://www.example.com/thanks.html";
  full["TIMESTAMP_URL"] = "http://timestamp.example.com/";
  full["CHANNEL"] = "web-2026.12";
  EXPECT_TRUE(checkSettings(full, false).ok());
  EXPECT_TRUE(checkSettings(full, false).warnings.empty());
}

TEST(ReleaseSettings, NothingGivenNamesEverythingMissing) {
  const SettingsCheck check = checkSettings({}, false);
  EXPECT_EQ(check.missing,
            (std::vector<std::string>{"REPORT_HOST", "PACKAGE_URL", "PACKAGE_SHA256 or PACKAGE_MANIFEST_KEY"}));
  // The signer pin checks setup.exe alone: a release without the package's hash is refused, and the
  // message says why.
  Settings signerOnly = complete();
  signerOnly.erase("PACKAGE_SHA256");
  ASSERT_EQ(checkSettings(signerOnly, false).missing.size(), 1u);
  EXPECT_NE(checkSettings(signerOnly, false).missing[0].find("PACKAGE_SIGNER alone verifies only setup.exe"),
            std::string::npos);
  Settings hashOnly = complete();
  hashOnly.erase("PACKAGE_SIGNER");
  EXPECT_TRUE(checkSettings(hashOnly, false).ok());
  // The signed manifest pins the whole package as the hash does, with its version floor.
  Settings manifest = signerOnly;
  manifest["PACKAGE_MANIFEST_KEY"] = std::string(64, 'c');
  manifest["PACKAGE_VERSION_FLOOR"] = "5.2.0.0";
  EXPECT_TRUE(checkSettings(manifest, false).ok());
  manifest.erase("PACKAGE_VERSION_FLOOR");
  EXPECT_EQ(checkSettings(manifest, false).missing,
            (std::vector<std::string>{"PACKAGE_VERSION_FLOOR (with PACKAGE_MANIFEST_KEY: the oldest product version "
                                      "the stub may install)"}));
  // A name without its key is what any certificate of that name carries.
  Settings nameWithoutKey = complete();
  nameWithoutKey.erase("PACKAGE_SIGNER_KEY");
  EXPECT_EQ(checkSettings(nameWithoutKey, false).missing,
            (std::vector<std::string>{"PACKAGE_SIGNER_KEY (PACKAGE_SIGNER is a name any certificate can carry: pin "
                                      "the signer's key too)"}));
  // A test build may still pin the signer alone, for the packages that differ on purpose.
  EXPECT_TRUE(checkSettings(signerOnly, true).missing.empty());
}

TEST(ReleaseSettings, ValuesAReleaseCannotTakeAreNamed) {
  const struct {
    const char* name;
    std::string value;
    const char* problem;
  } cases[] = {
      {"PACKAGE_URL", "http://downloads.example.com/SorvanePro.zip", "https only"},
      {"PACKAGE_URL", "https://127.0.0.1:8631/SorvanePro.zip", "loopback or private"},
      {"PACKAGE_URL", "https://localhost/SorvanePro.zip", "loopback or private"},
      {"PACKAGE_URL", "https://192.168.1.20/SorvanePro.zip", "loopback or private"},
      {"PACKAGE_URL", "https://[::1]/SorvanePro.zip", "loopback or private"},
      {"PACKAGE_URL", "https://127.1/SorvanePro.zip", "loopback or private"},
      {"PACKAGE_URL", "https://[::127.0.0.1]/SorvanePro.zip", "loopback or private"},
      {"PACKAGE_URL", "https://downloads.example.com/setup.exe", "plain .zip name"},
      {"PACKAGE_URL", "https://downloads.example.com/con.zip", "plain .zip name"},
      {"PACKAGE_URL", "https://downloads.example.com/COM1.zip", "plain .zip name"},
      {"PACKAGE_URL", "https://downloads.example.com/Sorvane%20Pro.zip", "plain .zip name"},
      {"THANK_YOU_URL", "http://www.example.com/thanks.html", "https only"},
      {"PACKAGE_URL", "https://downloads.example.com/", "file name"},
      {"PACKAGE_URL", "https://downloads.example.com/p.zip?v=2", "file name"},
      {"PACKAGE_URL", "https://user@downloads.example.com/p.zip", "not an http(s) URL"},
      {"PACKAGE_URL", "file:///C:/p.zip", "not an http(s) URL"},
      {"REPORT_HOST", "https://reports.example.com", "host name only"},
      {"THANK_YOU_URL", "javascript:alert(1)", "not an http(s) URL"},
      {"CHANNEL", "web\"; evil()", "letters, digits"},
      {"PACKAGE_SHA256", std::string(63, 'a'), "64 hexadecimal"},
      {"PACKAGE_SIGNER", std::string(129, 'x'), "at most 128"},
      {"PACKAGE_SIGNER_KEY", std::string(63, 'a'), "PACKAGE_SIGNER_KEY: not 64 hexadecimal digits"},
      {"PACKAGE_MANIFEST_KEY", std::string(64, 'x'), "PACKAGE_MANIFEST_KEY: not 64 hexadecimal digits"},
      {"PACKAGE_VERSION_FLOOR", "5.2.0.0", "PACKAGE_VERSION_FLOOR: only with PACKAGE_MANIFEST_KEY"},
      {"TIMESTAMP_URL", "ts.example.com", "not an http(s) URL"},
      {"PACKAGE_SIGNR", "Sorvane Software Ltd", "not a release setting"},
  };
  for (const auto& c : cases) {
    Settings settings = complete();
    settings[c.name] = c.value;
    const SettingsCheck check = checkSettings(settings, false);
    ASSERT_EQ(check.problems.size(), 1u) << c.name << "=" << c.value;
    EXPECT_EQ(check.problems[0].rfind(std::string(c.name) + ": ", 0), 0u) << check.problems[0];
    EXPECT_NE(check.problems[0].find(c.problem), std::string::npos) << check.problems[0];
  }
}

TEST(ReleaseSettings, TestBuildsKeepTheirLoopbackServers) {
  Settings settings = complete();
  settings["REPORT_HOST"] = "127.0.0.1";
  settings["PACKAGE_URL"] = "http://127.0.0.1:8631/SorvanePro.zip";
  EXPECT_FALSE(checkSettings(settings, false).ok());
  const SettingsCheck check = checkSettings(settings, true);
  EXPECT_TRUE(check.ok());
}

TEST(ReleaseSettings, LocalHostsAreToldFromPublicOnes) {
  for (const char* host : {"localhost", "LOCALHOST.", "a.localhost", "127.0.0.1", "127.1.2.3", "0.0.0.0", "10.0.0.1",
                           "172.16.0.1", "172.31.255.255", "192.168.0.1", "169.254.1.1", "100.64.0.1", "::1", "::",
                           "fd12::1", "fe80::1", "::ffff:127.0.0.1", "intranet",
                           // the same places in the other notations a resolver takes
                           "127.1", "0177.0.0.1", "0x7f.1", "2130706433", "10.1", "0", "224.0.0.1",
                           "255.255.255.255", "0:0:0:0:0:0:0:1", "::127.0.0.1", "::ffff:7f00:1",
                           "0:0:0:0:0:ffff:10.0.0.1", "64:ff9b::7f00:1", "febf::1", "fec0::1", "ff02::1",
                           "fe80::1%25eth0"}) {
    EXPECT_TRUE(isLocalHost(host)) << host;
  }
  for (const char* host : {"downloads.example.com", "8.8.8.8", "172.32.0.1", "172.15.0.1", "192.169.0.1",
                           "2001:db8::1", "100.128.0.1", "fe00::1", "64:ff9b::808:808", "2606:2800:220:1::1"}) {
    EXPECT_FALSE(isLocalHost(host)) << host;
  }
}

TEST(ReleaseSettings, StubParamsHoldTheGivenUrlsAsScriptStrings) {
  Settings settings = complete();
  settings["THANK_YOU_URL"] = "https://www.example.com/thanks.html?from=\"stub\"&x=</script>";
  EXPECT_EQ(stubParamsScript(settings),
            "var stubParams = {\"packageUrl\": \"https://downloads.example.com/SorvanePro.zip\", "
            "\"packageUrls\": [\"https://downloads.example.com/SorvanePro.zip\"], \"channel\": \"web\", "
            "\"shortcutName\": \"Sorvane Pro Setup.lnk\", \"thankYouUrl\": "
            "\"https://www.example.com/thanks.html?from=\\\"stub\\\"&x=\\u003c/script\\u003e\", \"offlineUrl\": \"\"};\n");
  settings["CHANNEL"] = "beta";
  settings["THANK_YOU_URL"] = "https://www.example.com/caf\xc3\xa9";
  EXPECT_NE(stubParamsScript(settings).find("\"channel\": \"beta\""), std::string::npos);
  EXPECT_NE(stubParamsScript(settings).find("caf\\u00e9\""), std::string::npos);
}

TEST(ReleaseSettings, TheFullInstallerPageIsOptionalAndHttpsOnly) {
  Settings settings = complete();
  settings["OFFLINE_URL"] = "https://www.example.com/SorvaneProFull.exe?lang=\"en\"";
  const SettingsCheck check = checkSettings(settings, false);
  EXPECT_TRUE(check.ok());
  // Only the missing thank-you page and time stamp are warned about: without this page the
  // download's failure messages stay as they are.
  EXPECT_EQ(check.warnings.size(), 2u);
  EXPECT_NE(stubParamsScript(settings).find(
                "\"offlineUrl\": \"https://www.example.com/SorvaneProFull.exe?lang=\\\"en\\\"\"};\n"),
            std::string::npos);
  const struct {
    std::string value;
    const char* problem;
  } cases[] = {
      {"http://www.example.com/full.exe", "OFFLINE_URL: https only: http://www.example.com/full.exe"},
      {"javascript:alert(1)", "OFFLINE_URL: not an http(s) URL: javascript:alert(1)"},
      {"file:///C:/full.exe", "OFFLINE_URL: not an http(s) URL: file:///C:/full.exe"},
      {"https://user@www.example.com/full.exe", "OFFLINE_URL: not an http(s) URL: https://user@www.example.com/full.exe"},
  };
  for (const auto& c : cases) {
    settings["OFFLINE_URL"] = c.value;
    EXPECT_EQ(checkSettings(settings, false).problems, std::vector<std::string>{c.problem}) << c.value;
  }
  // A test build may point it at its loopback server over plain http, as it does the thank-you page.
  settings["OFFLINE_URL"] = "http://127.0.0.1:8631/full.html";
  EXPECT_TRUE(checkSettings(settings, true).ok());
}

TEST(ReleaseSettings, UpToFourPlacesServeThePackageInOrder) {
  Settings settings = complete();
  settings["PACKAGE_URL"] = "https://a.example.com/SorvanePro.zip  https://b.example.net/pro/SorvanePro.zip";
  EXPECT_TRUE(checkSettings(settings, false).ok());
  EXPECT_EQ(packageUrlsOf(settings), (std::vector<std::string>{"https://a.example.com/SorvanePro.zip",
                                                               "https://b.example.net/pro/SorvanePro.zip"}));
  EXPECT_NE(stubParamsScript(settings).find("\"packageUrl\": \"https://a.example.com/SorvanePro.zip\", \"packageUrls\": "
                                            "[\"https://a.example.com/SorvanePro.zip\", "
                                            "\"https://b.example.net/pro/SorvanePro.zip\"]"),
            std::string::npos);
  // Each one is held to the same rules.
  settings["PACKAGE_URL"] = "https://a.example.com/SorvanePro.zip http://10.0.0.1/SorvanePro.zip";
  EXPECT_EQ(checkSettings(settings, false).problems.size(), 2u);
  settings["PACKAGE_URL"] = "https://a.example.com/p.zip https://b.example.com/p.zip https://c.example.com/p.zip "
                            "https://d.example.com/p.zip https://e.example.com/p.zip";
  ASSERT_EQ(checkSettings(settings, false).problems.size(), 1u);
  EXPECT_NE(checkSettings(settings, false).problems[0].find("at most 4 URLs"), std::string::npos);
}

// The pages' committed js/stubparams.js is what the test builds' settings generate.
TEST(ReleaseSettings, TheCommittedStubParamsAreTheTestSettings) {
  std::ifstream in(std::string(SORVANE_ROOT) + "/ui/js/stubparams.js", std::ios::binary);
  const std::string committed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const Settings testSettings = {{"REPORT_HOST", "127.0.0.1"},
                                 {"PACKAGE_URL", "http://127.0.0.1:8631/SorvanePro.zip"},
                                 {"THANK_YOU_URL", "http://127.0.0.1:8631/thankyou.html"},
                                 {"CHANNEL", "demo"},
                                 {"PACKAGE_SIGNER", "Sorvane Pro Test Signing"}};
  ASSERT_TRUE(checkSettings(testSettings, true).ok());
  EXPECT_EQ(stubParamsScript(testSettings), committed);
}

}  // namespace
}  // namespace release
