// Win32 code. The operating system's name and version, the machine's architecture, the user's
// country and high-contrast setting.
#include "sysenv/environment_win.h"

#include <windows.h>

#include "sysenv/os_rules.h"
#include "sysenv/os_version_win.h"
#include "sysenv/wide_text_win.h"

namespace sysenv {

static_assert(kWorkstationProductType == VER_NT_WORKSTATION, "product type of the rules");
static_assert(kProcessorArchitectureAmd64 == PROCESSOR_ARCHITECTURE_AMD64, "architecture of the rules");
static_assert(kProcessorArchitectureIa64 == PROCESSOR_ARCHITECTURE_IA64, "architecture of the rules");

namespace {

// The machine's processor, not the one this process is emulated as (a 32-bit process on 64-bit
// Windows sees AMD64 here).
WORD nativeProcessorArchitecture() {
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture;
}

}  // namespace

std::wstring queryOsName() {
  OSVERSIONINFOEXW version;
  if (!readOsVersion(version)) return L"Other";
  // Only 5.2 needs the processor; asking for it otherwise would change nothing.
  const WORD architecture =
      (version.dwMajorVersion == 5 && version.dwMinorVersion == 2) ? nativeProcessorArchitecture() : 0;
  return toWide(osNameFor(version.dwMajorVersion, version.dwMinorVersion, version.wProductType, architecture));
}

std::wstring queryOsVersion() {
  OSVERSIONINFOEXW version;
  readOsVersion(version);  // a failure leaves 0.0, which is the fallback
  return toWide(osVersionText(version.dwMajorVersion, version.dwMinorVersion));
}

std::wstring queryArchitecture() { return toWide(architectureFor(nativeProcessorArchitecture())); }

std::wstring queryCountry() {
  wchar_t text[16] = {};  // "%d" of any 32-bit value fits
  ::wsprintfW(text, L"%d", static_cast<int>(::GetUserGeoID(GEOCLASS_NATION)));
  return text;
}

bool queryHighContrast() {
  HIGHCONTRASTW setting{};
  setting.cbSize = sizeof(setting);
  if (!::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(setting), &setting, 0)) return false;
  return (setting.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

}  // namespace sysenv
