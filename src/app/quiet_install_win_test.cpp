// Win32 code. The product's installation run quietly (/quiet) in this process, driven by the
// pages' real workflow script from the build's staged payload in the JScript engine, against the
// loopback server's package with a stand-in setup.exe. The reports are watched through the report
// sender's virtual operations rather than sent: these tests run beside the report collector's.
#include "app/quiet_run_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "htmlui/script_callback_win.h"
#include "sorvane/sorvane_external_win.h"
#include "support/test_http_server_win.h"
#include "support/test_product_win.h"
#include "support/test_zip_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/shell_win.h"
#include "telemetry/analytics_win.h"

namespace sorvane {
namespace {

using testsupport::pathExists;
using testsupport::readFileBytes;

constexpr wchar_t kShortcutName[] = L"Sorvane Pro Quiet Test.lnk";

// What the run hands to the report server, and the status each report would carry.
class RecordingAnalytics final : public downloadmanagercore::Analytics {
 public:
  using Analytics::Analytics;
  bool sendStartReport() override {
    sent.push_back("start " + std::to_string(properties()->status));
    return true;
  }
  bool sendFinalReport() override {
    sent.push_back("final " + std::to_string(properties()->status));
    return true;
  }
  void uploadLogArchive() override {
    sent.push_back("upload");
    uploadedLogs = logFiles();
  }
  std::vector<std::string> sent;
  std::vector<std::wstring> uploadedLogs;
};

// The build's staged payload (scripts/stage-payload), beside the test programs; empty when the build
// has not staged one (configured without the native tools).
std::wstring stagedPayloadFolder() {
  const std::wstring folder = testsupport::testBinFolder() + L"\\..\\payload\\";
  return pathExists(folder + L"js\\external.js") ? folder : std::wstring();
}

class QuietInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    startRun();
  }
  void TearDown() override {
    endRun();
    CoUninitialize();
  }

  // What the start-up sequence makes for one run.
  void startRun() {
    logger_ = std::make_unique<app::Logger>();
    properties_ = std::make_unique<app::InstallProperties>(u"KRV", u"1.0.20.1", app::RunEnvironment{});
    properties_->setInstallLanguage(1);  // English
    analytics_ = std::make_unique<RecordingAnalytics>(properties_.get());
    object_ = new SorvaneExternal(properties_.get(), analytics_.get(), logger_.get());
    DeleteFileW(sysenv::desktopShortcutPath(kShortcutName).c_str());
  }
  void endRun() {
    if (object_ != nullptr) {
      const std::wstring work = object_->workFolder();
      object_->Release();
      object_ = nullptr;
      // A worker may still hold the object for its very last step.
      EXPECT_TRUE(testsupport::pumpMessagesUntil([&] { return !pathExists(work); }));
    }
    DeleteFileW(sysenv::desktopShortcutPath(kShortcutName).c_str());
    if (!packageName_.empty()) DeleteFileW((testsupport::testServerRoot() + packageName_).c_str());
    analytics_.reset();
    properties_.reset();
    logger_.reset();
  }

  // The pages' scripts from the staged payload, with parameters that fetch `packageUrl`.
  bool stagePages(const std::wstring& packageUrl) {
    const std::wstring staged = stagedPayloadFolder();
    if (staged.empty()) return false;
    pages_ = scratch_.path() + L"\\payload\\";
    CreateDirectoryW(pages_.c_str(), nullptr);
    CreateDirectoryW((pages_ + L"js").c_str(), nullptr);
    for (const wchar_t* script : {L"js\\contents.js", L"js\\installparams.js", L"js\\external.js"}) {
      if (!CopyFileW((staged + script).c_str(), (pages_ + script).c_str(), FALSE)) return false;
    }
    const std::wstring parameters = L"var stubParams = {\"packageUrl\": \"" + packageUrl +
                                    L"\", \"channel\": \"quiet-test\", \"shortcutName\": \"" + kShortcutName +
                                    L"\", \"thankYouUrl\": \"http://127.0.0.1:9/thanks.html?a=1&b=2\"};\n";
    return testsupport::writeFileBytes(pages_ + L"js\\stubparams.js", sysenv::toUtf8(parameters));
  }

