// Win32 test code. Whole runs of the packed stub against what an attacker could put in its way: a
// package changed on the way or after its manifest was signed, an installer that is unsigned or
// signed by someone else, and a stub whose pages were swapped inside its (unsigned) certificate
// table. Nothing of them runs, and the report says where the run was stopped.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/folder_watch_win.h"
#include "support/stub_run_win.h"
#include "support/test_http_server_win.h"
#include "support/test_product_win.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/shell_win.h"

namespace testsupport {
namespace {

constexpr int kPackageHashStage = 7;
constexpr int kInstallerSignatureStage = 8;
constexpr int kHashMismatch = -2146889721;      // CRYPT_E_HASH_VALUE
constexpr int kNoSignature = -2146762496;       // TRUST_E_NOSIGNATURE
constexpr int kSignerMismatch = -2146762748;    // TRUST_E_SUBJECT_NOT_TRUSTED: a valid signature, another name

class PackageTrust : public StubRunTest {
 protected:
  void SetUp() override {
    StubRunTest::SetUp();
    if (IsSkipped()) return;
    if (pinnedStubPath().empty() || !pathExists(pinnedStubPath())) GTEST_SKIP() << "the pinned stub was not packed";
  }

  // A refused run: 1603, nothing installed, the start report, the final one at `stage` with `code`,
  // and the stub's log uploaded (no installer log: no installer ever ran). The log's text.
  std::string expectRefusedRun(std::optional<DWORD> exitCode, int stage, int code) {
    EXPECT_EQ(exitCode, std::optional<DWORD>(1603));
    EXPECT_FALSE(testProductInstalled());
    EXPECT_EQ(leftInTemp(), std::vector<std::wstring>{});
    const std::vector<std::string> logs = expectErrorReports(stage, code, {"installer_log.txt"});
    return logs.empty() ? std::string() : logs[0];
  }
};

TEST_F(PackageTrust, ThePinnedPackageInstalls) {
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));
  EXPECT_EQ(runPinnedQuiet(), std::optional<DWORD>(0));
  expectCompletedRun();
}

TEST_F(PackageTrust, APackageChangedOnTheWayIsDeletedAndNotRetried) {
  std::string package = readFileBytes(testBinFolder() + L"\\demo-product\\SorvanePro.zip");
  ASSERT_GT(package.size(), 1000u);
  package[package.size() / 2] ^= 0x01;
  ASSERT_TRUE(writeFileBytes(testServerRoot() + L"SorvanePro.zip", package));

  const std::string log = expectRefusedRun(runPinnedQuiet(), kPackageHashStage, kHashMismatch);

  EXPECT_NE(log.find("Package hash mismatch, expected SHA-256 "), std::string::npos) << log;
  EXPECT_EQ(log.find("ExtractThreadFunc"), std::string::npos) << log;
  EXPECT_EQ(testServerHits(L"/SorvanePro.zip"), 1);
}

// The stub that takes its package from the signed manifest (the test key, floor 5.2.0.0), with the
// demo package's genuine manifest served beside a package changed after signing: its MSI swapped
// for another (the signed setup.exe kept), or one byte inside it changed. Nothing of it runs.
class ManifestPackageTrust : public PackageTrust {
 protected:
  void SetUp() override {
    PackageTrust::SetUp();
    if (IsSkipped()) return;
    if (!pathExists(manifestStub())) GTEST_SKIP() << "the manifest stub was not packed";
    ASSERT_TRUE(writeFileBytes(testServerRoot() + L"SorvanePro.zip.manifest",
                               readFileBytes(testBinFolder() + L"\\demo-product\\SorvanePro.zip.manifest")));
  }
  void TearDown() override {
    DeleteFileW((testServerRoot() + L"SorvanePro.zip.manifest").c_str());
    PackageTrust::TearDown();
  }
  static std::wstring manifestStub() { return testBinFolder() + L"\\SorvaneProSetup-manifest-packed.exe"; }
  void expectRefused() {
    const std::string log = expectRefusedRun(runStub(manifestStub(), L"/quiet"), kPackageHashStage, kHashMismatch);
    EXPECT_EQ(log.find("ExtractThreadFunc"), std::string::npos) << log;
    EXPECT_EQ(testServerHits(L"/SorvanePro.zip.manifest"), 1);
    EXPECT_EQ(testServerHits(L"/SorvanePro.zip"), 1);
  }
};

