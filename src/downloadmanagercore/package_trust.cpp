#include "downloadmanagercore/package_trust.h"

#include "sysenv/hex_text.h"

namespace downloadmanagercore {

namespace {

int hexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

std::u16string hexWord(std::uint32_t value) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  std::u16string text(8, u'0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
  return text;
}

}  // namespace

std::u16string hexDigest(const Sha256Digest& digest) { return sysenv::hexBytes(digest.data(), digest.size()); }

std::optional<Sha256Digest> parseHexDigest(const std::u16string& text) {
  Sha256Digest digest{};
  if (text.size() != digest.size() * 2) return std::nullopt;
  for (std::size_t i = 0; i < digest.size(); ++i) {
    const int high = hexValue(text[2 * i]);
    const int low = hexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return digest;
}

std::int32_t reportCode(std::uint32_t hresult) { return static_cast<std::int32_t>(hresult); }

std::u16string packageHashMismatchLine(const Sha256Digest& expected, const Sha256Digest& found) {
  return u"Package hash mismatch, expected SHA-256 " + hexDigest(expected) + u", found " + hexDigest(found) +
         u"; the package was deleted";
}

std::u16string installerSignatureLine(const std::u16string& expectedSigner, const std::u16string& foundSigner,
                                      std::uint32_t trustResult) {
  return u"Installer signature refused, expected signer \"" + expectedSigner + u"\", found " +
         (foundSigner.empty() ? std::u16string(u"no signer") : u"\"" + foundSigner + u"\"") +
         u", WinVerifyTrust result 0x" + hexWord(trustResult) + u"; setup.exe was not started";
}

std::uint32_t installerRefusal(const InstallerPins& pins, const InstallerFindings& found, std::u16string* line) {
  if (found.trustResult != 0 || (!pins.signer.empty() && found.signer != pins.signer)) {
    if (!pins.signer.empty()) {
      *line = installerSignatureLine(pins.signer, found.signer, found.trustResult);
    } else {
      *line = u"Installer signature refused, expected signer key SHA-256 " + hexDigest(*pins.signerKey) +
              u", WinVerifyTrust result 0x" + hexWord(found.trustResult) + u"; setup.exe was not started";
    }
    return found.trustResult != 0 ? found.trustResult : kInstallerSignerMismatch;
  }
  if (!pins.signerKey) return 0;
  for (const Sha256Digest& key : found.chainKeys) {
    if (key == *pins.signerKey) return 0;
  }
  std::u16string keys;
  for (const Sha256Digest& key : found.chainKeys) keys += (keys.empty() ? u"" : u" ") + hexDigest(key);
  *line = u"Installer signature refused, expected signer key SHA-256 " + hexDigest(*pins.signerKey) + u", found " +
          (keys.empty() ? std::u16string(u"no key") : keys + u" (leaf first)") + u" for signer \"" + found.signer +
          u"\"; setup.exe was not started";
  return kInstallerSignerMismatch;
}

}  // namespace downloadmanagercore
