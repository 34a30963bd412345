// The rules that turn what the system reports about itself into the texts that the page, the
// install properties and the reports use. No system calls: the Win32 queries feed them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sysenv {

// The system's own values of the fields the rules read (VER_NT_WORKSTATION,
// PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_IA64, SECURITY_MANDATORY_HIGH_RID).
constexpr std::uint8_t kWorkstationProductType = 1;
constexpr std::uint16_t kProcessorArchitectureAmd64 = 9;
constexpr std::uint16_t kProcessorArchitectureIa64 = 6;
constexpr std::uint32_t kHighIntegrityLevel = 0x3000;

// "Windows XP", "Windows Vista", "Windows 7", "Windows 8", "Windows 10" or "Other". Server editions
// are always "Other"; 5.2 is "Windows XP" only as a workstation on AMD64 (64-bit XP); 6.3 (8.1) is
// "Windows 8"; 6.4 (early 10 builds) is "Windows 10".
std::u16string osNameFor(std::uint32_t major, std::uint32_t minor, std::uint8_t productType,
                         std::uint16_t nativeArchitecture);

// "major.minor" in decimal, such as "6.1" or "10.0".
std::u16string osVersionText(std::uint32_t major, std::uint32_t minor);

// "x64" for a 64-bit x86 or Itanium machine, otherwise "x86" (ARM64 included).
std::u16string architectureFor(std::uint16_t nativeArchitecture);

// Whether the process counts as having administrator rights. Before Vista (major below 6, and only
// when the version was read) membership of the Administrators group is enough; otherwise the
// token's integrity level must be high or system, so a filtered administrator token is not. The
// two questions are asked only when needed, in that order: `integrityLevel` answers 0 where the
// token has no level (before Vista) or cannot be read.
bool hasAdministratorRights(bool versionKnown, std::uint32_t major, const std::function<bool()>& userIsAdmin,
                            const std::function<std::uint32_t()>& integrityLevel);

}  // namespace sysenv
