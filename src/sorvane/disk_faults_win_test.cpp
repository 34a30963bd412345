// Win32 code. The product object's download and extraction when the disk fails them, driven as
// the page drives them, through the real JScript engine: a work folder on a full volume (the 64 KiB
// test volume), a package whose content does not fit there, and a package file that another process
// holds open.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "sorvane/sorvane_external_win.h"
#include "support/held_file_win.h"
#include "support/jscript_host_win.h"
#include "support/private_temp_folder_win.h"
#include "support/test_http_server_win.h"
#include "support/test_zip_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/scope_exit.h"
#include "sysenv/shell_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/write_all_win.h"
#include "telemetry/analytics_win.h"

namespace sorvane {
namespace {

using testsupport::listFolder;
using testsupport::pathExists;
using testsupport::readFileBytes;

std::uint64_t freeBytes(const std::wstring& folder) {
  ULARGE_INTEGER available = {};
  EXPECT_TRUE(GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr));
  return available.QuadPart;
}

class DiskFaults : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override {
    endObject();
    for (const std::wstring& name : served_) DeleteFileW((testsupport::testServerRoot() + name).c_str());
    CoUninitialize();
  }

  // The product object as the start-up sequence makes it, with its work folder in `temporaryFolder`
  // (the user's temporary folder when empty), and the page's script engine that reaches it as
  // `external`. The log stays in the user's temporary folder.
  void startObject(const std::wstring& temporaryFolder = {}) {
    {
      std::optional<testsupport::ScopedTempVariables> temporary;
      if (!temporaryFolder.empty()) temporary.emplace(temporaryFolder);
      object_ = new SorvaneExternal(&properties_, &analytics_, &logger_);
    }
    ASSERT_EQ(object_->workFolder().compare(0, temporaryFolder.size(), temporaryFolder), 0);
    script_ = std::make_unique<testsupport::JScriptHost>();
    ASSERT_TRUE(script_->ok());
    ASSERT_EQ(script_->addNamedItem(L"external", static_cast<IDispatchEx*>(object_)), S_OK);
  }
  void endObject() {
    script_.reset();
    if (object_ == nullptr) return;
    const std::wstring work = object_->workFolder();
    object_->Release();
    object_ = nullptr;
    // A worker may still hold the object for its very last step; the work folder goes with it.
    EXPECT_TRUE(testsupport::pumpMessagesUntil([&] { return !pathExists(work); })) << "left behind: " << work.c_str();
  }

  // A page command with a callback, as the page makes it ("download('url', done)"); the callback's
  // result, or nothing when it did not come.
  std::optional<int> pageCommand(const std::wstring& call) {
    if (FAILED(script_->run(L"var result = null; function done(r) { result = r; } external." + call + L";"))) {
      return std::nullopt;
    }
    return testsupport::awaitScriptNumber(*script_, L"result", 30000);
  }
  std::optional<int> download(const std::wstring& url) { return pageCommand(L"download('" + url + L"', done)"); }
  std::optional<int> extract() { return pageCommand(L"extract(done)"); }

  // A package on the loopback server; its URL.
  std::wstring servePackage(const std::wstring& name, const std::vector<std::pair<std::string, std::string>>& items) {
    if (!testsupport::writeZipArchive(testsupport::testServerRoot() + name, items)) return {};
    served_.push_back(name);
    return testsupport::testServerUrl(L"/files/" + name);
  }

  bool logHas(const std::wstring& text) const {
    return readFileBytes(logger_.logPath()).find(sysenv::toUtf8(text)) != std::string::npos;
  }

  app::Logger logger_;
  app::InstallProperties properties_{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
  downloadmanagercore::Analytics analytics_{&properties_};
  SorvaneExternal* object_ = nullptr;
  std::unique_ptr<testsupport::JScriptHost> script_;
  std::vector<std::wstring> served_;
};

#define SKIP_WITHOUT_TINY_VOLUME()                                                             \
  do {                                                                                         \
    if (testsupport::tinyVolumeFolder().empty())                                               \
      GTEST_SKIP() << "the 64 KiB test volume is not mounted (the http_server fixture does)"; \
  } while (false)

TEST_F(DiskFaults, ADownloadLargerThanTheVolumeEndsAsDiskFullAndGivesTheSpaceBack) {
  SKIP_WITHOUT_TEST_SERVER();
  SKIP_WITHOUT_TINY_VOLUME();
  const std::wstring tiny = testsupport::tinyVolumeFolder();
  // With the announced length (the file is sized at once) and without it (it grows as data comes).
  for (const wchar_t* route : {L"/files/gen-300000.bin", L"/nolength/gen-300000.bin"}) {
    SCOPED_TRACE(route);
    endObject();
    startObject(tiny);
    const std::uint64_t freeBefore = freeBytes(tiny);
    ASSERT_TRUE(testsupport::resetTestServerHits());

    EXPECT_EQ(download(testsupport::testServerUrl(route)), 3);

    EXPECT_EQ(testsupport::testServerHits(route), 1) << "no retry";
    EXPECT_EQ(object_->downloadPath(), object_->workFolder() + L"gen-300000.bin");
    EXPECT_EQ(listFolder(object_->workFolder()), std::vector<std::wstring>{}) << "no part file";
    EXPECT_EQ(freeBytes(tiny), freeBefore);
    EXPECT_EQ(properties_.wrapperError, 1);
    EXPECT_EQ(properties_.msiError, 3);
    EXPECT_TRUE(logHas(L"TransferDownloadError HRESULT: 80070070"));
    EXPECT_TRUE(logHas(L"Download fail, download path : " + object_->downloadPath() + L", download result : 3"));
  }
}

// A write that only partly fits succeeds with a short count and leaves the last-error code as it
// was; the download took that stale code for the cause now and then, and kept the part as for a
// network failure.
TEST_F(DiskFaults, AWriteThatOnlyPartlyFitsEndsAsDiskFullWhateverTheLastErrorWas) {
  SKIP_WITHOUT_TINY_VOLUME();
  const std::wstring path = testsupport::tinyVolumeFolder() + L"DiskFaults-short-write.bin";
  sysenv::UniqueFileHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  const sysenv::ScopeExit remove([&] {
    file.reset();
    DeleteFileW(path.c_str());
  });
  const std::string bytes(256u << 10, 'x');
  SetLastError(ERROR_ALREADY_EXISTS);
  std::size_t written = 0;
  EXPECT_FALSE(sysenv::writeAll(file.get(), bytes.data(), bytes.size(), &written));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, bytes.size());
}

