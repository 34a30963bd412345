#include "app/quiet_exit_code.h"

#include <gtest/gtest.h>

#include "app/install_properties.h"

namespace {

TEST(QuietExitCode, FollowsTheFinalStatusAndTheInstallersRestartRequest) {
  const struct {
    std::int32_t status;
    std::optional<std::uint32_t> installerExitCode;
    int exitCode;
  } cases[] = {
      {app::kStatusCompleted, 0u, 0},
      {app::kStatusCompleted, 3010u, 3010},
      {app::kStatusCompleted, std::nullopt, 0},  // completed without running an installer
      {app::kStatusCompleted, 1641u, 0},         // only 3010 is passed on
      {app::kStatusErrorOccurred, 1603u, 1603},
      {app::kStatusErrorOccurred, 3010u, 1603},  // the page decides: a restart request alone is no success
      {app::kStatusErrorOccurred, std::nullopt, 1603},
      {app::kStatusCanceled, 1602u, 1602},
      {app::kStatusCanceled, 1618u, 1602},       // blocked by another installation: the page cancels
      {app::kStatusNotStarted, std::nullopt, 1602},
      {app::kStatusEnvironmentNotSupported, std::nullopt, 1633},
      {5, std::nullopt, 1603},
      {-1, 0u, 1603},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app::quietExitCode(c.status, c.installerExitCode), c.exitCode)
        << "status " << c.status << ", installer " << (c.installerExitCode ? int(*c.installerExitCode) : -1);
  }
}

}  // namespace
