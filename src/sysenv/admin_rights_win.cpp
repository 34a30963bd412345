// Win32 code. Whether the user is an administrator, and whether this process has the rights of one.
#include <windows.h>

#include "sysenv/environment_win.h"
#include "sysenv/os_rules.h"
#include "sysenv/os_version_win.h"
#include "sysenv/scope_exit.h"
#include "sysenv/unique_handle_win.h"

namespace sysenv {

static_assert(kHighIntegrityLevel == SECURITY_MANDATORY_HIGH_RID, "integrity level of the rules");

bool isUserAdmin() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                  0, 0, 0, &administrators)) {
    return false;
  }
  ScopeExit freeSid([&] { ::FreeSid(administrators); });
  BOOL member = FALSE;
  if (!::CheckTokenMembership(nullptr, administrators, &member)) return false;  // no token: our own
  return member != FALSE;
}

namespace {

// The process token's mandatory integrity level; 0 where the token has none (before Vista) or
// cannot be opened or read.
DWORD processIntegrityLevel() {
  UniqueKernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return 0;
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
  if (size == 0) return 0;
  UniqueLocalMemory buffer(::LocalAlloc(LPTR, size));
  if (!buffer) return 0;
  if (!::GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.get(), size, &size)) return 0;
  const auto* label = static_cast<const TOKEN_MANDATORY_LABEL*>(buffer.get());
  return *::GetSidSubAuthority(label->Label.Sid, 0);  // an integrity SID's one sub-authority
}

}  // namespace

bool isProcessElevated() {
  OSVERSIONINFOEXW version;
  const bool versionKnown = readOsVersion(version);
  return hasAdministratorRights(versionKnown, version.dwMajorVersion, isUserAdmin,
                                [] { return static_cast<std::uint32_t>(processIntegrityLevel()); });
}

}  // namespace sysenv
