// Win32 code. The installation step of the product's script object, with a stand-in setup.exe
// that records how it was started and installs a real MSI through Windows Installer (or ends with a
// chosen exit code), called as the install worker calls it and from the page through JScript.
#include "sorvane/sorvane_external_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "support/jscript_host_win.h"
#include "support/test_product_win.h"
#include "support/wine_test_support_win.h"
#include "telemetry/analytics_win.h"

namespace sorvane {
namespace {

class InstallPackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    // Every expectation about the product's version starts from a machine without the product.
    ASSERT_TRUE(testsupport::uninstallTestProduct());
    object_ = new SorvaneExternal(&properties_, &analytics_, &logger_);
    ASSERT_FALSE(object_->workFolder().empty());
  }
  // A page's install worker holds the object until its very last step; the work folder goes with
  // the object.
  void TearDown() override {
    if (object_ != nullptr) {
      const std::wstring workFolder = object_->workFolder();
      object_->Release();
      EXPECT_TRUE(testsupport::pumpMessagesUntil([&] { return !testsupport::pathExists(workFolder); }));
    }
    EXPECT_TRUE(testsupport::uninstallTestProduct());
    CoUninitialize();
  }

  // The work folder's subfolder `name`, as the extraction leaves the package's folders.
  std::wstring subfolder(const std::wstring& name) const { return object_->workFolder() + name; }

  // InstallPackage as the install worker runs it: on a thread of the multithreaded apartment,
  // while this thread, which owns the window, keeps dispatching messages (hiding the window from
  // the worker sends a message to this thread).
  std::int32_t installOnWorker(const std::wstring& arguments) {
    std::atomic<bool> done{false};
    std::int32_t result = -1;
    std::thread worker([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      result = object_->InstallPackage(L"", arguments);
      CoUninitialize();
      done = true;
    });
    EXPECT_TRUE(testsupport::pumpMessagesUntil([&] { return done.load(); }, 100000));
    worker.join();
    return result;
  }

  app::Logger logger_;
  app::InstallProperties properties_{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
  downloadmanagercore::Analytics analytics_{&properties_};
  SorvaneExternal* object_ = nullptr;
};

TEST_F(InstallPackageTest, TheInstallersExitCodeBecomesThePagesResult) {
  const struct {
    DWORD exitCode;
    std::int32_t result;
  } cases[] = {{0, 0}, {3010, 0}, {1602, 2}, {1603, 3}, {1618, 4}, {5, 1}};
  for (const auto& c : cases) {
    // A fresh object each time: the progress it publishes is the object's own.
    object_->Release();
    object_ = new SorvaneExternal(&properties_, &analytics_, &logger_);
    properties_.productVersion = u"before";
    properties_.wrapperError = properties_.msiError = 0;
    ASSERT_TRUE(testsupport::stageInstaller(subfolder(L"package"), c.exitCode));
    EXPECT_EQ(object_->installerExitCode(), std::nullopt);

    EXPECT_EQ(installOnWorker(L" a=1"), c.result) << c.exitCode << ", start error " << properties_.msiError;
    // The raw code too: the quiet run's exit code passes 3010 on, which the result folds into 0.
    EXPECT_EQ(object_->installerExitCode(), std::optional<std::uint32_t>(c.exitCode)) << c.exitCode;
    const bool succeeded = c.result == 0;
    EXPECT_EQ(object_->property(L"installProgress"), succeeded ? L"100" : L"0") << c.exitCode;
    // The stand-in installed nothing, so Windows Installer knows no version to record.
    EXPECT_EQ(properties_.productVersion, succeeded ? u"" : u"before") << c.exitCode;
    // Recording the failure is the worker's job, not this step's.
    EXPECT_EQ(properties_.wrapperError, 0) << c.exitCode;
  }
}

TEST_F(InstallPackageTest, ARealInstallationRecordsTheVersionThatWindowsInstallerReports) {
  ASSERT_TRUE(testsupport::stageInstaller(subfolder(L"package")));

  // A public property, which Windows Installer lists in its verbose log.
  EXPECT_EQ(installOnWorker(L" SORVANETEST=1"), 0);
  EXPECT_TRUE(testsupport::testProductInstalled());
  wchar_t installedFile[MAX_PATH];
  ExpandEnvironmentStringsW(L"%ProgramW6432%\\Sorvane Test Product\\readme.txt", installedFile, MAX_PATH);
  EXPECT_TRUE(testsupport::pathExists(installedFile)) << installedFile;
  EXPECT_EQ(testsupport::installedTestProductVersion(), testsupport::kTestProductVersion);
  EXPECT_EQ(properties_.productVersion, u"5.2.1");
  EXPECT_EQ(object_->property(L"installProgress"), L"100");

  // What Windows Installer wrote at the log path it was given: a verbose log, and the
  // bootstrapper's own second file beside it.
  const std::string log = testsupport::readFileBytes(subfolder(L"package\\log.txt"));
  EXPECT_NE(log.find("Property(S): ProductVersion = 5.2.1"), std::string::npos) << log;
  EXPECT_NE(log.find("Property(S): SORVANETEST = 1"), std::string::npos) << log;
  const std::string xml = testsupport::readFileBytes(subfolder(L"package\\log.txt.xml"));
  EXPECT_NE(xml.find("exitCode=\"0\""), std::string::npos) << xml;

  EXPECT_TRUE(testsupport::uninstallTestProduct());
  EXPECT_FALSE(testsupport::pathExists(installedFile));
}

TEST_F(InstallPackageTest, SetupInASubfolderRunsFromThereWithTheWorkFolderCurrent) {
  const std::wstring folder = subfolder(L"S");
  ASSERT_TRUE(testsupport::stageInstaller(folder, 0));

  ASSERT_EQ(installOnWorker(L" a=1"), 0);
  const testsupport::SetupInvocation invocation = testsupport::readSetupInvocation(folder);
  ASSERT_TRUE(invocation.recorded);
  // The installer's own path, quoted, then the arguments as given: two blanks after the path.
  EXPECT_EQ(invocation.commandLine, L"\"" + folder + L"\\setup.exe\"  a=1 /L*v \"" + folder + L"\\log.txt\"");
  std::wstring workFolder = object_->workFolder();
  workFolder.pop_back();
  EXPECT_EQ(invocation.currentFolder, workFolder);
  // Its temporary folder is a new one inside the work folder, not the user's, and goes with it.
  EXPECT_EQ(invocation.temp.rfind(workFolder + L"\\", 0), 0u) << invocation.temp.c_str();
  EXPECT_GT(invocation.temp.size(), workFolder.size() + 1);
  EXPECT_EQ(invocation.tmp, invocation.temp);
  EXPECT_TRUE(testsupport::pathExists(invocation.temp));
  // The report's log archive takes the installer's log, then the bootstrapper's.
  EXPECT_EQ(analytics_.logFiles(), (std::vector<std::wstring>{folder + L"\\log.txt", folder + L"\\log.txt.xml"}));
}

TEST_F(InstallPackageTest, TheDownloadManagersWindowIsHiddenOnceTheInstallerRuns) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  object_->SetHostWindow(window);
  ASSERT_TRUE(testsupport::stageInstaller(subfolder(L"package"), 1603));

