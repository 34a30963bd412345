#include "sorvane/installer_rules.h"

#include <algorithm>

namespace sorvane {

const char16_t* productCodeFor(const std::u16string& architecture) {
  return architecture == u"x64" ? kProductCode64 : kProductCode32;
}

std::u16string installerCommandLine(const std::u16string& installerPath, const std::u16string& arguments,
                                    const std::u16string& logPath) {
  return u"\"" + installerPath + u"\" " + arguments + u" /L*v \"" + logPath + u"\"";
}

namespace {

bool namesVariable(std::u16string_view entry, std::u16string_view name) {
  if (entry.size() <= name.size() || entry[name.size()] != u'=') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t c = entry[i] >= u'a' && entry[i] <= u'z' ? static_cast<char16_t>(entry[i] - 32) : entry[i];
    if (c != name[i]) return false;
  }
  return true;
}

}  // namespace

std::u16string installerEnvironment(std::u16string_view block, const std::u16string& temporaryFolder) {
  std::u16string out;
  bool tempSet = false, tmpSet = false;
  std::size_t start = 0;
  while (start < block.size() && block[start] != u'\0') {
    const std::size_t end = std::min(block.find(u'\0', start), block.size());
    const std::u16string_view entry = block.substr(start, end - start);
    if (namesVariable(entry, u"TEMP")) {
      if (!tempSet) out += u"TEMP=" + temporaryFolder + u'\0';
      tempSet = true;
    } else if (namesVariable(entry, u"TMP")) {
      if (!tmpSet) out += u"TMP=" + temporaryFolder + u'\0';
      tmpSet = true;
    } else {
      out.append(entry);
      out += u'\0';
    }
    start = end + 1;
  }
  if (!tempSet) out += u"TEMP=" + temporaryFolder + u'\0';
  if (!tmpSet) out += u"TMP=" + temporaryFolder + u'\0';
  out += u'\0';
  return out;
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
