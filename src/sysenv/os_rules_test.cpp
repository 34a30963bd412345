#include "sysenv/os_rules.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint8_t kWorkstation = 1, kDomainController = 2, kServer = 3;
constexpr std::uint16_t kX86 = 0, kArm = 5, kIa64 = 6, kAmd64 = 9, kArm64 = 12, kUnknown = 0xFFFF;

struct OsCase {
  const char* what;
  std::uint32_t major, minor;
  std::uint8_t productType;
  std::uint16_t architecture;
  const char16_t* name;
};

const OsCase kOsCases[] = {
    {"Windows 2000", 5, 0, kWorkstation, kX86, u"Other"},
    {"XP", 5, 1, kWorkstation, kX86, u"Windows XP"},
    {"XP: the 5.1 row ignores the product type", 5, 1, kServer, kX86, u"Windows XP"},
    {"64-bit XP", 5, 2, kWorkstation, kAmd64, u"Windows XP"},
    {"5.2 workstation on Itanium", 5, 2, kWorkstation, kIa64, u"Other"},
    {"Server 2003 on 32-bit hardware", 5, 2, kServer, kX86, u"Other"},
    {"Server 2003 x64", 5, 2, kServer, kAmd64, u"Other"},
    {"Vista", 6, 0, kWorkstation, kX86, u"Windows Vista"},
    {"Server 2008", 6, 0, kServer, kAmd64, u"Other"},
    {"7", 6, 1, kWorkstation, kAmd64, u"Windows 7"},
    {"Server 2008 R2 domain controller", 6, 1, kDomainController, kAmd64, u"Other"},
    {"8", 6, 2, kWorkstation, kX86, u"Windows 8"},
    {"8.1", 6, 3, kWorkstation, kAmd64, u"Windows 8"},
    {"Server 2012 R2", 6, 3, kServer, kAmd64, u"Other"},
    {"early 10 build reporting 6.4", 6, 4, kWorkstation, kAmd64, u"Windows 10"},
    {"6.5", 6, 5, kWorkstation, kAmd64, u"Other"},
    {"6.99", 6, 99, kWorkstation, kAmd64, u"Other"},
    {"10", 10, 0, kWorkstation, kAmd64, u"Windows 10"},
    {"10 on ARM64", 10, 0, kWorkstation, kArm64, u"Windows 10"},
    {"10 with any minor", 10, 7, kWorkstation, kX86, u"Windows 10"},
    {"Server 2016", 10, 0, kServer, kAmd64, u"Other"},
    {"unknown product type", 10, 0, 0, kAmd64, u"Other"},
    {"4.0", 4, 0, kWorkstation, kX86, u"Other"},
    {"11 reporting 11.0", 11, 0, kWorkstation, kAmd64, u"Other"},
    {"nothing read", 0, 0, 0, kX86, u"Other"},
};

TEST(OsName, FollowsTheVersionTableFirstRowWins) {
  for (const OsCase& c : kOsCases) {
    EXPECT_EQ(sysenv::osNameFor(c.major, c.minor, c.productType, c.architecture), c.name) << c.what;
  }
}

TEST(OsVersion, IsMajorDotMinorInDecimal) {
  EXPECT_EQ(sysenv::osVersionText(10, 0), u"10.0");
  EXPECT_EQ(sysenv::osVersionText(6, 1), u"6.1");
  EXPECT_EQ(sysenv::osVersionText(0, 0), u"0.0");  // what a failed read leaves
  EXPECT_EQ(sysenv::osVersionText(4294967295u, 12), u"4294967295.12");
}

TEST(Architecture, IsX64OnlyForAmd64AndIa64) {
  const struct {
    std::uint16_t architecture;
    const char16_t* text;
  } cases[] = {{kAmd64, u"x64"}, {kIa64, u"x64"}, {kX86, u"x86"},
               {kArm, u"x86"},   {kArm64, u"x86"}, {kUnknown, u"x86"}};
  for (const auto& c : cases) EXPECT_EQ(sysenv::architectureFor(c.architecture), c.text) << c.architecture;
}

TEST(AdministratorRights, NeedHighIntegrityFromVistaOnAndMembershipBefore) {
  constexpr std::uint32_t kNone = 0, kMedium = 0x2000, kHigh = 0x3000, kSystem = 0x4000;
  const struct {
    const char* what;
    bool versionKnown;
    std::uint32_t major;
    bool admin;
    std::uint32_t level;
    bool expected;
  } cases[] = {
      {"XP administrator (no integrity level)", true, 5, true, kNone, true},
      {"XP standard user", true, 5, false, kNone, false},
      {"XP administrator, version unreadable", false, 0, true, kNone, false},
      {"7 administrator with a filtered token", true, 6, true, kMedium, false},
      {"7 elevated administrator", true, 6, true, kHigh, true},
      {"10 service at system integrity", true, 10, false, kSystem, true},
      {"10 standard user", true, 10, false, kMedium, false},
      {"just below high", true, 10, true, kHigh - 1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sysenv::hasAdministratorRights(
                  c.versionKnown, c.major, [&] { return c.admin; }, [&] { return c.level; }),
              c.expected)
        << c.what;
  }
}

TEST(AdministratorRights, AskOnlyWhatTheVersionNeeds) {
  int membershipQuestions = 0, tokenQuestions = 0;
  auto admin = [&] { return ++membershipQuestions, true; };
  auto level = [&] { return ++tokenQuestions, std::uint32_t{0}; };
  EXPECT_TRUE(sysenv::hasAdministratorRights(true, 5, admin, level));  // XP administrator: token unread
  EXPECT_EQ(membershipQuestions, 1);
  EXPECT_EQ(tokenQuestions, 0);
  EXPECT_FALSE(sysenv::hasAdministratorRights(true, 6, admin, level));  // Vista on: membership unasked
  EXPECT_EQ(membershipQuestions, 1);
  EXPECT_EQ(tokenQuestions, 1);
}

}  // namespace
