#include "downloadmanagercore/command_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace downloadmanagercore {
namespace {

constexpr std::uint16_t kByRefBstr = 0x4000 | kVtBstr;
constexpr CommandSignature kNoArguments = {kCallAsStatement, 0, {0, 0}};
constexpr CommandSignature kGetProperty = {kCallForValue, 1, {kVtBstr, 0}};
// download(url, callback): script order BSTR then DISPATCH.
constexpr CommandSignature kDownload = {kCallAsStatement, 2, {kVtBstr, kVtDispatch}};

struct CallCase {
  const char* what;
  const CommandSignature* signature;
  std::uint16_t flags;
  std::uint32_t namedCount;
  std::vector<std::uint16_t> engineOrderTypes;  // last script argument first
  CallCheck expected;
};

TEST(CheckCommandCall, FlagsThenCountsThenExactTypes) {
  const CallCase cases[] = {
      {"statement without arguments", &kNoArguments, kCallAsStatement, 0, {}, CallCheck::kAccepted},
      {"statement-only command used for its value", &kNoArguments, kCallForValue, 0, {}, CallCheck::kMemberNotFound},
      {"property get alone", &kNoArguments, 0x2, 0, {}, CallCheck::kMemberNotFound},
      {"value command as a statement", &kGetProperty, kCallAsStatement, 0, {kVtBstr}, CallCheck::kMemberNotFound},
      {"value command for its value", &kGetProperty, kCallForValue, 0, {kVtBstr}, CallCheck::kAccepted},
      {"wrong flags beat a wrong count", &kGetProperty, kCallAsStatement, 0, {}, CallCheck::kMemberNotFound},
      {"arguments reversed by the engine", &kDownload, kCallAsStatement, 0, {kVtDispatch, kVtBstr},
       CallCheck::kAccepted},
      {"script order instead of engine order", &kDownload, kCallAsStatement, 0, {kVtBstr, kVtDispatch},
       CallCheck::kTypeMismatch},
      {"one argument short", &kDownload, kCallAsStatement, 0, {kVtBstr}, CallCheck::kBadParamCount},
      {"one argument too many", &kGetProperty, kCallForValue, 0, {kVtBstr, kVtBstr}, CallCheck::kBadParamCount},
      {"a named argument", &kGetProperty, kCallForValue, 1, {kVtBstr}, CallCheck::kBadParamCount},
      {"a number as URL", &kDownload, kCallAsStatement, 0, {kVtDispatch, kVtI4}, CallCheck::kTypeMismatch},
      {"a by-reference string", &kGetProperty, kCallForValue, 0, {kByRefBstr}, CallCheck::kTypeMismatch},
      {"a boolean for a number", &kGetProperty, kCallForValue, 0, {kVtBool}, CallCheck::kTypeMismatch},
  };
  for (const CallCase& c : cases) {
    const auto count = static_cast<std::uint32_t>(c.engineOrderTypes.size());
    EXPECT_EQ(checkCommandCall(*c.signature, c.flags, count, c.namedCount,
                               count == 0 ? nullptr : c.engineOrderTypes.data()),
              c.expected)
        << c.what;
  }
}

TEST(IsInstallStatus, AcceptsZeroToFourOnly) {
  const std::pair<std::int32_t, bool> cases[] = {{-1, false}, {0, true}, {2, true}, {4, true}, {5, false},
                                                 {INT32_MIN, false}, {INT32_MAX, false}};
  for (const auto& [status, accepted] : cases) EXPECT_EQ(isInstallStatus(status), accepted) << status;
}

TEST(InstallerArguments, PassthroughBlankParameters) {
  EXPECT_EQ(installerArguments(u"", u"a=b"), u" a=b") << "the blank stays without pass-through text";
  EXPECT_EQ(installerArguments(u"/quiet x=\"1 2\"", u"a=b"), u"/quiet x=\"1 2\" a=b");
  EXPECT_EQ(installerArguments(u"p", u""), u"p ");
}

TEST(ProgressPercent, RoundsToNearestWithHalvesUp) {
  struct Case {
    std::uint32_t done, total;
    std::int32_t expected;
  };
  const Case cases[] = {
      {0, 0, 0},     {5, 0, 0},     {0, 7, 0},       {1, 3, 33},  {2, 3, 67},  {1, 200, 1},  // 0.5 up
      {1, 201, 0},   {199, 200, 100}, {3, 8, 38},    {7, 7, 100}, {9, 7, 100},
      {0xFFFFFFFEu, 0xFFFFFFFFu, 100}, {0x7FFFFFFFu, 0xFFFFFFFFu, 50},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(progressPercent(c.done, c.total), c.expected) << c.done << " of " << c.total;
  }
}

}  // namespace
}  // namespace downloadmanagercore
