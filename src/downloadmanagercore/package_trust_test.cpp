#include "downloadmanagercore/package_trust.h"

#include <gtest/gtest.h>

#include <string>

namespace downloadmanagercore {
namespace {

std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// SHA-256 of the empty string.
constexpr char16_t kEmptyDigest[] = u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(PackageDigest, ReadsAndWritesSixtyFourHexDigits) {
  const auto digest = parseHexDigest(kEmptyDigest);
  ASSERT_TRUE(digest.has_value());
  EXPECT_EQ(0xE3, (*digest)[0]);
  EXPECT_EQ(0x55, (*digest)[31]);
  EXPECT_EQ(std::u16string(kEmptyDigest), hexDigest(*digest));
  // Upper case is the same digest; the text form is always lower case.
  const auto upper = parseHexDigest(u"E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
  ASSERT_TRUE(upper.has_value());
  EXPECT_EQ(*digest, *upper);
}

TEST(PackageDigest, RefusesAnythingButExactlyOneDigest) {
  const std::u16string valid = kEmptyDigest;
  for (const std::u16string& text : {std::u16string(), valid.substr(1), valid + u"0", u" " + valid.substr(1),
                                     valid.substr(0, 63) + u"g", valid.substr(0, 63) + std::u16string(1, u'\0'),
                                     std::u16string(u"0x") + valid.substr(2)}) {
    EXPECT_FALSE(parseHexDigest(text).has_value()) << narrow(text);
  }
}

TEST(PackageTrust, ReportCodesAreTheHresultsAsSignedDecimal) {
  EXPECT_EQ(-2146869232, reportCode(0x80096010));  // TRUST_E_BAD_DIGEST
  EXPECT_EQ(-2146762496, reportCode(0x800B0100));  // TRUST_E_NOSIGNATURE
  EXPECT_EQ(-2146889721, reportCode(kPackageHashMismatch));
  EXPECT_EQ(0, reportCode(0));
}

TEST(PackageTrust, RefusalLinesSayWhatWasExpectedAndWhatWasFound) {
  Sha256Digest expected{};
  Sha256Digest found{};
  found[0] = 0xAB;
  EXPECT_EQ("Package hash mismatch, expected SHA-256 " + std::string(64, '0') + ", found ab" + std::string(62, '0') +
                "; the package was deleted",
            narrow(packageHashMismatchLine(expected, found)));
  EXPECT_EQ("Installer signature refused, expected signer \"Sorvane Software Ltd\", found \"Someone Else\", "
            "WinVerifyTrust result 0x00000000; setup.exe was not started",
            narrow(installerSignatureLine(u"Sorvane Software Ltd", u"Someone Else", 0)));
  EXPECT_EQ("Installer signature refused, expected signer \"Sorvane Software Ltd\", found no signer, "
            "WinVerifyTrust result 0x800b0100; setup.exe was not started",
            narrow(installerSignatureLine(u"Sorvane Software Ltd", u"", 0x800B0100)));
}

TEST(InstallerPins, TheKeyDecidesAndTheNameIsASecondCheck) {
  Sha256Digest pinned{};
  pinned[0] = 0x11;
  Sha256Digest other{};
  other[0] = 0x22;
  const InstallerPins both{u"Sorvane Software Ltd", pinned};
  const InstallerPins keyOnly{u"", pinned};
  struct Case {
    const char* what;
    InstallerPins pins;
    InstallerFindings found;
    std::uint32_t code;
  };
  const Case cases[] = {
      {"the leaf's key", both, {0, u"Sorvane Software Ltd", {pinned}}, 0},
      {"a key further up the chain", both, {0, u"Sorvane Software Ltd", {other, pinned}}, 0},
      {"key pin alone", keyOnly, {0, u"Anyone", {pinned}}, 0},
      {"the pinned name under another key", both, {0, u"Sorvane Software Ltd", {other}}, kInstallerSignerMismatch},
      {"no key read", both, {0, u"Sorvane Software Ltd", {}}, kInstallerSignerMismatch},
      {"the pinned key under another name", both, {0, u"Someone Else", {pinned}}, kInstallerSignerMismatch},
      {"a signature that does not verify", both, {0x80096010, u"Sorvane Software Ltd", {pinned}}, 0x80096010},
      {"no signature, key pin alone", keyOnly, {0x800B0100, u"", {}}, 0x800B0100},
  };
  for (const Case& c : cases) {
    std::u16string line;
    EXPECT_EQ(c.code, installerRefusal(c.pins, c.found, &line)) << c.what;
    EXPECT_EQ(c.code == 0, line.empty()) << c.what;
  }
}

TEST(InstallerPins, AKeyRefusalNamesTheExpectedAndTheFoundKeys) {
  Sha256Digest pinned{};
  pinned[0] = 0x11;
  Sha256Digest leaf{};
  leaf[0] = 0x22;
  std::u16string line;
  installerRefusal({u"Sorvane Software Ltd", pinned}, {0, u"Sorvane Software Ltd", {leaf, leaf}}, &line);
  EXPECT_EQ("Installer signature refused, expected signer key SHA-256 11" + std::string(62, '0') + ", found 22" +
                std::string(62, '0') + " 22" + std::string(62, '0') +
                " (leaf first) for signer \"Sorvane Software Ltd\"; setup.exe was not started",
            narrow(line));
  installerRefusal({u"", pinned}, {0x800B0100, u"", {}}, &line);
  EXPECT_EQ("Installer signature refused, expected signer key SHA-256 11" + std::string(62, '0') +
                ", WinVerifyTrust result 0x800b0100; setup.exe was not started",
            narrow(line));
}

}  // namespace
}  // namespace downloadmanagercore
