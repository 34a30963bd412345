// Win32 code.
#include "downloadmanagercore/manifest_signature_win.h"

#include <windows.h>

#include <wincrypt.h>

#include "downloadmanagercore/certificate_key_win.h"
#include "downloadmanagercore/download_rules.h"
#include "sysenv/system_dll_win.h"

namespace downloadmanagercore {

namespace {

// crypt32.dll is not a Known DLL.
struct MessageFunctions {
  decltype(&CryptVerifyMessageSignature) verify;
  decltype(&CertFreeCertificateContext) freeCertificate;
};

const MessageFunctions& functions() {
  static const MessageFunctions f = {
      sysenv::systemFunction<decltype(&CryptVerifyMessageSignature)>(L"crypt32.dll", "CryptVerifyMessageSignature"),
      sysenv::systemFunction<decltype(&CertFreeCertificateContext)>(L"crypt32.dll", "CertFreeCertificateContext"),
  };
  return f;
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
  if (f.verify == nullptr || f.freeCertificate == nullptr) {
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
  signature.content.assign(decoded.begin(), decoded.begin() + decodedSize);
  signature.signerKey = certificateKeyDigest(signer.get());
  return signature;
}

}  // namespace downloadmanagercore
