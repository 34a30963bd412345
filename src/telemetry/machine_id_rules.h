// The rules of the machine id and of the adapters it may come from: which adapters count, how an
// address becomes an id, what stored text is accepted, and the order in which the sources are
// tried. No system calls: the Win32 part feeds the rules what WMI, SetupAPI, DPAPI and the file say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace telemetry {

// Every machine id has this many UTF-16 characters: a two-character prefix and a GUID-shaped body.
constexpr std::size_t kMachineIdLength = 38;
// The GUID-shaped body: 8-4-4-4-12 letters or digits.
constexpr std::size_t kGuidPatternLength = 36;

// Rewrites `source` into the 8-4-4-4-12 pattern from its ASCII letters and digits, taken in order
// and from the start again as often as needed; anything else (the ":" of an address) is skipped.
// "00:1A:2B:3C:4D:5E" becomes "001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C". A source without any letter
// or digit cannot fill the pattern: it is left as it is and the answer is false.
bool formatAsGuidPattern(std::u16string& source);

// Whether an adapter is left out of the id because its device-interface path names a software
// (root-enumerated), USB or Bluetooth device: "root", "usb" or "bth" first found, in any letter case,
// at an index below 8. Further into the path the same words exclude nothing.
bool isExcludedAdapterPath(const std::u16string& devicePath);
// Whether an adapter is left out because its description starts as Microsoft's own virtual adapters
// do: "microsoft" first found, in any letter case, at an index below 8.
bool isExcludedAdapterDescription(const std::u16string& description);

// A permanent hardware address as the id takes it: "%02X:%02X:%02X:%02X:%02X:%02X", bytes in order.
std::u16string formatMacAddress(const std::uint8_t (&bytes)[6]);
// The smallest of the addresses by ordinal comparison of their UTF-16 units; empty for none.
std::u16string smallestAddress(const std::vector<std::u16string>& addresses);

// Whether (model, manufacturer) of the first Win32_ComputerSystem object names a virtual machine:
// one of three exact, case-sensitive pairs (VirtualBox, VMware, Hyper-V).
bool isVirtualMachineModel(const std::u16string& model, const std::u16string& manufacturer);

// The stored form of an id: its UTF-16LE code units, no terminator and no byte-order mark.
std::string machineIdBytes(const std::u16string& id);
// The text behind unprotected file content: the bytes as UTF-16LE units, an odd last byte dropped.
std::u16string machineIdFromBytes(const std::string& bytes);
// Whether text read back from the file is taken as the id: it has the shape of an id this program
// stores, "P-" or "V-" before the 8-4-4-4-12 pattern of ASCII letters and digits. Anything else
// (the "X-" placeholder included) is not put into a report.
bool isAcceptedStoredId(const std::u16string& text);

// Who owns an existing machine-id folder, as far as the rule below cares.
enum class IdFolderOwner {
  Administrators,
  System,
  AllUsersFolderOwner,  // the owner of the all-users folder itself (SYSTEM on Windows; Wine reports
                        // every file as the user's, the folders it made itself included)
  Other,                // anyone else: a user who made the folder before any elevated run did
};
// Whether an existing machine-id folder may be used: no junction or link, and owned by an account
// that an unelevated user is not. Otherwise its content is not read and nothing is stored in it.
bool isUsableIdFolder(bool isReparsePoint, IdFolderOwner owner);

// "V-" before a random GUID (36 characters, no braces), on a virtual machine.
std::u16string virtualMachineId(const std::u16string& guid);
// "P-" before the address's digits spread over the GUID pattern; empty when the address has none.
std::u16string physicalMachineId(const std::u16string& address);

// Where an id may come from. Each source is a system call in the Win32 part; the order in which
// they are tried and what each result means is the rule below.
struct MachineIdSources {
  // Whether WMI answered, and whether it named a virtual machine.
  std::function<bool(bool& isVirtual)> queryVirtualMachine;
  // The text stored in the machine-id file, or nothing when it cannot be read or unprotected.
  std::function<std::optional<std::u16string>()> readStoredId;
  // Stores an id, protected; false when it could not be stored whole.
  std::function<bool(const std::u16string& id)> storeId;
  // Whether the machine-id folder exists but may not be used (isUsableIdFolder); then the stored id
  // is not read and none is stored. Unset: the folder is usable.
  std::function<bool()> folderRefused;
  // A fresh uppercase GUID without braces, or nothing.
  std::function<std::optional<std::u16string>()> newGuid;
  // The permanent addresses of the qualifying adapters, in any order.
  std::function<std::vector<std::u16string>()> collectAddresses;
};

// The id of this machine, or nothing. A stored id of the right shape always wins. Otherwise a
// virtual machine makes a random "V-" id and uses it only if it could be stored; any other machine
// (WMI failing included) derives a "P-" id from its smallest adapter address and uses it whether or
// not it could be stored, since the next run derives the same one. When the folder is refused,
// nothing is read or stored: a physical machine derives its id for this run, and a virtual one has
// none, since its random id could not be kept.
std::optional<std::u16string> resolveMachineIdFrom(const MachineIdSources& sources);

}  // namespace telemetry
