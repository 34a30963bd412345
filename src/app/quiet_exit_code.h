// The exit code of a quiet run (/quiet): what happened, in the Windows Installer's own codes, so
// that deployment tools read it as they read msiexec's. Without /quiet the program exits with 0.
#pragma once

#include <cstdint>
#include <optional>

namespace app {

constexpr int kQuietExitCompleted = 0;          // ERROR_SUCCESS
constexpr int kQuietExitRebootRequired = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED: completed, restart pending
constexpr int kQuietExitCanceled = 1602;        // ERROR_INSTALL_USEREXIT
constexpr int kQuietExitFailed = 1603;          // ERROR_INSTALL_FAILURE
constexpr int kQuietExitAlreadyRunning = 1618;  // ERROR_INSTALL_ALREADY_RUNNING: another stub runs
constexpr int kQuietExitNotSupported = 1633;    // ERROR_INSTALL_PLATFORM_UNSUPPORTED

// From the run's final status (InstallProperties::status) and the product installer's own exit code
// when it ran: completed is 0, or 3010 when the installer asked for a restart; canceled (also a run
// that never started, which the report calls "canceled") is 1602; "environment not supported" is
// 1633; "error occurred" and anything else is 1603.
int quietExitCode(std::int32_t status, std::optional<std::uint32_t> installerExitCode);

}  // namespace app
