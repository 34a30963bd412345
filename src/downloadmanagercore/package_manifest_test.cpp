#include "downloadmanagercore/package_manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace downloadmanagercore {
namespace {

std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

const char kManifest[] =
    "sorvane-package-manifest 1\n"
    "file SorvanePro.zip\n"
    "size 123456\n"
    "sha256 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n"
    "version 1.0.20.1\n"
    "expires 2027-01-31T00:00:00Z\n";

TEST(PackageManifest, ReadsWhatTheWriterWrites) {
  std::string error;
  const auto manifest = parsePackageManifest(kManifest, &error);
  ASSERT_TRUE(manifest.has_value()) << error;
  EXPECT_EQ("SorvanePro.zip", manifest->file);
  EXPECT_EQ(123456u, manifest->size);
  EXPECT_EQ(0xE3, manifest->sha256[0]);
  EXPECT_EQ((ProductVersion{1, 0, 20, 1}), manifest->version);
  // date -u -d 2027-01-31 +%s
  EXPECT_EQ(1801353600, manifest->expires);
  EXPECT_EQ(kManifest, formatPackageManifest(*manifest));
}

TEST(PackageManifest, AnythingButExactlyTheFormatIsUnreadable) {
  const std::string good = kManifest;
  const auto replaced = [&good](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"another format", replaced("manifest 1", "manifest 2")},
      {"CR LF", replaced("\nfile", "\r\nfile")},
      {"no last line break", good.substr(0, good.size() - 1)},
      {"a line more", good + "extra 1\n"},
      {"lines swapped", replaced("size 123456\n", "").insert(good.find("version") - 12, "size 123456\n")},
      {"a path", replaced("file SorvanePro.zip", "file ..\\setup.exe")},
      {"a control character", replaced("SorvanePro", "Sorvane\tPro")},
      {"size 0", replaced("size 123456", "size 0")},
      {"size of 4 GiB", replaced("size 123456", "size 4294967296")},
      {"signed size", replaced("size 123456", "size -1")},
      {"short digest", replaced("b855\n", "b85\n")},
      {"version of five parts", replaced("1.0.20.1", "1.0.20.1.0")},
      {"version part too big", replaced("1.0.20.1", "1.65536.0.0")},
      {"date only", replaced("2027-01-31T00:00:00Z", "2027-01-31")},
      {"impossible date", replaced("2027-01-31", "2027-02-29")},
      {"local time", replaced("00:00:00Z", "00:00:00+")},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(parsePackageManifest(c.text, &error).has_value()) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

TEST(PackageManifest, VersionsAndTimes) {
  EXPECT_EQ((ProductVersion{2, 0, 0, 0}), parseProductVersion("2"));
  EXPECT_EQ((ProductVersion{1, 2, 3, 65535}), parseProductVersion("1.2.3.65535"));
  for (const char* bad : {"", "1.", ".1", "1..2", "a", "+1", "1.2.3.4.5", "000001"}) {
    EXPECT_FALSE(parseProductVersion(bad).has_value()) << bad;
  }
  EXPECT_EQ("1.0.20.1", productVersionText({1, 0, 20, 1}));
  EXPECT_EQ(0, parseUtcTime("1970-01-01"));
  EXPECT_EQ(951782400, parseUtcTime("2000-02-29"));  // a leap day of a century divisible by 400
  EXPECT_FALSE(parseUtcTime("1900-02-29").has_value());
  EXPECT_FALSE(parseUtcTime("2100-02-29").has_value());
  EXPECT_FALSE(parseUtcTime("1969-12-31").has_value());
  for (const char* text : {"1970-01-01T00:00:00Z", "2000-02-29T23:59:59Z", "2027-01-31T12:34:56Z", "9999-12-31T23:59:59Z"}) {
    const auto seconds = parseUtcTime(text);
    ASSERT_TRUE(seconds.has_value()) << text;
    EXPECT_EQ(text, utcTimeText(*seconds));
  }
}

class ManifestRules : public ::testing::Test {
 protected:
  void SetUp() override {
    policy_.signerKey[0] = 0x11;
    policy_.floor = {1, 0, 20, 0};
  }
  std::uint32_t refusal(const std::string& text, const std::optional<Sha256Digest>& key, std::int64_t now) {
    line_.clear();
    return manifestRefusal(policy_, key, text, "SorvanePro.zip", now, &accepted_, &line_);
  }
  ManifestPolicy policy_;
  PackageManifest accepted_;
  std::u16string line_;
  const std::int64_t before_ = 1801353600 - 1;
};

TEST_F(ManifestRules, ASignedCurrentManifestAtOrAboveTheFloorIsTaken) {
  EXPECT_EQ(0u, refusal(kManifest, policy_.signerKey, before_));
  EXPECT_EQ(123456u, accepted_.size);
  EXPECT_TRUE(line_.empty());
  policy_.floor = {1, 0, 20, 1};
  EXPECT_EQ(0u, refusal(kManifest, policy_.signerKey, before_));
}

TEST_F(ManifestRules, EachRefusalSaysWhatWasExpectedAndWhatWasFound) {
  Sha256Digest other{};
  other[0] = 0x22;
  const std::string zeros(62, '0');
  EXPECT_EQ(kManifestKeyMismatch, refusal(kManifest, other, before_));
  EXPECT_EQ("Package manifest refused, expected signer key SHA-256 11" + zeros + ", found 22" + zeros +
                "; the package was not downloaded",
            narrow(line_));
  EXPECT_EQ(kManifestKeyMismatch, refusal(kManifest, std::nullopt, before_));
  EXPECT_NE(std::string::npos, narrow(line_).find("found no key"));

  EXPECT_EQ(kManifestExpired, refusal(kManifest, policy_.signerKey, before_ + 1));
  EXPECT_EQ("Package manifest refused, expected a manifest valid at 2027-01-31T00:00:00Z, found one that expired "
            "at 2027-01-31T00:00:00Z; the package was not downloaded",
            narrow(line_));

  policy_.floor = {1, 0, 21, 0};
  EXPECT_EQ(kManifestBelowFloor, refusal(kManifest, policy_.signerKey, before_));
  EXPECT_EQ("Package manifest refused, expected version 1.0.21.0 or later, found 1.0.20.1; the package was not "
            "downloaded",
            narrow(line_));

  std::string otherFile = kManifest;
  otherFile.replace(otherFile.find("SorvanePro.zip"), 14, "SorvanePro-1.0.zip");
  EXPECT_EQ(kManifestWrongFile, refusal(otherFile, policy_.signerKey, before_));
  EXPECT_EQ("Package manifest refused, expected file SorvanePro.zip, found SorvanePro-1.0.zip; the package was not downloaded",
            narrow(line_));

  EXPECT_EQ(kManifestUnreadable, refusal("junk", policy_.signerKey, before_));
  EXPECT_NE(std::string::npos, narrow(line_).find("unreadable"));
}

TEST(PackageManifest, TheOtherLinesNameWhatWasFound) {
  EXPECT_EQ("Package manifest refused, expected a valid CMS signature, found crypt32 result 0x80091007; the "
            "package was not downloaded",
            narrow(manifestSignatureLine(0x80091007)));
  EXPECT_EQ("Package larger than its manifest, expected 123456 bytes, found more; the package was deleted",
            narrow(packageOversizeLine(123456)));
  std::string error;
  EXPECT_EQ("file SorvanePro.zip, size 123456, SHA-256 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855, "
            "version 1.0.20.1, expires 2027-01-31T00:00:00Z",
            narrow(manifestSummary(*parsePackageManifest(kManifest, &error))));
}

}  // namespace
}  // namespace downloadmanagercore