TEST_F(DiskFaults, APackageThatFitsButWhoseContentDoesNotEndsWith2AndLeavesNoPartialItem) {
  SKIP_WITHOUT_TEST_SERVER();
  SKIP_WITHOUT_TINY_VOLUME();
  // A few KB that unpack to 24 MB.
  const std::wstring url = servePackage(L"DiskFaults-bomb.zip", {{"SorvanePro/setup.exe", "MZ stand-in"},
                                                                 {"SorvanePro/core.bin", std::string(24u << 20, '\0')},
                                                                 {"SorvanePro/readme.txt", "after"}});
  ASSERT_FALSE(url.empty());
  startObject(testsupport::tinyVolumeFolder());

  ASSERT_EQ(download(url), 0);
  ASSERT_LT(readFileBytes(object_->downloadPath()).size(), 32u * 1024);
  EXPECT_EQ(extract(), 2);

  const std::wstring work = object_->workFolder();
  EXPECT_EQ(properties_.wrapperError, 4);
  EXPECT_EQ(properties_.msiError, 112);
  EXPECT_EQ(object_->property(L"extractProgress"), L"100");
  std::vector<std::wstring> unpacked = listFolder(work + L"SorvanePro");
  EXPECT_EQ(unpacked, std::vector<std::wstring>{L"setup.exe"}) << "the item before stays, nothing of the rest";
  EXPECT_TRUE(pathExists(object_->downloadPath()));
  EXPECT_TRUE(logHas(L"Unzip failed, package_path: " + object_->downloadPath() + L", unzip to: " + work));
  EXPECT_TRUE(logHas(L"Extract result 2."));
}

// The ways another program may hold the package file: with no sharing at all, or as a writer that
// lets others read but not write.
struct Holder {
  const char* what;
  DWORD access;
  DWORD sharing;
};
constexpr Holder kHolders[] = {
    {"exclusively", GENERIC_READ, 0},
    {"writing, readers allowed", GENERIC_WRITE, FILE_SHARE_READ},
};

TEST_F(DiskFaults, APackageFileHeldByAnotherProcessFailsTheDownloadWithoutARequest) {
  SKIP_WITHOUT_TEST_SERVER();
  startObject();
  const std::wstring package = object_->workFolder() + L"gen-1000.bin";
  const std::string content = "what the other program holds";
  ASSERT_TRUE(testsupport::writeFileBytes(package, content));
  for (const Holder& holder : kHolders) {
    SCOPED_TRACE(holder.what);
    ASSERT_TRUE(testsupport::resetTestServerHits());
    testsupport::FileHeldByAnotherProcess held(package, holder.access, holder.sharing);
    ASSERT_TRUE(held.held());

    EXPECT_EQ(download(testsupport::testServerUrl(L"/files/gen-1000.bin")), 1);

    EXPECT_EQ(testsupport::testServerHits(L"/files/gen-1000.bin"), 0);
    EXPECT_EQ(properties_.wrapperError, 1);
    EXPECT_EQ(properties_.msiError, 1);
    EXPECT_TRUE(logHas(L"TransferDownloadError HRESULT: 80070020"));  // ERROR_SHARING_VIOLATION
    EXPECT_TRUE(logHas(L"Download fail, download path : " + package + L", download result : 1"));
    held.release();
    EXPECT_EQ(readFileBytes(package), content);
    EXPECT_EQ(listFolder(object_->workFolder()), std::vector<std::wstring>{L"gen-1000.bin"});
  }
}

TEST_F(DiskFaults, APackageFileHeldByAnotherProcessFailsTheExtractionWithResult1) {
  SKIP_WITHOUT_TEST_SERVER();
  const std::wstring url = servePackage(L"DiskFaults-held.zip", {{"SorvanePro/setup.exe", "MZ stand-in"}});
  ASSERT_FALSE(url.empty());
  startObject();
  ASSERT_EQ(download(url), 0);
  const std::wstring package = object_->downloadPath();
  for (const Holder& holder : kHolders) {
    SCOPED_TRACE(holder.what);
    testsupport::FileHeldByAnotherProcess held(package, holder.access, holder.sharing);
    ASSERT_TRUE(held.held());

    EXPECT_EQ(extract(), 1);

    EXPECT_EQ(properties_.wrapperError, 4);
    EXPECT_EQ(properties_.msiError, 0);
    EXPECT_EQ(object_->property(L"extractProgress"), L"0") << "the archive was never opened";
    EXPECT_EQ(listFolder(object_->workFolder()), std::vector<std::wstring>{L"DiskFaults-held.zip"});
    EXPECT_TRUE(logHas(L"Unzip failed, package_path: " + package + L", unzip to: " + object_->workFolder()));
  }
  // Once it is let go, the same package unpacks.
  EXPECT_EQ(extract(), 0);
  EXPECT_EQ(readFileBytes(object_->workFolder() + L"SorvanePro\\setup.exe"), "MZ stand-in");
}

}  // namespace
}  // namespace sorvane
