// Win32 code. The product script object, through the real JScript engine where a page would
// reach it, with real windows, and against the loopback test server for the network check.
#include "sorvane/sorvane_external_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "downloadmanagercore/download_engine_win.h"
#include "downloadmanagercore/download_rules.h"
#include "support/jscript_host_win.h"
#include "support/test_http_server_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/environment_win.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/analytics_win.h"

namespace sorvane {
namespace {

class SorvaneExternalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    object_ = new SorvaneExternal(&properties_, &analytics_, &logger_);
  }
  void TearDown() override {
    if (object_ != nullptr) object_->Release();
    CoUninitialize();
  }

  app::Logger logger_;
  app::InstallProperties properties_{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
  downloadmanagercore::Analytics analytics_{&properties_};
  SorvaneExternal* object_ = nullptr;
};

TEST_F(SorvaneExternalTest, PublishesTheSystemFactsAndZeroProgressFromConstructionAndDeletesItsFolder) {
  EXPECT_EQ(object_->property(L"osVersion"), sysenv::queryOsVersion());
  EXPECT_EQ(object_->property(L"arch"), sysenv::queryArchitecture());
  EXPECT_EQ(object_->property(L"extractProgress"), L"0");
  EXPECT_EQ(object_->property(L"downloadTotal"), L"1");
  EXPECT_EQ(object_->extractError(), 0u);

  const std::wstring workFolder = object_->workFolder();
  ASSERT_FALSE(workFolder.empty());
  testsupport::writeFileBytes(workFolder + L"package.zip", "PK");
  EXPECT_TRUE(testsupport::pathExists(workFolder));
  object_->Release();
  object_ = nullptr;
  EXPECT_FALSE(testsupport::pathExists(workFolder));
}

// The user's high-contrast setting as the page reads it through JScript, off and then on. The
// setting is changed for this session only (no SPIF_UPDATEINIFILE) and put back.
TEST_F(SorvaneExternalTest, ThePageReadsTheHighContrastSettingAndCannotChangeIt) {
  HIGHCONTRASTW original{};
  original.cbSize = sizeof(original);
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(original), &original, 0));
  // The value of getProperty('highContrast'), after `first` has run.
  const auto readThroughScript = [](SorvaneExternal* object, const wchar_t* first = nullptr) {
    testsupport::JScriptHost script;
    EXPECT_TRUE(script.ok());
    EXPECT_EQ(script.addNamedItem(L"external", static_cast<IDispatchEx*>(object)), S_OK);
    if (first != nullptr) {
      EXPECT_EQ(script.run(first), S_OK) << first;
    }
    VARIANT value;
    VariantInit(&value);
    std::wstring text = L"(failed)";
    if (script.evaluate(L"external.getProperty('highContrast')", &value) == S_OK && value.vt == VT_BSTR) {
      text = value.bstrVal;
    }
    VariantClear(&value);
    return text;
  };
  const auto withSetting = [&](DWORD flags) {
    HIGHCONTRASTW setting = original;
    setting.dwFlags = (original.dwFlags & ~HCF_HIGHCONTRASTON) | flags;
    return SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof(setting), &setting, 0) != FALSE;
  };
  const auto freshObject = [this] { return new SorvaneExternal(&properties_, &analytics_, &logger_); };

  const bool canSet = withSetting(0);
  EXPECT_EQ(object_->property(L"highContrast"), sysenv::queryHighContrast() ? L"1" : L"0");
  if (canSet) {
    SorvaneExternal* off = freshObject();
    EXPECT_EQ(readThroughScript(off), L"0");
    off->Release();
  }
  // The page has no command that writes a property: an assignment only adds an expando member.
  EXPECT_EQ(readThroughScript(object_, L"external.highContrast = '1';"), object_->property(L"highContrast"));

  if (!canSet || !withSetting(HCF_HIGHCONTRASTON) || !sysenv::queryHighContrast()) {
    SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof(original), &original, 0);
    // Wine 8 refuses SPI_SETHIGHCONTRAST (ERROR_INVALID_SPI_VALUE) and always answers "off".
    GTEST_SKIP() << "this system does not take a high-contrast setting: only \"off\" was read";
  }
  SorvaneExternal* on = freshObject();
  const std::wstring seen = readThroughScript(on);
  on->Release();
  SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof(original), &original, 0);
  EXPECT_EQ(seen, L"1");
}

