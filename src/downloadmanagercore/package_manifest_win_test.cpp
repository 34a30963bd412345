// Win32 code. The signed package manifest through the real engine: manifests made by
// `stubpack sign-package` with the build's test key (tests/make-test-manifests), served by the
// loopback server beside generated packages, verified by the system's crypt32.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "downloadmanagercore/download_rules.h"
#include "downloadmanagercore/html_external_win.h"
#include "downloadmanagercore/package_manifest.h"
#include "downloadmanagercore/package_trust.h"
#include "support/test_http_server_win.h"
#include "support/wine_test_support_win.h"

namespace downloadmanagercore {
namespace {

using testsupport::readFileBytes;
using testsupport::testServerHits;
using testsupport::testServerUrl;

std::wstring manifestFile(const wchar_t* name) { return testsupport::testBinFolder() + L"\\manifests\\" + name; }

std::string generatedBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = i < 4 ? "PK\3\4"[i] : static_cast<char>((i * 131 + 7) & 0xFF);
  return bytes;
}

class PackageManifestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_TEST_SERVER();
    if (!testsupport::pathExists(manifestFile(L"good.manifest"))) {
      GTEST_SKIP() << "no signed test manifests (configure with the native tools)";
    }
    ASSERT_TRUE(testsupport::resetTestServerHits());
    std::string key = readFileBytes(manifestFile(L"signing-key.sha256"));
    key.erase(std::remove_if(key.begin(), key.end(), [](char c) { return c == '\n' || c == '\r'; }), key.end());
    const auto digest = parseHexDigest(std::u16string(key.begin(), key.end()));
    ASSERT_TRUE(digest.has_value());
    policy_.signerKey = *digest;
    policy_.floor = {1, 0, 20, 0};
  }
  void TearDown() override {
    for (const std::wstring& name : served_) DeleteFileW((testsupport::testServerRoot() + name).c_str());
  }

  // Serves `bytes` as `name` from the server's root until the end of the test.
  void serve(const std::wstring& name, const std::string& bytes) {
    ASSERT_TRUE(testsupport::writeFileBytes(testsupport::testServerRoot() + name, bytes));
    served_.push_back(name);
  }
  void serveManifest(const wchar_t* manifestCase, const std::wstring& package) {
    serve(package + L".manifest", readFileBytes(manifestFile((std::wstring(manifestCase) + L".manifest").c_str())));
  }

  // DownloadPackage on a worker of the multithreaded apartment, as the download job runs it.
  std::int32_t download(const std::wstring& path) {
    std::int32_t result = -1;
    std::thread worker([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      result = external_->DownloadPackage(testServerUrl(path));
      CoUninitialize();
    });
    worker.join();
    return result;
  }

  bool logHas(const std::string& text) { return readFileBytes(logger_.logPath()).find(text) != std::string::npos; }

  app::Logger logger_;
  app::InstallProperties record_{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
  HtmlExternal* external_ = nullptr;
  ManifestPolicy policy_;
  std::vector<std::wstring> served_;

  void makeObject() {
    external_ = new HtmlExternal(&record_, nullptr, &logger_);
    external_->requirePackageManifest(policy_);
  }

 public:
  ~PackageManifestTest() override {
    if (external_ != nullptr) external_->Release();
  }
};

TEST_F(PackageManifestTest, TheSignedPackageIsTakenWholeAndAcrossAResume) {
  serveManifest(L"good", L"gen-300000.bin");
  for (const std::wstring path : {L"/files/gen-300000.bin", L"/resume/mgood/60/etag/gen-300000.bin"}) {
    SCOPED_TRACE(path);
    makeObject();
    EXPECT_EQ(kDownloadSucceeded, download(path));
    EXPECT_EQ(generatedBytes(300000), readFileBytes(external_->downloadPath()));
    EXPECT_EQ(0, record_.wrapperError);
    EXPECT_GE(testServerHits(path + L".manifest"), 1);
    external_->Release();
    external_ = nullptr;
  }
  EXPECT_TRUE(logHas("Package manifest accepted: file gen-300000.bin, size 300000, SHA-256 "));
}

