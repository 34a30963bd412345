#include "sorvane/installer_rules.h"

namespace sorvane {

const char16_t* productCodeFor(const std::u16string& architecture) {
  return architecture == u"x64" ? kProductCode64 : kProductCode32;
}

std::u16string installerCommandLine(const std::u16string& installerPath, const std::u16string& arguments,
                                    const std::u16string& logPath) {
  return u"\"" + installerPath + u"\" " + arguments + u" /L*v \"" + logPath + u"\"";
}

std::int32_t installResultFromExitCode(std::uint32_t exitCode) {
  switch (exitCode) {
    case 0:     // ERROR_SUCCESS
    case 3010:  // ERROR_SUCCESS_REBOOT_REQUIRED
      return 0;
    case 1602:  // ERROR_INSTALL_USEREXIT
      return 2;
    case 1603:  // ERROR_INSTALL_FAILURE
      return 3;
    case 1618:  // ERROR_INSTALL_ALREADY_RUNNING
      return 4;
    default:
      return 1;
  }
}

}  // namespace sorvane
