// Win32 test code: the product installer is started only when it carries the pinned signer's valid
// Authenticode signature, checked through a handle held until the process exists. The stand-in
// setup.exe is signed at build time with osslsigncode: with the build's test certificate, with a
// certificate of another name, and with a certificate of the test certificate's name under another
// key. The key pin is the test certificate's, as openssl computes it at build time
// (tests/make-test-manifests).
#include "sorvane/installer_signature_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "downloadmanagercore/package_trust.h"
#include "sorvane/sorvane_external_win.h"
#include "support/test_product_win.h"
#include "support/wine_test_support_win.h"
#include "telemetry/analytics_win.h"

namespace sorvane {
namespace {

constexpr char16_t kTestSigner[] = u"Sorvane Pro Test Signing";
constexpr std::uint32_t kTrustNoSignature = 0x800B0100;  // TRUST_E_NOSIGNATURE
constexpr std::uint32_t kTrustBadDigest = 0x80096010;    // TRUST_E_BAD_DIGEST

std::wstring signedSetup(const wchar_t* name) { return testsupport::testBinFolder() + L"\\" + name; }

// The SHA-256 of the test certificate's SubjectPublicKeyInfo, from openssl; nothing when missing.
std::optional<downloadmanagercore::Sha256Digest> testSignerKey() {
  std::string text = testsupport::readFileBytes(signedSetup(L"manifests\\signing-key.sha256"));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return downloadmanagercore::parseHexDigest(std::u16string(text.begin(), text.end()));
}

#define SKIP_WITHOUT_SIGNED_SETUPS()                                                   \
  do {                                                                                 \
    if (!testsupport::pathExists(signedSetup(L"fake_setup-signed.exe"))) {            \
      GTEST_SKIP() << "no signed stand-in installers (configure with the native tools)"; \
    }                                                                                  \
  } while (0)

class InstallerSignatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_SIGNED_SETUPS();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    initialized_ = true;
    object_ = new SorvaneExternal(&properties_, &analytics_, &logger_);
    object_->pinInstallerSigner(kTestSigner);
    ASSERT_TRUE(testSignerKey().has_value());
    object_->pinInstallerSignerKey(testSignerKey());
    folder_ = object_->workFolder() + L"package";
  }
  void TearDown() override {
    if (object_ != nullptr) object_->Release();
    if (initialized_) {
      EXPECT_TRUE(testsupport::uninstallTestProduct());
      CoUninitialize();
    }
  }

  // Stages the stand-in installer (ending with 0 without installing anything), then puts `setup`
  // over its setup.exe; an empty name keeps the unsigned build.
  void stage(const wchar_t* setup) {
    ASSERT_TRUE(testsupport::stageInstaller(folder_, 0));
    if (setup != nullptr) {
      ASSERT_TRUE(CopyFileW(signedSetup(setup).c_str(), (folder_ + L"\\setup.exe").c_str(), FALSE));
    }
  }

  std::int32_t installOnWorker() {
    std::atomic<bool> done{false};
    std::int32_t result = -1;
    std::thread worker([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      result = object_->InstallPackage(L"", L" a=1");
      CoUninitialize();
      done = true;
    });
    EXPECT_TRUE(testsupport::pumpMessagesUntil([&] { return done.load(); }, 60000));
    worker.join();
    return result;
  }

  bool logHas(const std::string& text) {
    return testsupport::readFileBytes(logger_.logPath()).find(text) != std::string::npos;
  }

  // A refused installer: the page's 3, never started, its own stage with the check's code.
  void expectRefused(std::uint32_t code) {
    EXPECT_EQ(3, installOnWorker());
    EXPECT_FALSE(testsupport::readSetupInvocation(folder_).recorded);
    EXPECT_EQ(object_->installerExitCode(), std::nullopt);
    EXPECT_EQ(downloadmanagercore::kInstallerSignatureStage, properties_.wrapperError);
    EXPECT_EQ(downloadmanagercore::reportCode(code), properties_.msiError);
  }