TEST_F(ManifestPackageTrust, ThePackageOfItsSignedManifestInstalls) {
  ASSERT_TRUE(servePackage(L"SorvanePro.zip"));
  EXPECT_EQ(runStub(manifestStub(), L"/quiet"), std::optional<DWORD>(0));
  expectCompletedRun();
}

TEST_F(ManifestPackageTrust, APackageWhoseMsiWasSwappedNeverRuns) {
  ASSERT_TRUE(servePackage(L"SorvanePro-installer-fails.zip"));
  expectRefused();
}

TEST_F(ManifestPackageTrust, APackageWithAFileChangedAfterSigningNeverRuns) {
  std::string package = readFileBytes(testBinFolder() + L"\\demo-product\\SorvanePro.zip");
  ASSERT_GT(package.size(), 1000u);
  package[package.size() / 2] ^= 0x01;
  ASSERT_TRUE(writeFileBytes(testServerRoot() + L"SorvanePro.zip", package));
  expectRefused();
}

// The installer cases run the stub that pins the signer only: a stub that also pinned the demo
// package's hash would refuse these other packages before their installer was looked at.
TEST_F(PackageTrust, AnUnsignedInstallerIsNeverStarted) {
  ASSERT_TRUE(servePackage(L"SorvanePro-unsigned-setup.zip"));
  const std::string log = expectRefusedRun(runQuiet(), kInstallerSignatureStage, kNoSignature);
  EXPECT_NE(log.find("found no signer, WinVerifyTrust result 0x800b0100; setup.exe was not started"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Install start"), std::string::npos) << log;
}

TEST_F(PackageTrust, AnInstallerSignedBySomeoneElseIsNeverStarted) {
  ASSERT_TRUE(servePackage(L"SorvanePro-other-signer.zip"));
  // Windows refuses the untrusted root by itself; under Wine the signature passes and the pinned name
  // refuses it (docs/platform-notes.md).
  const std::string log = expectRefusedRun(runQuiet(), kInstallerSignatureStage, kSignerMismatch);
  EXPECT_NE(log.find("found \"Someone Else Signing\""), std::string::npos) << log;
  EXPECT_EQ(log.find("Install start"), std::string::npos) << log;
}

// The window run (Wine has no HTML document, so the run would end there anyway): the payload is
// refused before one page is written, and the run takes the unreadable-payload path.
TEST_F(PackageTrust, ASwappedContainerWritesNoPageAndReportsTheFailure) {
  std::string stub = readFileBytes(packedStubPath());
  ASSERT_GT(stub.size(), 4u);
  const auto* tail = reinterpret_cast<const unsigned char*>(stub.data() + stub.size() - 4);
  const std::size_t container = tail[0] | tail[1] << 8 | tail[2] << 16 | static_cast<std::size_t>(tail[3]) << 24;
  ASSERT_LT(container + 528 + 10, stub.size());
  stub[container + 528 + 10] ^= 0x20;
  ScratchFolder copy;
  const std::wstring swapped = copy.file(L"SorvaneProSetup.exe");
  ASSERT_TRUE(writeFileBytes(swapped, stub));

  // The elevated stub makes its folders in the Windows temporary folder.
  FolderWatch watch(sysenv::windowsScratchRoot());
  ASSERT_TRUE(watch.watching());
  EXPECT_EQ(runStub(swapped, L""), std::optional<DWORD>(0));
  for (const std::wstring& created : watch.stop()) {
    const std::size_t separator = created.find(L'\\');
    // The log, and the archive of it that the failure's upload sends: no page.
    if (separator == std::wstring::npos) continue;
    const std::wstring name = created.substr(separator + 1);
    EXPECT_TRUE(name == L"installer_log.txt" || name == L"log.zip") << sysenv::toUtf8(created);
  }
  EXPECT_EQ(leftInTemp(), std::vector<std::wstring>{});
  const std::vector<CollectedRequest> requests = collectedRun();
  ASSERT_EQ(requests.size(), 3u);
  expectReport(requests[0], {"started", 0, 0, "", ""});
  expectReport(requests[1], {"error occurred", 0, 0, "", ""});
  const std::vector<std::string> logs = expectLogUpload(requests[2], {"installer_log.txt"});
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(logs[0].find("payload container refused, expected SHA-256 "), std::string::npos) << logs[0];
}

}  // namespace
}  // namespace testsupport
