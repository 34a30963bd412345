#include "sysenv/command_line.h"

namespace sysenv {

std::u16string passthroughFromCommandLine(const std::u16string& commandLine) {
  static const std::u16string kOpening = u"passthro=\"";
  const std::size_t opening = commandLine.find(kOpening);
  if (opening == std::u16string::npos) return {};
  const std::size_t start = opening + kOpening.size();
  const std::size_t closing = commandLine.find(u'"', start);
  if (closing == std::u16string::npos) return {};
  return commandLine.substr(start, closing - start);
}

}  // namespace sysenv
