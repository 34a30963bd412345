// Win32 code.
#include "downloadmanagercore/manifest_signature_win.h"

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>

#include "downloadmanagercore/certificate_key_win.h"
#include "downloadmanagercore/download_rules.h"
#include "downloadmanagercore/package_manifest.h"
#include "sysenv/sha256_win.h"
#include "sysenv/system_dll_win.h"

namespace downloadmanagercore {

namespace {

// crypt32.dll is not a Known DLL.
struct MessageFunctions {
  decltype(&CryptVerifyMessageSignature) verify;
  decltype(&CertFreeCertificateContext) freeCertificate;
  decltype(&CryptMsgOpenToDecode) openToDecode;
  decltype(&CryptMsgUpdate) update;
  decltype(&CryptMsgGetParam) getParam;
  decltype(&CryptMsgClose) close;
  bool complete() const { return verify && freeCertificate && openToDecode && update && getParam && close; }
};

const MessageFunctions& functions() {
  static const MessageFunctions f = {
      sysenv::systemFunction<decltype(&CryptVerifyMessageSignature)>(L"crypt32.dll", "CryptVerifyMessageSignature"),
      sysenv::systemFunction<decltype(&CertFreeCertificateContext)>(L"crypt32.dll", "CertFreeCertificateContext"),
      sysenv::systemFunction<decltype(&CryptMsgOpenToDecode)>(L"crypt32.dll", "CryptMsgOpenToDecode"),
      sysenv::systemFunction<decltype(&CryptMsgUpdate)>(L"crypt32.dll", "CryptMsgUpdate"),
      sysenv::systemFunction<decltype(&CryptMsgGetParam)>(L"crypt32.dll", "CryptMsgGetParam"),
      sysenv::systemFunction<decltype(&CryptMsgClose)>(L"crypt32.dll", "CryptMsgClose"),
  };
  return f;
}

// A decoded message, closed with its owner.
class DecodedMessage {
 public:
  explicit DecodedMessage(const std::vector<std::uint8_t>& message) {
    const MessageFunctions& f = functions();
    message_ = f.openToDecode(PKCS_7_ASN_ENCODING | X509_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
    if (message_ != nullptr && !f.update(message_, message.data(), static_cast<DWORD>(message.size()), TRUE)) {
      f.close(message_);
      message_ = nullptr;
    }
  }
  ~DecodedMessage() {
    if (message_ != nullptr) functions().close(message_);
  }
  DecodedMessage(const DecodedMessage&) = delete;
  DecodedMessage& operator=(const DecodedMessage&) = delete;

  // A parameter's bytes; empty when there is none.
  std::vector<BYTE> param(DWORD type) const {
    DWORD size = 0;
    if (message_ == nullptr || !functions().getParam(message_, type, 0, nullptr, &size) || size == 0) return {};
    std::vector<BYTE> bytes(size);
    if (!functions().getParam(message_, type, 0, bytes.data(), &size)) return {};
    bytes.resize(size);
    return bytes;
  }

 private:
  HCRYPTMSG message_ = nullptr;
};

// Whether the message is what the stub's signer makes: one signer, SHA-256, and a messageDigest
// among its signed attributes that is the SHA-256 of `content`. Wine's CryptVerifyMessageSignature
// checks the signature over the signed attributes but not that their messageDigest is the content's
// (measured: a manifest whose text was changed after signing verified), so the stub compares it.
bool contentMatchesSignedDigest(const std::vector<std::uint8_t>& message, const std::string& content) {
  const DecodedMessage decoded(message);
  const std::vector<BYTE> count = decoded.param(CMSG_SIGNER_COUNT_PARAM);
  if (count.size() != sizeof(DWORD) || *reinterpret_cast<const DWORD*>(count.data()) != 1) return false;
  // The signer's whole SignerInfo: Wine answers no CMSG_SIGNER_HASH_ALGORITHM_PARAM (measured).
  const std::vector<BYTE> info = decoded.param(CMSG_SIGNER_INFO_PARAM);
  if (info.size() < sizeof(CMSG_SIGNER_INFO)) return false;
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data());
  if (signer->HashAlgorithm.pszObjId == nullptr || std::string(signer->HashAlgorithm.pszObjId) != szOID_NIST_sha256) {
    return false;
  }
  const CRYPT_ATTRIBUTES* list = &signer->AuthAttrs;
  sysenv::Sha256 hash;
  if (!hash.ok()) return false;
  hash.update(content.data(), content.size());
  const std::optional<Sha256Digest> digest = hash.finish();
  if (!digest) return false;
  int found = 0;
  bool matches = false;
  for (DWORD i = 0; i < list->cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = list->rgAttr[i];
    if (attribute.pszObjId == nullptr || std::string(attribute.pszObjId) != szOID_PKCS_9_MESSAGE_DIGEST) continue;
    ++found;
    // One value: the DER OCTET STRING of the 32 digest bytes.
    if (attribute.cValue != 1) return false;
    const CRYPT_ATTR_BLOB& value = attribute.rgValue[0];
    matches = value.cbData == 2 + digest->size() && value.pbData[0] == 0x04 && value.pbData[1] == digest->size() &&
              std::equal(digest->begin(), digest->end(), value.pbData + 2);
  }
  return found == 1 && matches;
}

// The signer's certificate that crypt32 hands out, freed with its owner.
class SignerCertificate {
 public:
  SignerCertificate() = default;
  ~SignerCertificate() {
    if (cert_ != nullptr) functions().freeCertificate(cert_);
  }
  SignerCertificate(const SignerCertificate&) = delete;
  SignerCertificate& operator=(const SignerCertificate&) = delete;
  PCCERT_CONTEXT* put() { return &cert_; }
  PCCERT_CONTEXT get() const { return cert_; }

 private:
  PCCERT_CONTEXT cert_ = nullptr;
};

}  // namespace

ManifestSignature verifyManifestSignature(const std::vector<std::uint8_t>& message) {
  ManifestSignature signature;
  const MessageFunctions& f = functions();
  if (!f.complete()) {
    signature.result = hresultFromWin32(ERROR_PROC_NOT_FOUND);
    return signature;
  }
  if (message.empty() || message.size() > 0x7FFFFFFF) {
    signature.result = hresultFromWin32(ERROR_INVALID_DATA);
    return signature;
  }
  CRYPT_VERIFY_MESSAGE_PARA parameters = {};
  parameters.cbSize = sizeof parameters;
  parameters.dwMsgAndCertEncodingType = PKCS_7_ASN_ENCODING | X509_ASN_ENCODING;
  // No callback: the signer's certificate is looked up among those the message carries.
  const auto* blob = message.data();
  const auto length = static_cast<DWORD>(message.size());
  DWORD decodedSize = 0;
  if (!f.verify(&parameters, 0, blob, length, nullptr, &decodedSize, nullptr)) {
    signature.result = hresultFromWin32(GetLastError());
    return signature;
  }
  std::vector<BYTE> decoded(decodedSize);
  SignerCertificate signer;
  if (!f.verify(&parameters, 0, blob, length, decoded.data(), &decodedSize, signer.put())) {
    signature.result = hresultFromWin32(GetLastError());
    return signature;
  }
  const std::string content(decoded.begin(), decoded.begin() + decodedSize);
  if (!contentMatchesSignedDigest(message, content)) {
    signature.result = kManifestContentNotSigned;
    return signature;
  }
  signature.content = content;
  signature.signerKey = certificateKeyDigest(signer.get());
  return signature;
}

}  // namespace downloadmanagercore