  // A package on the loopback server holding the stand-in installer that ends with `exitCode`; its URL.
  std::wstring servePackage(DWORD exitCode) {
    const std::wstring installer = scratch_.path() + L"\\installer";
    if (!testsupport::stageInstaller(installer, exitCode)) return {};
    packageName_ = L"QuietInstall-" + std::to_wstring(exitCode) + L".zip";
    if (!testsupport::writeZipArchive(testsupport::testServerRoot() + packageName_,
                                      {{"SorvanePro/setup.exe", readFileBytes(installer + L"\\setup.exe")},
                                       {"SorvanePro/setup-exit-code.txt",
                                        readFileBytes(installer + L"\\setup-exit-code.txt")}})) {
      return {};
    }
    return testsupport::testServerUrl(L"/files/" + packageName_);
  }

  int runQuiet() {
    const int exitCode = app::runQuiet(pages_, object_, *properties_, *logger_, *analytics_);
    // The pages' apartment is left only after every job's last step, its calls into that apartment
    // included: a worker still on its way out would hang or fail there, and outlive the run.
    EXPECT_TRUE(htmlui::waitForScriptJobs(0)) << "a job outlived the pages";
    return exitCode;
  }
  std::string log() const { return readFileBytes(logger_->logPath()); }
  bool shortcutExists() const { return pathExists(sysenv::desktopShortcutPath(kShortcutName)); }

  testsupport::ScratchFolder scratch_;
  std::unique_ptr<app::Logger> logger_;
  std::unique_ptr<app::InstallProperties> properties_;
  std::unique_ptr<RecordingAnalytics> analytics_;
  SorvaneExternal* object_ = nullptr;
  std::wstring pages_;
  std::wstring packageName_;
};

#define SKIP_WITHOUT_STAGED_PAYLOAD()                                                             \
  do {                                                                                            \
    if (stagedPayloadFolder().empty())                                                            \
      GTEST_SKIP() << "no staged payload beside the test programs (configure with the native tools)"; \
  } while (false)

TEST_F(QuietInstall, TheInstallersOutcomeBecomesTheExitCode) {
  SKIP_WITHOUT_TEST_SERVER();
  SKIP_WITHOUT_STAGED_PAYLOAD();
  const struct {
    DWORD installerExitCode;
    int exitCode;
    std::int32_t status;
  } cases[] = {{0, 0, app::kStatusCompleted}, {3010, 3010, app::kStatusCompleted}, {1603, 1603, app::kStatusErrorOccurred}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.installerExitCode);
    endRun();
    startRun();
    const std::wstring url = servePackage(c.installerExitCode);
    ASSERT_FALSE(url.empty());
    ASSERT_TRUE(stagePages(url));

    EXPECT_EQ(runQuiet(), c.exitCode);

    EXPECT_EQ(properties_->status, c.status);
    EXPECT_EQ(properties_->channelId, u"quiet-test");
    const testsupport::SetupInvocation setup = testsupport::readSetupInvocation(object_->workFolder() + L"SorvanePro");
    ASSERT_TRUE(setup.recorded);
    EXPECT_NE(setup.commandLine.find(L"/L*v"), std::wstring::npos) << setup.commandLine;
    const std::string written = log();
    // Every stage of the page ran, each logged once however often the page polled.
    for (const char* line : {"Quiet: Load.html", "Quiet: Download.html", "Quiet: downloading", "Quiet: extracting",
                             "Quiet: installing"}) {
      const std::size_t at = written.find(line);
      EXPECT_NE(at, std::string::npos) << line << " in\n" << written;
      EXPECT_EQ(written.find(std::string(line) + "\r\n", at + 1), std::string::npos) << line;
    }
    EXPECT_NE(written.find("QJClose"), std::string::npos);
    if (c.status == app::kStatusCompleted) {
      // The page's end: the shortcut removed, the thank-you page only logged, no logs uploaded.
      EXPECT_EQ(analytics_->sent, (std::vector<std::string>{"start 4", "final 1"}));
      EXPECT_FALSE(shortcutExists());
      EXPECT_NE(written.find("QJOpenPage: quiet run, not opened: http://127.0.0.1:9/thanks.html?a=1&b=2"),
                std::string::npos);
    } else {
      // A failed installation keeps the shortcut for another try and hands the installer's logs over.
      EXPECT_EQ(analytics_->sent, (std::vector<std::string>{"start 4", "final 2", "upload"}));
      EXPECT_TRUE(shortcutExists());
      EXPECT_EQ(written.find("QJOpenPage"), std::string::npos);
      ASSERT_EQ(analytics_->uploadedLogs.size(), 3u);
      EXPECT_EQ(analytics_->uploadedLogs[2], logger_->logPath());
      EXPECT_NE(written.find("Property installProgress: 0"), std::string::npos);
    }
  }
}

