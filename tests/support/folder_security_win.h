// Win32 code. A file or folder's owner and DACL as the system stores them. Wine stores ACLs and reads
// them back but does not enforce them, so tests check what was set.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// A SID as one of the well-known ones that matter here: SYSTEM, Administrators, Users; anything else
// is "other".
enum class Principal { System, Administrators, Users, Other };

struct AllowedAce {
  Principal who;
  ACCESS_MASK mask;
  BYTE flags;  // OBJECT_INHERIT_ACE, CONTAINER_INHERIT_ACE, INHERITED_ACE...
  bool operator==(const AllowedAce& other) const {
    return who == other.who && mask == other.mask && flags == other.flags;
  }
};

struct StoredSecurity {
  bool read = false;           // GetNamedSecurityInfoW answered
  Principal owner = Principal::Other;
  bool daclProtected = false;  // SE_DACL_PROTECTED: nothing inherited from the parent
  bool onlyAllowedAces = true; // no deny or other kinds of entries
  std::vector<AllowedAce> aces;
};

// What the system stores for a path.
StoredSecurity readStoredSecurity(const std::wstring& path);
// What a descriptor says, as if read back.
StoredSecurity describeSecurity(PSECURITY_DESCRIPTOR descriptor, PSID owner, PACL dacl);
// What a descriptor in SDDL says, parsed by the system.
StoredSecurity describeSddl(const wchar_t* sddl);
// Whether this system stores a folder's ACL as given: Wine (without the staging patches) derives
// every file's owner and DACL from its Unix permissions instead, whatever was set.
bool aclsAreStored();

}  // namespace testsupport
