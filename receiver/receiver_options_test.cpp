// The plain rules around the servers: the command line over the environment, listen addresses,
// the dashboard's times, the password file and Basic credentials.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "receiver/dashboard_auth.h"
#include "receiver/dashboard_server.h"
#include "receiver/receiver_options.h"
#include "receiver/receiver_process.h"

namespace {

bool parse(std::vector<const char*> args, const std::map<std::string, std::string>& environment,
           receiver::ReceiverOptions& options) {
  args.insert(args.begin(), "sorvane-receiver");
  std::string error;
  return receiver::parseReceiverOptions(static_cast<int>(args.size()), args.data(), environment, options, error);
}

TEST(ReceiverOptions, ArgumentsWinOverTheEnvironmentOverTheDefaults) {
  receiver::ReceiverOptions options;
  ASSERT_TRUE(parse({}, {}, options));
  EXPECT_EQ(options.reports.host, "127.0.0.1");
  EXPECT_EQ(options.reports.port, 80);
  EXPECT_EQ(options.dashboard.port, 8640);
  EXPECT_EQ(options.database, "sqlite:build/receiver/receiver.sqlite");
  EXPECT_EQ(options.passwordFile, "build/receiver/dashboard-password");

  ASSERT_TRUE(parse({"--listen", "[::1]:8080"}, {{"RECEIVER_LISTEN", "0.0.0.0:81"}, {"DASHBOARD_LISTEN", "127.0.0.1:9"},
                                                {"RECEIVER_DB", "sqlite:/srv/r/db.sqlite"}},
                    options));
  EXPECT_EQ(options.reports.host, "::1");
  EXPECT_EQ(options.reports.port, 8080);
  EXPECT_EQ(options.dashboard.port, 9);
  EXPECT_EQ(options.uploadFolder, "/srv/r/uploads");
  EXPECT_TRUE(parse({"--db", "postgresql://receiver@127.0.0.1:5432/reports", "--retain-days", "30"}, {}, options));
  EXPECT_EQ(options.retainDays, 30);
}

TEST(ReceiverOptions, RefusesWhatItCannotUse) {
  receiver::ReceiverOptions options;
  EXPECT_FALSE(parse({"--db", "mysql://x"}, {}, options));
  EXPECT_FALSE(parse({"--db", "sqlite:"}, {}, options));
  EXPECT_FALSE(parse({"--listen", "127.0.0.1"}, {}, options));
  EXPECT_FALSE(parse({"--listen", "127.0.0.1:65536"}, {}, options));
  EXPECT_FALSE(parse({"--listen", "::1:80"}, {}, options));
  EXPECT_FALSE(parse({"--retain-days", "-1"}, {}, options));
  EXPECT_FALSE(parse({"--retain-days"}, {}, options));
  EXPECT_FALSE(parse({"--verbose"}, {}, options));
}

TEST(DashboardTimes, DatesAndTimesAreUtc) {
  EXPECT_EQ(receiver::parseUtcTime("1970-01-01", false), 0);
  EXPECT_EQ(receiver::parseUtcTime("1970-01-01", true), 86400000);
  EXPECT_EQ(receiver::parseUtcTime("2026-12-09T18:20:00Z", false), 1796840400000);
  EXPECT_EQ(receiver::parseUtcTime("2024-03-01", false), 1709251200000);  // after a leap day
  for (const char* bad : {"", "2026-13-01", "2026-12-09T25:00:00Z", "2026-12-09 18:20:00", "1969-12-31", "yesterday"}) {
    EXPECT_FALSE(receiver::parseUtcTime(bad, false)) << bad;
  }
}

TEST(DashboardAuth, BasicCredentialsMustNameVendorAndThePassword) {
  EXPECT_EQ(receiver::decodeBase64("dmVuZG9yOnNlY3JldA=="), "vendor:secret");
  EXPECT_FALSE(receiver::decodeBase64("dmVuZG9yOnNlY3JldA="));
  EXPECT_FALSE(receiver::decodeBase64("dm=uZG9y"));
  EXPECT_TRUE(receiver::authorizes("Basic dmVuZG9yOnNlY3JldA==", "secret"));
  EXPECT_FALSE(receiver::authorizes("Basic dmVuZG9yOnNlY3JldA==", "secreT"));
  EXPECT_FALSE(receiver::authorizes("Basic dmVuZG9yOnNlY3JldDE=", "secret"));  // vendor:secret1
  EXPECT_FALSE(receiver::authorizes("basic dmVuZG9yOnNlY3JldA==", "secret"));
  EXPECT_FALSE(receiver::authorizes("Bearer x", "secret"));
  EXPECT_FALSE(receiver::authorizes("", "secret"));
}

TEST(DashboardAuth, ThePasswordFileIsMadeOnceAndMustStayPrivate) {
  const std::string folder = receiver::testing::freshFolder("password-file");
  const std::string path = folder + "/password";
  std::string error;
  const auto made = receiver::loadOrCreatePassword(path, error);
  ASSERT_TRUE(made) << error;
  EXPECT_EQ(made->size(), 24u);
  EXPECT_EQ(receiver::loadOrCreatePassword(path, error), made);
  ::chmod(path.c_str(), 0644);
  EXPECT_FALSE(receiver::loadOrCreatePassword(path, error));
  EXPECT_NE(error.find("chmod 600"), std::string::npos) << error;
  std::ofstream(folder + "/empty").close();
  ::chmod((folder + "/empty").c_str(), 0600);
  EXPECT_FALSE(receiver::loadOrCreatePassword(folder + "/empty", error));
  ::symlink(path.c_str(), (folder + "/link").c_str());
  EXPECT_FALSE(receiver::loadOrCreatePassword(folder + "/link", error));
}

}  // namespace
