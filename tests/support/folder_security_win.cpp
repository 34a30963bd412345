// Win32 code.
#include "support/folder_security_win.h"

#include <aclapi.h>
#include <sddl.h>

#include "support/wine_test_support_win.h"

namespace testsupport {

namespace {

Principal principalOf(PSID sid) {
  if (sid == nullptr) return Principal::Other;
  if (IsWellKnownSid(sid, WinLocalSystemSid)) return Principal::System;
  if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return Principal::Administrators;
  if (IsWellKnownSid(sid, WinBuiltinUsersSid)) return Principal::Users;
  return Principal::Other;
}

}  // namespace

StoredSecurity readStoredSecurity(const std::wstring& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return {};
  }
  StoredSecurity result = describeSecurity(descriptor, owner, dacl);
  LocalFree(descriptor);
  return result;
}

StoredSecurity describeSddl(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) return {};
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  StoredSecurity result = describeSecurity(descriptor, owner, present ? dacl : nullptr);
  LocalFree(descriptor);
  return result;
}

bool aclsAreStored() {
  static const bool stored = [] {
    ScratchFolder scratch;
    const std::wstring folder = scratch.file(L"probe");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
      return false;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    const bool made = CreateDirectoryW(folder.c_str(), &attributes) != FALSE;
    LocalFree(descriptor);
    return made && readStoredSecurity(folder).daclProtected;
  }();
  return stored;
}

StoredSecurity describeSecurity(PSECURITY_DESCRIPTOR descriptor, PSID owner, PACL dacl) {
  StoredSecurity result;
  result.read = true;
  result.owner = principalOf(owner);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    result.daclProtected = (control & SE_DACL_PROTECTED) != 0;
  }
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      result.onlyAllowedAces = false;
      continue;
    }
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    result.aces.push_back({principalOf(const_cast<DWORD*>(&allowed->SidStart)), allowed->Mask, header->AceFlags});
  }
  return result;
}

}  // namespace testsupport