TEST(SorvaneExternalWithoutWorkFolder, EveryJobFailsWithOneAndNothingIsDeleted) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  // Where a missing work folder used to lead: the temporary folder itself, or the current folder.
  testsupport::ScratchFolder temp, current;
  ASSERT_TRUE(testsupport::writeFileBytes(temp.file(L"keep.txt"), "keep"));
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(current.path().c_str()));
  {
    app::Logger logger;
    app::InstallProperties properties{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
    downloadmanagercore::Analytics analytics{&properties};
    auto* object = new SorvaneExternal(&properties, &analytics, &logger, [](std::wstring&) { return false; });
    EXPECT_EQ(object->workFolder(), L"");
    EXPECT_EQ(object->DownloadPackage(L"http://127.0.0.1:1/SorvanePro.zip"), 1);
    EXPECT_EQ(object->ExtractPackage(temp.file(L"keep.txt")), 1);
    EXPECT_EQ(object->InstallPackage(L"", L" a=b"), 1);
    object->Release();

    const std::string log = testsupport::readFileBytes(logger.logPath());
    for (const char* line : {"ERROR] create work folder failed!", "ERROR] QJDownload: no work folder",
                             "ERROR] QJExtractPackage: no work folder", "ERROR] QJInstall: no work folder"}) {
      EXPECT_NE(log.find(line), std::string::npos) << line;
    }
  }
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(testsupport::readFileBytes(temp.file(L"keep.txt")), "keep");
  EXPECT_EQ(testsupport::listFolder(current.path()), std::vector<std::wstring>{});
  CoUninitialize();
}

TEST_F(SorvaneExternalTest, ThePageSeesTheProductTable) {
  const wchar_t* const names[] = {L"setWindowSize",      L"closeWindow",      L"download",
                                  L"extract",            L"install",          L"getProperty",
                                  L"setChannel",         L"setInstallStatus", L"startInstallProgram",
                                  L"hideWindow",         L"dragWindow",       L"messageBox",
                                  L"disableCloseWindow", L"openPage",         L"manageShortcut"};
  for (DISPID expected = 1; expected <= 15; ++expected) {
    LPOLESTR name = const_cast<LPOLESTR>(names[expected - 1]);
    DISPID dispid = 0;
    EXPECT_EQ(object_->GetIDsOfNames(IID_NULL, &name, 1, 0, &dispid), S_OK) << names[expected - 1];
    EXPECT_EQ(dispid, expected) << names[expected - 1];
  }

  testsupport::JScriptHost script;
  ASSERT_TRUE(script.ok());
  ASSERT_EQ(script.addNamedItem(L"external", static_cast<IDispatchEx*>(object_)), S_OK);
  VARIANT value;
  VariantInit(&value);
  ASSERT_EQ(script.evaluate(L"external.getProperty('extractProgress')", &value), S_OK);
  ASSERT_EQ(value.vt, VT_BSTR);
  EXPECT_STREQ(value.bstrVal, L"0");
  VariantClear(&value);
  for (const wchar_t* absent : {L"external.restoreWindow()", L"external.retryMessageBox('x')"}) {
    script.clearErrors();
    EXPECT_TRUE(FAILED(script.run(absent))) << absent;
    EXPECT_EQ(script.errors().size(), 1u) << absent;
  }
}

TEST_F(SorvaneExternalTest, EveryWindowHandedInGetsTheColourKey) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  const auto expectKeyed = [window] {
    EXPECT_NE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYERED, 0);
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(window, &key, &alpha, &flags));
    EXPECT_EQ(key, kTransparentColourKey);
    EXPECT_EQ(flags, static_cast<DWORD>(LWA_COLORKEY));
  };
  object_->SetHostWindow(window);
  expectKeyed();
  // The same window again, after something took the layered style away: keyed again.
  SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) & ~WS_EX_LAYERED);
  object_->SetHostWindow(window);
  expectKeyed();
  object_->SetHostWindow(nullptr);
  EXPECT_EQ(object_->hostWindow(), nullptr);
  DestroyWindow(window);
}

TEST_F(SorvaneExternalTest, ExtractionProgressIsARoundedPercentage) {
  const struct {
    std::uint32_t done, total;
    const wchar_t* expected;
  } cases[] = {{1, 3, L"33"}, {2, 3, L"67"}, {1, 8, L"13"}, {3, 3, L"100"}, {4, 0, L"0"}};
  for (const auto& c : cases) {
    object_->ReportProgress(c.done, c.total);
    EXPECT_EQ(object_->property(L"extractProgress"), c.expected) << c.done << "/" << c.total;
  }
  object_->ReportError(112);
  EXPECT_EQ(object_->extractError(), 112u);
}

