#include "sysenv/os_rules.h"

namespace sysenv {

std::u16string osNameFor(std::uint32_t major, std::uint32_t minor, std::uint8_t productType,
                         std::uint16_t nativeArchitecture) {
  const bool workstation = productType == kWorkstationProductType;
  // Rows in order; the first that matches decides.
  if (major == 5 && minor == 1) return u"Windows XP";
  if (major == 5 && minor == 2) {
    return (workstation && nativeArchitecture == kProcessorArchitectureAmd64) ? u"Windows XP" : u"Other";
  }
  if (!workstation) return u"Other";
  if (major == 6) {
    switch (minor) {
      case 0: return u"Windows Vista";
      case 1: return u"Windows 7";
      case 2:
      case 3: return u"Windows 8";
      case 4: return u"Windows 10";
      default: return u"Other";
    }
  }
  if (major == 10) return u"Windows 10";
  return u"Other";
}

namespace {

std::u16string decimal(std::uint32_t value) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

}  // namespace

std::u16string osVersionText(std::uint32_t major, std::uint32_t minor) {
  return decimal(major) + u"." + decimal(minor);
}

std::u16string architectureFor(std::uint16_t nativeArchitecture) {
  return (nativeArchitecture == kProcessorArchitectureAmd64 || nativeArchitecture == kProcessorArchitectureIa64)
             ? u"x64"
             : u"x86";
}

bool hasAdministratorRights(bool versionKnown, std::uint32_t major, const std::function<bool()>& userIsAdmin,
                            const std::function<std::uint32_t()>& integrityLevel) {
  if (versionKnown && major < 6 && userIsAdmin()) return true;
  return integrityLevel() >= kHighIntegrityLevel;
}

}  // namespace sysenv
