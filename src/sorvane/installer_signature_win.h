// Win32 code. Whether an installer is the release's own before it runs with the stub's rights: its
// Authenticode signature (WinVerifyTrust, without any network fetch), the name of its leaf signer
// and the keys of the signer's chain. The file is held open, with only read sharing, from the check until the process has been
// created, so that nothing can replace or change it in between.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "downloadmanagercore/package_trust.h"

#include "sysenv/unique_handle_win.h"

namespace sorvane {

struct InstallerSignature {
  // ERROR_SUCCESS (0) when the signature verifies; otherwise WinVerifyTrust's own result (for example
  // TRUST_E_NOSIGNATURE or TRUST_E_BAD_DIGEST), or the HRESULT of the error that kept the file or
  // the trust check from being opened.
  std::uint32_t trustResult = 0;
  // The leaf signer's subject name (its simple display name, the common name where there is one);
  // empty when none could be read.
  std::u16string signer;
  // The SHA-256 of each DER SubjectPublicKeyInfo of the signer's chain as the verification built
  // it, leaf first (under Wine the leaf alone where no root is known); empty when none was read.
  std::vector<downloadmanagercore::Sha256Digest> chainKeys;
};

class HeldInstaller {
 public:
  // Opens `path` for reading while allowing others only to read it (which CreateProcessW does).
  explicit HeldInstaller(const std::wstring& path);
  bool open() const { return file_.valid(); }
  // The error of an open that failed, as an HRESULT.
  std::uint32_t openError() const { return openError_; }
  // Checks the held file.
  InstallerSignature verify() const;

 private:
  std::wstring path_;
  sysenv::UniqueFileHandle file_;
  std::uint32_t openError_ = 0;
};

}  // namespace sorvane