  bool initialized_ = false;
  app::Logger logger_;
  app::InstallProperties properties_{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
  downloadmanagercore::Analytics analytics_{&properties_};
  SorvaneExternal* object_ = nullptr;
  std::wstring folder_;
};

TEST_F(InstallerSignatureTest, TheReleasesOwnSignedInstallerRuns) {
  stage(L"fake_setup-signed.exe");
  EXPECT_EQ(0, installOnWorker());
  EXPECT_TRUE(testsupport::readSetupInvocation(folder_).recorded);
  EXPECT_EQ(0, properties_.wrapperError);
}

TEST_F(InstallerSignatureTest, AnUnsignedInstallerIsNeverStarted) {
  stage(nullptr);
  expectRefused(kTrustNoSignature);
  EXPECT_TRUE(logHas("Installer signature refused, expected signer \"Sorvane Pro Test Signing\", found no signer, "
                     "WinVerifyTrust result 0x800b0100; setup.exe was not started"));
}

TEST_F(InstallerSignatureTest, AnInstallerSignedBySomeoneElseIsNeverStarted) {
  stage(L"fake_setup-other-signer.exe");
  const InstallerSignature signature = HeldInstaller(folder_ + L"\\setup.exe").verify();
  EXPECT_EQ(u"Someone Else Signing", signature.signer);
  // Windows refuses the untrusted root itself; Wine's check passes it, and the name refuses it.
  expectRefused(signature.trustResult != 0 ? signature.trustResult : downloadmanagercore::kInstallerSignerMismatch);
  // Its key is not the pinned one either; the name is what the line names, checked second.
  EXPECT_TRUE(logHas("expected signer \"Sorvane Pro Test Signing\", found \"Someone Else Signing\""));
}

TEST_F(InstallerSignatureTest, TheSigningCertificatesKeyIsFoundAsOpensslPinsIt) {
  const InstallerSignature signature = HeldInstaller(signedSetup(L"fake_setup-signed.exe")).verify();
  ASSERT_EQ(0u, signature.trustResult);
  ASSERT_FALSE(signature.chainKeys.empty());
  EXPECT_EQ(*testSignerKey(), signature.chainKeys[0]);
}

// Anyone can make a certificate of the pinned name; Wine does not check its chain at all, so the key
// pin is what refuses it.
TEST_F(InstallerSignatureTest, ThePinnedNameUnderAnotherKeyIsNeverStarted) {
  stage(L"fake_setup-same-name-other-key.exe");
  const InstallerSignature signature = HeldInstaller(folder_ + L"\\setup.exe").verify();
  EXPECT_EQ(std::u16string(kTestSigner), signature.signer);
  ASSERT_FALSE(signature.chainKeys.empty());
  EXPECT_NE(*testSignerKey(), signature.chainKeys[0]);
  expectRefused(signature.trustResult != 0 ? signature.trustResult : downloadmanagercore::kInstallerSignerMismatch);
  if (signature.trustResult == 0) {
    const std::u16string pinned = downloadmanagercore::hexDigest(*testSignerKey());
    EXPECT_TRUE(logHas("Installer signature refused, expected signer key SHA-256 " +
                       std::string(pinned.begin(), pinned.end()) + ", found "));
    EXPECT_TRUE(logHas("(leaf first) for signer \"Sorvane Pro Test Signing\"; setup.exe was not started"));
  }
}

TEST_F(InstallerSignatureTest, AKeyPinAloneAcceptsTheReleasesInstaller) {
  object_->pinInstallerSigner(u"");
  stage(L"fake_setup-signed.exe");
  EXPECT_EQ(0, installOnWorker());
  EXPECT_TRUE(testsupport::readSetupInvocation(folder_).recorded);
}

TEST_F(InstallerSignatureTest, ATamperedSignedInstallerIsNeverStarted) {
  stage(L"fake_setup-signed.exe");
  std::string bytes = testsupport::readFileBytes(folder_ + L"\\setup.exe");
  // A byte of the code section, which the signature's digest covers.
  bytes[0x400 + 16] = static_cast<char>(bytes[0x400 + 16] ^ 0x01);
  ASSERT_TRUE(testsupport::writeFileBytes(folder_ + L"\\setup.exe", bytes));
  expectRefused(kTrustBadDigest);
}

TEST_F(InstallerSignatureTest, TheHeldInstallerCanStartButNotBeChanged) {
  stage(L"fake_setup-signed.exe");
  const std::wstring path = folder_ + L"\\setup.exe";
  HeldInstaller held(path);
  ASSERT_TRUE(held.open());
  const InstallerSignature signature = held.verify();
  EXPECT_EQ(0u, signature.trustResult);
  EXPECT_EQ(std::u16string(kTestSigner), signature.signer);
  const HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(MoveFileExW(path.c_str(), (path + L".old").c_str(), MOVEFILE_REPLACE_EXISTING));
  const testsupport::ChildResult child = testsupport::runChild(testsupport::quoted(path));
  EXPECT_TRUE(child.started);
}

TEST_F(InstallerSignatureTest, WithoutAPinAnyInstallerRuns) {
  object_->pinInstallerSigner(u"");
  object_->pinInstallerSignerKey(std::nullopt);
  stage(nullptr);
  EXPECT_EQ(0, installOnWorker());
  EXPECT_TRUE(testsupport::readSetupInvocation(folder_).recorded);
}

}  // namespace
}  // namespace sorvane
