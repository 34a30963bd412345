#include "app/quiet_exit_code.h"

#include "app/install_properties.h"

namespace app {

int quietExitCode(std::int32_t status, std::optional<std::uint32_t> installerExitCode) {
  switch (status) {
    case kStatusCompleted:
      return installerExitCode == static_cast<std::uint32_t>(kQuietExitRebootRequired) ? kQuietExitRebootRequired
                                                                                      : kQuietExitCompleted;
    case kStatusNotStarted:
    case kStatusCanceled:
      return kQuietExitCanceled;
    case kStatusEnvironmentNotSupported:
      return kQuietExitNotSupported;
    default:
      return kQuietExitFailed;
  }
}

}  // namespace app