// Each ends the download at once, before the package is asked for, and never retries.
TEST_F(PackageManifestTest, ARefusedManifestEndsTheDownloadBeforeThePackage) {
  std::string changed = readFileBytes(manifestFile(L"good.manifest"));
  const std::size_t at = changed.find("version 1.0.20.1");
  ASSERT_NE(std::string::npos, at);
  changed[at + 8] = '9';  // signed as 1.0.20.1, served as 9.0.20.1
  serve(L"gen-300007.bin.manifest", changed);
  serve(L"gen-300006.bin.manifest", "not a signed message");
  // The RSA signature is the message's last element: its last byte changed.
  std::string badSignature = readFileBytes(manifestFile(L"good.manifest"));
  badSignature.back() = static_cast<char>(badSignature.back() ^ 0x01);
  serve(L"gen-300008.bin.manifest", badSignature);
  serveManifest(L"expired", L"gen-300001.bin");
  serveManifest(L"old", L"gen-300002.bin");
  serveManifest(L"other-key", L"gen-300003.bin");
  const struct {
    const wchar_t* package;
    std::uint32_t code;  // 0: crypt32's own
    const char* line;
  } cases[] = {
      {L"gen-300001.bin", kManifestExpired, "Package manifest refused, expected a manifest valid at "},
      {L"gen-300002.bin", kManifestBelowFloor,
       "Package manifest refused, expected version 1.0.20.0 or later, found 1.0.10.0; the package was not downloaded"},
      {L"gen-300003.bin", kManifestKeyMismatch, "Package manifest refused, expected signer key SHA-256 "},
      {L"gen-300006.bin", 0x8009310B,  // CRYPT_E_ASN1_BADTAG: no message at all
       "Package manifest refused, expected a valid CMS signature, found crypt32 result 0x8009310b"},
      // Wine's crypt32 lets this through; the stub's own check of the signed digest refuses it.
      {L"gen-300007.bin", kManifestContentNotSigned,
       "Package manifest refused, expected a valid CMS signature, found crypt32 result 0x80091007"},
      {L"gen-300008.bin", 0, "Package manifest refused, expected a valid CMS signature, found crypt32 result 0x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.package);
    makeObject();
    const std::wstring path = std::wstring(L"/files/") + c.package;
    EXPECT_EQ(kDownloadFailed, download(path));
    EXPECT_EQ(1, testServerHits(path + L".manifest"));
    EXPECT_EQ(0, testServerHits(path));
    EXPECT_EQ(kManifestStage, record_.wrapperError);
    if (c.code != 0) {
      EXPECT_EQ(reportCode(c.code), record_.msiError);
    } else {
      EXPECT_NE(0, record_.msiError);
    }
    EXPECT_TRUE(logHas(c.line));
    external_->Release();
    external_ = nullptr;
  }
}

// The manifest's hash covers every byte as it is written: a first part or a resumed part other than
// the signed one is refused as stage 7 and deleted. The package goes through a route file, so that
// its first request is the one broken off at 60 % (the manifest beside it is served whole).
TEST_F(PackageManifestTest, ATamperedFirstOrResumedPartIsRefused) {
  for (const wchar_t* manifestCase : {L"first-part", L"rest-part"}) {
    SCOPED_TRACE(manifestCase);
    const std::wstring package = std::wstring(manifestCase) + L".bin";
    const std::wstring route = std::wstring(L"/resume/") + manifestCase + L"/60/etag/gen-300000.bin";
    serve(package + L".route", std::string(route.begin(), route.end()) + "\n");
    serveManifest(manifestCase, package);
    makeObject();
    EXPECT_EQ(kDownloadFailed, download(L"/" + package));
    // The first part, then the rest: the hash spans both.
    EXPECT_EQ(2u, testsupport::testServerRequests(route).size());
    EXPECT_FALSE(testsupport::pathExists(external_->downloadPath()));
    EXPECT_EQ(kPackageHashStage, record_.wrapperError);
    EXPECT_EQ(reportCode(kPackageHashMismatch), record_.msiError);
    external_->Release();
    external_ = nullptr;
  }
  EXPECT_TRUE(logHas("Package hash mismatch, expected SHA-256 "));
  EXPECT_TRUE(logHas("Download continues at byte 180000"));
}

// A server that announces or sends more than the signed size: refused before the space is claimed
// or at the first byte beyond it, never retried.
TEST_F(PackageManifestTest, MoreThanTheSignedSizeIsRefused) {
  serveManifest(L"smaller", L"gen-300000.bin");
  for (const std::wstring path : {L"/files/gen-300000.bin", L"/nolength/gen-300000.bin"}) {
    SCOPED_TRACE(path);
    makeObject();
    EXPECT_EQ(kDownloadFailed, download(path));
    EXPECT_EQ(1, testServerHits(path));
    EXPECT_FALSE(testsupport::pathExists(external_->downloadPath()));
    EXPECT_EQ(kPackageHashStage, record_.wrapperError);
    external_->Release();
    external_ = nullptr;
  }
  EXPECT_TRUE(logHas("Package larger than its manifest, expected 299999 bytes, found more; the package was deleted"));
}

}  // namespace
}  // namespace downloadmanagercore
