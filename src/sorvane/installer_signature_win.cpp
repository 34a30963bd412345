// Win32 code.
#include "sorvane/installer_signature_win.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <optional>
#include <vector>

#include "downloadmanagercore/certificate_key_win.h"
#include "downloadmanagercore/download_rules.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/system_dll_win.h"

namespace sorvane {

namespace {

// wintrust.dll and crypt32.dll are not Known DLLs.
struct TrustFunctions {
  decltype(&WinVerifyTrust) verifyTrust;
  decltype(&WTHelperProvDataFromStateData) providerData;
  decltype(&WTHelperGetProvSignerFromChain) signerFromChain;
  decltype(&WTHelperGetProvCertFromChain) certFromChain;
  decltype(&CertGetNameStringW) nameString;
};

const TrustFunctions& trust() {
  static const TrustFunctions functions = [] {
    // Wine's WinVerifyTrust reads a program's certificate through imagehlp, which imports dbghelp;
    // the loader resolves those imports through the default search, which under Wine still includes
    // the program's own folder (measured: a dbghelp.dll planted there was loaded). Taken from
    // System32 first, they are already loaded when the check needs them.
    sysenv::loadSystemLibrary(L"dbghelp.dll");
    sysenv::loadSystemLibrary(L"imagehlp.dll");
    return TrustFunctions{
        sysenv::systemFunction<decltype(&WinVerifyTrust)>(L"wintrust.dll", "WinVerifyTrust"),
        sysenv::systemFunction<decltype(&WTHelperProvDataFromStateData)>(L"wintrust.dll",
                                                                          "WTHelperProvDataFromStateData"),
        sysenv::systemFunction<decltype(&WTHelperGetProvSignerFromChain)>(L"wintrust.dll",
                                                                           "WTHelperGetProvSignerFromChain"),
        sysenv::systemFunction<decltype(&WTHelperGetProvCertFromChain)>(L"wintrust.dll",
                                                                         "WTHelperGetProvCertFromChain"),
        sysenv::systemFunction<decltype(&CertGetNameStringW)>(L"crypt32.dll", "CertGetNameStringW"),
    };
  }();
  return functions;
}

// The first signer of a finished verification's state, or null.
CRYPT_PROVIDER_SGNR* firstSigner(const TrustFunctions& f, HANDLE state) {
  if (state == nullptr || !f.providerData || !f.signerFromChain || !f.certFromChain) return nullptr;
  CRYPT_PROVIDER_DATA* provider = f.providerData(state);
  if (provider == nullptr) return nullptr;
  return f.signerFromChain(provider, 0, FALSE, 0);
}

// The key digests of the signer's chain, leaf first.
std::vector<downloadmanagercore::Sha256Digest> chainKeys(const TrustFunctions& f, CRYPT_PROVIDER_SGNR* signer) {
  std::vector<downloadmanagercore::Sha256Digest> keys;
  if (signer == nullptr) return keys;
  for (DWORD i = 0; i < signer->csCertChain; ++i) {
    CRYPT_PROVIDER_CERT* cert = f.certFromChain(signer, i);
    if (cert == nullptr) break;
    if (const auto digest = downloadmanagercore::certificateKeyDigest(cert->pCert)) keys.push_back(*digest);
  }
  return keys;
}

// The leaf signer's name, or empty.
std::u16string leafSignerName(const TrustFunctions& f, CRYPT_PROVIDER_SGNR* signer) {
  if (signer == nullptr || !f.nameString) return {};
  CRYPT_PROVIDER_CERT* leaf = f.certFromChain(signer, 0);
  if (leaf == nullptr || leaf->pCert == nullptr) return {};
  const DWORD length = f.nameString(leaf->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (length <= 1) return {};
  std::vector<wchar_t> name(length);
  f.nameString(leaf->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), length);
  return std::u16string(name.begin(), name.begin() + (length - 1));
}

}  // namespace

HeldInstaller::HeldInstaller(const std::wstring& path)
    : path_(path),
      // The installer itself, never a link planted in its place.
      file_(sysenv::openScratchFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)) {
  if (!file_) openError_ = downloadmanagercore::hresultFromWin32(GetLastError());
}

InstallerSignature HeldInstaller::verify() const {
  InstallerSignature result;
  if (!file_) {
    result.trustResult = openError_;
    return result;
  }
  const TrustFunctions& f = trust();
  if (!f.verifyTrust) {
    result.trustResult = downloadmanagercore::hresultFromWin32(ERROR_PROC_NOT_FOUND);
    return result;
  }
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = path_.c_str();
  fileInfo.hFile = file_.get();  // the held file itself is checked, not whatever the path names
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  // Elevated, before the product is installed: no revocation fetch, nothing from the network.
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
  result.trustResult = static_cast<std::uint32_t>(f.verifyTrust(noWindow, &action, &data));
  CRYPT_PROVIDER_SGNR* signer = firstSigner(f, data.hWVTStateData);
  result.signer = leafSignerName(f, signer);
  result.chainKeys = chainKeys(f, signer);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  f.verifyTrust(noWindow, &action, &data);
  return result;
}

}  // namespace sorvane
