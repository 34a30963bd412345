// Win32 code. The extraction step of the product object, over real archives, from the worker's
// routine to the page's callback through the real JScript engine.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "sorvane/file_tree_win.h"
#include "sorvane/sorvane_external_win.h"
#include "support/jscript_host_win.h"
#include "support/private_temp_folder_win.h"
#include "support/test_http_server_win.h"
#include "support/test_zip_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/shell_win.h"
#include "telemetry/analytics_win.h"

namespace sorvane {
namespace {

using testsupport::pathExists;
using testsupport::writeFileBytes;

TEST(FindFileInTree, TheFolderComesBeforeItsSubfoldersAndTheFirstHitWins) {
  testsupport::ScratchFolder scratch;
  const std::wstring root = scratch.path();
  ASSERT_TRUE(CreateDirectoryW((root + L"\\a").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((root + L"\\a\\b").c_str(), nullptr));
  ASSERT_TRUE(writeFileBytes(root + L"\\a\\b\\setup.exe", "MZ"));

  std::wstring found = L"unchanged";
  EXPECT_FALSE(FindFileInTree(root, L"install.exe", found));
  EXPECT_EQ(found, L"unchanged");
  ASSERT_TRUE(FindFileInTree(root, L"setup.exe", found));
  EXPECT_EQ(found, root + L"\\a\\b");

  // One at the top as well: the top one is found, without looking further.
  ASSERT_TRUE(writeFileBytes(root + L"\\setup.exe", "MZ"));
  ASSERT_TRUE(FindFileInTree(root, L"setup.exe", found));
  EXPECT_EQ(found, root);
  // A folder given with its trailing backslash is taken as it is, and no separator is doubled below.
  ASSERT_TRUE(FindFileInTree(root + L"\\", L"setup.exe", found));
  EXPECT_EQ(found, root + L"\\");
  ASSERT_TRUE(DeleteFileW((root + L"\\setup.exe").c_str()));
  ASSERT_TRUE(FindFileInTree(root + L"\\", L"setup.exe", found));
  EXPECT_EQ(found, root + L"\\a\\b");

  // A folder of that name is a hit too.
  testsupport::ScratchFolder other;
  ASSERT_TRUE(CreateDirectoryW((other.path() + L"\\x").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((other.path() + L"\\x\\setup.exe").c_str(), nullptr));
  ASSERT_TRUE(FindFileInTree(other.path(), L"setup.exe", found));
  EXPECT_EQ(found, other.path() + L"\\x");
}

// Remembers every value of "extractProgress" the page could have polled.
class RecordingExternal : public SorvaneExternal {
 public:
  using SorvaneExternal::SorvaneExternal;
  void ReportProgress(std::uint32_t done, std::uint32_t total) override {
    SorvaneExternal::ReportProgress(done, total);
    progress.push_back(property(L"extractProgress"));
  }
  std::vector<std::wstring> progress;
};

class ExtractPackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    makeObject();
  }
  void TearDown() override {
    releaseObject();
    CoUninitialize();
  }
  void makeObject() {
    object_ = new RecordingExternal(&properties_, &analytics_, &logger_);
    ASSERT_FALSE(object_->workFolder().empty());
    object_->progress.clear();  // the construction's own (0, 1)
  }
  void releaseObject() {
    if (object_ != nullptr) object_->Release();
    object_ = nullptr;
  }
  std::wstring packagePath() const { return object_->workFolder() + L"SorvanePro.zip"; }
  // The log's text with "\n" line ends.
  std::string log() {
    std::string text = testsupport::readFileBytes(logger_.logPath());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
  }

  app::Logger logger_;
  app::InstallProperties properties_{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
  downloadmanagercore::Analytics analytics_{&properties_};
  RecordingExternal* object_ = nullptr;
};

TEST_F(ExtractPackageTest, UnpacksBesideThePackageAndFindsTheInstallerInASubfolder) {
  ASSERT_TRUE(testsupport::writeZipArchive(packagePath(), {{"readme.txt", "hello"},
                                                          {"Sorvane/setup.exe", "MZ setup"},
                                                          {"Sorvane/data/", ""},
                                                          {"Sorvane/data/core.bin", std::string(5000, 'x')}}));
  EXPECT_EQ(object_->ExtractPackage(packagePath()), 0);
  EXPECT_EQ(object_->progress, (std::vector<std::wstring>{L"0", L"25", L"50", L"75", L"100"}));
  const std::wstring work = object_->workFolder();
  EXPECT_EQ(testsupport::readFileBytes(work + L"Sorvane\\setup.exe"), "MZ setup");
  EXPECT_EQ(testsupport::readFileBytes(work + L"Sorvane\\data\\core.bin").size(), 5000u);
  EXPECT_TRUE(pathExists(packagePath()));
  EXPECT_EQ(properties_.wrapperError, 0);
  EXPECT_EQ(properties_.msiError, 0);
}

TEST_F(ExtractPackageTest, APackageWithoutInstallerEndsAtFullProgressWithResult3) {
  ASSERT_TRUE(testsupport::writeZipArchive(packagePath(), {{"readme.txt", "hello"}, {"bin/tool.exe", "MZ"}}));
  EXPECT_EQ(object_->ExtractPackage(packagePath()), 3);
  EXPECT_EQ(object_->property(L"extractProgress"), L"100");
  EXPECT_EQ(properties_.wrapperError, 5);
  EXPECT_EQ(properties_.msiError, 0);
  EXPECT_NE(log().find("Can not find setup.exe, unzip path : " + sysenv::toUtf8(object_->workFolder())),
            std::string::npos);

  // No items at all: the progress never leaves 0.
  object_->progress.clear();
  ASSERT_TRUE(testsupport::writeZipArchive(object_->workFolder() + L"empty.zip", {}));
  EXPECT_EQ(object_->ExtractPackage(object_->workFolder() + L"empty.zip"), 3);
  EXPECT_EQ(object_->progress, (std::vector<std::wstring>{L"0"}));
}

TEST_F(ExtractPackageTest, AMissingOrBrokenPackageIsResult1AndTheLogNamesBothPlaces) {
  const std::wstring missing = object_->workFolder() + L"gone.zip";
  EXPECT_EQ(object_->ExtractPackage(missing), 1);
  EXPECT_EQ(properties_.wrapperError, 4);
  EXPECT_EQ(properties_.msiError, 0);
  const std::string line = "Unzip failed, package_path: " + sysenv::toUtf8(missing) +
                           ", unzip to: " + sysenv::toUtf8(object_->workFolder()) + "\n";
  const std::string written = log();
  const size_t at = written.find(line);
  ASSERT_NE(at, std::string::npos);
  // The format's own line break: an empty line follows in the log.
  EXPECT_EQ(written.substr(at + line.size(), 1), "\n");

  ASSERT_TRUE(writeFileBytes(packagePath(), "this is not a zip archive"));
  EXPECT_EQ(object_->ExtractPackage(packagePath()), 1);
  EXPECT_EQ(properties_.wrapperError, 4);
}

TEST_F(ExtractPackageTest, AFullDiskIsResult2AndALaterFailureDoesNotInheritIts112) {
  const std::wstring tiny = testsupport::tinyVolumeFolder();
  if (tiny.empty()) GTEST_SKIP() << "no tiny volume (the http_server fixture mounts it)";
  testsupport::ScratchFolder scratch;
  const std::wstring package = scratch.file(L"SorvanePro.zip");
  ASSERT_TRUE(testsupport::writeZipArchive(
      package, {{"setup.exe", "MZ"}, {"data/big.bin", testsupport::incompressibleBytes(256 * 1024)}}));

  // The work folder lands on the tiny volume when the temporary folder is there.
  releaseObject();
  {
    const testsupport::ScopedTempVariables onTinyVolume(tiny);
    makeObject();
  }
  ASSERT_EQ(object_->workFolder().compare(0, tiny.size(), tiny), 0);

  EXPECT_EQ(object_->ExtractPackage(package), 2);
  EXPECT_EQ(properties_.wrapperError, 4);
  EXPECT_EQ(properties_.msiError, 112);
  EXPECT_EQ(object_->extractError(), 112u);
  EXPECT_EQ(object_->property(L"extractProgress"), L"100");
  EXPECT_FALSE(pathExists(object_->workFolder() + L"data\\big.bin"));

  // The next failure has nothing to do with the disk: it must not be reported as disk full.
  EXPECT_EQ(object_->ExtractPackage(scratch.file(L"gone.zip")), 1);
  EXPECT_EQ(properties_.msiError, 0);
  EXPECT_EQ(object_->extractError(), 0u);
}

// The page's way: download, then extract from the download's callback, each answered on the UI thread.
TEST_F(ExtractPackageTest, ThePageExtractsWhatItDownloaded) {
  SKIP_WITHOUT_TEST_SERVER();
  ASSERT_TRUE(testsupport::writeZipArchive(testsupport::testServerRoot() + L"ExtractThroughPage.zip",
                                           {{"SorvanePro/setup.exe", "MZ"}, {"SorvanePro/a.txt", "a"}}));
  auto script = std::make_unique<testsupport::JScriptHost>();
  ASSERT_TRUE(script->ok());
  ASSERT_EQ(script->addNamedItem(L"external", static_cast<IDispatchEx*>(object_)), S_OK);
  // Wrong argument types never start a job.
  EXPECT_TRUE(FAILED(script->run(L"external.extract(1);")));
  script->clearErrors();

  const std::wstring url = testsupport::testServerUrl(L"/files/ExtractThroughPage.zip");
  ASSERT_EQ(script->run(L"var steps = ''; external.download('" + url +
                        L"', function (r) { steps += 'd' + r; external.extract(function (e) { steps += 'e' + e; }); });"),
            S_OK);
  const auto finished = [&] {
    VARIANT steps;
    VariantInit(&steps);
    const bool done = SUCCEEDED(script->evaluate(L"steps", &steps)) && steps.vt == VT_BSTR &&
                      std::wstring(steps.bstrVal).size() >= 4;
    VariantClear(&steps);
    return done;
  };
  ASSERT_TRUE(testsupport::pumpMessagesUntil(finished, 30000));
  VARIANT steps;
  VariantInit(&steps);
  ASSERT_EQ(script->evaluate(L"steps", &steps), S_OK);
  EXPECT_STREQ(steps.bstrVal, L"d0e0");
  VariantClear(&steps);
  EXPECT_EQ(object_->property(L"extractProgress"), L"100");
  EXPECT_TRUE(pathExists(object_->workFolder() + L"SorvanePro\\setup.exe"));
  const std::string written = log();
  EXPECT_NE(written.find("QJExtractPackage"), std::string::npos);
  EXPECT_NE(written.find("ExtractThreadFunc"), std::string::npos);
  EXPECT_NE(written.find("Extract result 0."), std::string::npos);

  script.reset();
  // The workers hold the object until their last step; the work folder goes with it.
  const std::wstring work = object_->workFolder();
  releaseObject();
  EXPECT_TRUE(testsupport::pumpMessagesUntil([&] { return !pathExists(work); }));
  DeleteFileW((testsupport::testServerRoot() + L"ExtractThroughPage.zip").c_str());
}

}  // namespace
}  // namespace sorvane
