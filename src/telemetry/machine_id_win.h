// Win32 code. Who is reporting: the machine id that stays the same across runs and accounts, and the
// request token of one run.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "sysenv/unique_handle_win.h"
#include "telemetry/machine_id_rules.h"

namespace telemetry {

// 38 characters: "P-" (from a physical adapter's permanent address), "V-" (random, on a virtual
// machine) or the "X-" placeholder, with a GUID-shaped body. Resolved once per process and cached;
// stored protected under the all-users application data. Never fails. Safe from any thread: once
// cached, a call (the crash handler's) only copies the cached text.
std::wstring getMachineId();

// A fresh uppercase GUID without braces for each call, or the all-"X" placeholder.
std::wstring newRequestToken();
// Whether this process found the machine-id folder unusable (a link, or made by someone other than
// an administrator or the system), so that its id was neither read from it nor stored there.
bool machineIdFolderWasRefused();

// The steps behind getMachineId, each on its own for the tests. All of them fail silently.
namespace detail {

// The cached id, or the id resolved now and cached; false (nothing cached) when there is none. The
// caller has COM initialised on the thread, for WMI.
bool resolveMachineId(std::wstring& id);
// Empties the process-wide cache, so that a test can resolve again. Never called by the program.
void forgetCachedMachineId();

// The model and manufacturer of the first Win32_ComputerSystem object (empty when there is none or
// the value is not a string); false when WMI could not be asked.
bool queryComputerSystem(std::wstring& model, std::wstring& manufacturer);
// Whether WMI could be asked; if so, `isVirtual` says whether the answer is one of the known
// virtual machines.
bool isVirtualMachine(bool& isVirtual);

// The permanent addresses ("00:1A:2B:3C:4D:5E") of the present network adapters that are not
// software, USB, Bluetooth or Microsoft's own; false when there is none.
bool collectMacAddresses(std::vector<std::wstring>& addresses);

// C:\ProgramData\UniqueId\data or wherever the all-users application data lies; creates the folder
// with a protected DACL (SYSTEM and Administrators full control, Users read). Fails when an
// existing folder may not be used (machineIdFolderRefused).
bool machineIdFilePath(std::wstring& path);
// Whether the machine-id folder exists and may not be used: a junction or link, no folder, or owned
// by neither Administrators nor SYSTEM (nor the owner of the all-users folder itself).
bool machineIdFolderRefused();
// Opens `path` exclusively, retrying for up to 3 s while another process has it open.
sysenv::UniqueFileHandle openWithSharingRetry(const std::wstring& path, DWORD access, DWORD disposition);
// The text stored in the machine-id file (of any length); false when it is missing, empty, held
// open for too long or cannot be unprotected.
bool readMachineIdFile(std::wstring& id);
// Stores the id, protected for this machine; a partly written file is deleted.
bool writeMachineIdFile(const std::wstring& id);

// A fresh uppercase GUID of 36 characters, without braces.
bool newGuidString(std::wstring& guid);

// The sources above, as the id rules take them.
MachineIdSources systemMachineIdSources();

}  // namespace detail
}  // namespace telemetry