  EXPECT_EQ(installOnWorker(L" a=1"), 3);
  EXPECT_FALSE(IsWindowVisible(window));
  object_->SetHostWindow(nullptr);
  DestroyWindow(window);
}

TEST_F(InstallPackageTest, WithoutAnInstallerNothingStartsAndTheReasonIsRecorded) {
  EXPECT_EQ(installOnWorker(L" a=1"), 3);
  EXPECT_EQ(properties_.wrapperError, 6);
  EXPECT_EQ(properties_.msiError, static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(analytics_.logFiles().empty());
  EXPECT_EQ(object_->property(L"installProgress"), L"0");
}

// The stub runs elevated from the user's Downloads folder. Without an unpacked setup.exe, a bare
// "setup.exe" would be searched for beside the stub and in the stub's current folder, where
// anything may have been planted, and run with the stub's rights.
TEST_F(InstallPackageTest, WithoutAnInstallerNoPlantedSetupRuns) {
  testsupport::ScratchFolder planted;
  ASSERT_TRUE(testsupport::stageInstaller(planted.path(), 0));
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(planted.path().c_str()));

  const std::int32_t result = installOnWorker(L" a=1");
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(result, 3);
  EXPECT_FALSE(testsupport::readSetupInvocation(planted.path()).recorded);
}

// The page's install command, from the script engine through the worker and the real child
// process to the page's callback.
class PageInstallTest : public InstallPackageTest {
 protected:
  void SetUp() override {
    InstallPackageTest::SetUp();
    script_ = std::make_unique<testsupport::JScriptHost>();
    ASSERT_TRUE(script_->ok());
    ASSERT_EQ(script_->addNamedItem(L"external", static_cast<IDispatchEx*>(object_)), S_OK);
  }
  void TearDown() override {
    script_.reset();
    InstallPackageTest::TearDown();
  }

  // The result that the page's callback receives, or -1 when it never comes.
  int pageInstall(const std::wstring& parameters) {
    EXPECT_EQ(script_->run(L"external.install('" + parameters + L"', function (r) { got = r; });"), S_OK);
    return testsupport::awaitScriptNumber(*script_, L"got", 60000).value_or(-1);
  }

  std::unique_ptr<testsupport::JScriptHost> script_;
};

TEST_F(PageInstallTest, AFailedInstallationReachesThePageAndTheReport) {
  ASSERT_TRUE(testsupport::stageInstaller(subfolder(L"package"), 1603));
  EXPECT_EQ(pageInstall(L"a=1"), 3);
  EXPECT_EQ(properties_.wrapperError, 2);
  EXPECT_EQ(properties_.msiError, 3);
}

TEST_F(PageInstallTest, ACancelledInstallationReachesThePageAndRecordsNothing) {
  properties_.wrapperError = 7;
  properties_.msiError = 8;
  ASSERT_TRUE(testsupport::stageInstaller(subfolder(L"package"), 1602));
  EXPECT_EQ(pageInstall(L"a=1"), 2);
  EXPECT_EQ(properties_.wrapperError, 7);
  EXPECT_EQ(properties_.msiError, 8);
}

}  // namespace
}  // namespace sorvane
