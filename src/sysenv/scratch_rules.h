// Where the run's scratch folders go and what they look like. No system calls: the Win32 part
// (scratch_folder_win.cpp) feeds these rules what the system says.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sysenv {

// The places a scratch folder may be made in.
enum class ScratchRoot {
  UserTemp,     // the user's temporary folder, which any program of the user can change
  SystemTemp,   // %windir%\SystemTemp: only SYSTEM and administrators may change it (newer Windows)
  WindowsTemp,  // %windir%\Temp: users may add to it, but not change what an administrator made
};

// The roots to try, in order. An elevated process works only where a program of the same user,
// running without elevation, cannot swap, link or rename what it made; a process without elevation
// could not create the protected folders there anyway.
std::vector<ScratchRoot> scratchRootsFor(bool elevated);

// Whether a root's attributes (INVALID_FILE_ATTRIBUTES for a missing one) make it usable: an existing
// folder that is no junction or link.
bool isUsableScratchRoot(std::uint32_t attributes);

// The name of an elevated scratch folder: an uppercase GUID without braces, so that nobody can make
// it before us.
bool isScratchFolderName(const std::u16string& name);

// Security descriptors (SDDL) of the folders the elevated run makes. Protected ("P": nothing
// inherited from the parent) and owned by the Administrators group.
// A scratch folder: SYSTEM and Administrators full control, inherited by everything made inside.
extern const char16_t kScratchFolderSddl[];
// The machine-id folder: the same, and Users may read it (the id is the machine's, not a secret).
extern const char16_t kMachineIdFolderSddl[];

}  // namespace sysenv