// The page's download, from the script engine through the real engine and the loopback server to
// the page's callback.
class SorvaneDownloadTest : public SorvaneExternalTest {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_TEST_SERVER();
    SorvaneExternalTest::SetUp();
    script_ = std::make_unique<testsupport::JScriptHost>();
    ASSERT_TRUE(script_->ok());
    ASSERT_EQ(script_->addNamedItem(L"external", static_cast<IDispatchEx*>(object_)), S_OK);
  }
  // The worker holds the object until its very last step, after its last log line; the work
  // folder goes with the object.
  void TearDown() override {
    script_.reset();
    if (object_ != nullptr) {
      const std::wstring workFolder = object_->workFolder();
      object_->Release();
      object_ = nullptr;
      EXPECT_TRUE(testsupport::pumpMessagesUntil([&] { return !testsupport::pathExists(workFolder); }));
    }
    SorvaneExternalTest::TearDown();
  }

  // The result that the page's callback receives for `url`.
  int pageDownload(const std::wstring& url) {
    EXPECT_EQ(script_->run(L"external.download('" + url + L"', function (r) { got = r; });"), S_OK);
    const auto called = [this] {
      VARIANT isNumber;
      return SUCCEEDED(script_->evaluate(L"typeof got == 'number'", &isNumber)) && isNumber.vt == VT_BOOL &&
             isNumber.boolVal == VARIANT_TRUE;
    };
    // Long enough for ten attempts a second apart.
    EXPECT_TRUE(testsupport::pumpMessagesUntil(called, 30000));
    VARIANT result;
    EXPECT_EQ(script_->evaluate(L"got", &result), S_OK);
    return result.lVal;
  }

  std::unique_ptr<testsupport::JScriptHost> script_;
};

TEST_F(SorvaneDownloadTest, ThePackageArrivesWhole) {
  EXPECT_EQ(pageDownload(testsupport::testServerUrl(L"/files/gen-300000.bin")), 0);
  EXPECT_EQ(testsupport::readFileBytes(object_->downloadPath()).size(), 300000u);
  EXPECT_EQ(object_->property(L"downloadTotal"), L"300000");
  EXPECT_EQ(properties_.wrapperError, 0);
}

TEST_F(SorvaneDownloadTest, AMissingPackageOnAReachableServerStaysNotFound) {
  EXPECT_EQ(pageDownload(testsupport::testServerUrl(L"/status/404/SorvanePro.zip")),
            downloadmanagercore::kDownloadObjectNotFound);
  EXPECT_EQ(properties_.msiError, downloadmanagercore::kDownloadObjectNotFound);
}

TEST_F(SorvaneDownloadTest, AServerThatNeverAnswersEndsTheDownloadAsANetworkProblem) {
  // Half a second of silence instead of half a minute ends each attempt; the connection check then
  // finds the host reachable, so the page shows its network-problem message, not "no network".
  downloadmanagercore::setReceiveTimeoutMillisecondsForTests(500);
  const DWORD started = GetTickCount();
  EXPECT_EQ(pageDownload(testsupport::testServerUrl(L"/hang/SorvanePro.zip")), downloadmanagercore::kDownloadTransient);
  downloadmanagercore::setReceiveTimeoutMillisecondsForTests(downloadmanagercore::kReceiveTimeoutMilliseconds);
  const DWORD took = GetTickCount() - started;
  std::printf("[ measured ] ten silent attempts took %lu ms\n", static_cast<unsigned long>(took));
  EXPECT_GE(took, downloadmanagercore::kAttemptBudget * 500u + (downloadmanagercore::kAttemptBudget - 1) * 1000u);
  EXPECT_EQ(properties_.msiError, downloadmanagercore::kDownloadTransient);
}

TEST_F(SorvaneDownloadTest, AnUnreachableServerMeansNoNetwork) {
  EXPECT_EQ(pageDownload(testsupport::closedPortUrl(L"/files/SorvanePro.zip")),
            downloadmanagercore::kDownloadNoNetwork);
  EXPECT_EQ(properties_.wrapperError, 1);
  EXPECT_EQ(properties_.msiError, downloadmanagercore::kDownloadNoNetwork);
}

// A name that no name server knows, on a machine that has a network: the server, not the network.
TEST_F(SorvaneDownloadTest, AServerNameThatIsNotFoundIsNotANetworkProblem) {
  EXPECT_EQ(pageDownload(L"http://sorvane-package.invalid/SorvanePro.zip"), downloadmanagercore::kDownloadServerNotFound);
  EXPECT_EQ(properties_.msiError, downloadmanagercore::kDownloadServerNotFound);
}

}  // namespace
}  // namespace sorvane