TEST_F(QuietInstall, AMissingPackageFailsWithTheMessageInTheLog) {
  SKIP_WITHOUT_TEST_SERVER();
  SKIP_WITHOUT_STAGED_PAYLOAD();
  ASSERT_TRUE(stagePages(testsupport::testServerUrl(L"/status/404/QuietInstall-missing.zip")));

  EXPECT_EQ(runQuiet(), 1603);

  EXPECT_EQ(properties_->status, app::kStatusErrorOccurred);
  EXPECT_EQ(properties_->wrapperError, 1);
  EXPECT_EQ(object_->installerExitCode(), std::nullopt);
  EXPECT_EQ(analytics_->sent, (std::vector<std::string>{"start 4", "final 2", "upload"}));
  const std::string written = log();
  // The message box's text and caption, which nobody had to close.
  EXPECT_NE(written.find("QJMessageBox: The Sorvane Pro package was not found on the download server. Please try again later. Sorvane Pro Setup"),
            std::string::npos)
      << written;
  EXPECT_NE(written.find("ERROR] Quiet: The Sorvane Pro package was not found on the download server."), std::string::npos);
  EXPECT_EQ(written.find("QJExtract"), std::string::npos);
  EXPECT_TRUE(shortcutExists());
}

TEST_F(QuietInstall, AMissingWorkflowScriptEndsTheRunAsAnError) {
  SKIP_WITHOUT_STAGED_PAYLOAD();
  ASSERT_TRUE(stagePages(L"http://127.0.0.1:9/never.zip"));
  ASSERT_TRUE(DeleteFileW((pages_ + L"js\\external.js").c_str()));

  EXPECT_EQ(runQuiet(), 1603);

  EXPECT_EQ(analytics_->sent, (std::vector<std::string>{"start 4", "final 2", "upload"}));
  EXPECT_NE(log().find("ERROR] Quiet: js\\external.js cannot be read"), std::string::npos) << log();
  EXPECT_FALSE(shortcutExists());
}

TEST_F(QuietInstall, AWorkflowThatThrowsEndsTheRunInsteadOfWaitingForever) {
  SKIP_WITHOUT_STAGED_PAYLOAD();
  ASSERT_TRUE(stagePages(L"http://127.0.0.1:9/never.zip"));
  // A broken page: the download page's start throws after the load page has moved on (the last
  // definition of a function wins).
  const std::string external = readFileBytes(pages_ + L"js\\external.js");
  ASSERT_TRUE(testsupport::writeFileBytes(
      pages_ + L"js\\external.js", external + "\nfunction textsForLanguage() { throw new Error('broken page'); }\n"));

  EXPECT_EQ(runQuiet(), 1603);

  EXPECT_EQ(properties_->status, app::kStatusErrorOccurred);
  const std::string written = log();
  EXPECT_NE(written.find("broken page"), std::string::npos) << written;
  EXPECT_NE(written.find("ERROR] Quiet: the workflow script failed, the run ends"), std::string::npos) << written;
}

}  // namespace
}  // namespace sorvane
