#include "downloadmanagercore/command_rules.h"

namespace downloadmanagercore {

CallCheck checkCommandCall(const CommandSignature& signature, std::uint16_t flags, std::uint32_t argumentCount,
                           std::uint32_t namedCount, const std::uint16_t* types) {
  if (flags != signature.flags) return CallCheck::kMemberNotFound;
  if (argumentCount != signature.argumentCount || namedCount != 0) return CallCheck::kBadParamCount;
  // The engine passes the last script argument first.
  for (std::uint32_t i = 0; i < argumentCount; ++i) {
    if (types[i] != signature.argumentTypes[argumentCount - 1 - i]) return CallCheck::kTypeMismatch;
  }
  return CallCheck::kAccepted;
}

bool isInstallStatus(std::int32_t status) { return status >= 0 && status <= 4; }

std::u16string installerArguments(const std::u16string& passthrough, const std::u16string& parameters) {
  return passthrough + u" " + parameters;
}

std::int32_t progressPercent(std::uint32_t done, std::uint32_t total) {
  if (total == 0) return 0;
  if (done >= total) return 100;
  // done * 100 / total + 1/2, truncated: halves round up, as MulDiv rounds them for positive values.
  const std::uint64_t twice = 200ull * done + total;
  return static_cast<std::int32_t>(twice / (2ull * total));
}

}  // namespace downloadmanagercore
