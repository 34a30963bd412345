#include "htmlui/page_policy.h"

#include <gtest/gtest.h>

namespace {

using htmlui::UrlActionAnswer;

struct ActionCase {
  const char* what;
  std::uint32_t action;
  UrlActionAnswer::Kind kind;
  std::uint32_t policy;
};

const ActionCase kActionCases[] = {
    {"signed ActiveX download", 0x1001, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"unsigned ActiveX download", 0x1004, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"last download action", 0x11FF, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"ActiveX run", 0x1200, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"override object safety", 0x1201, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"no object safety confirmation", 0x1204, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"treat controls as untrusted: allowing is the cautious answer", 0x1205, UrlActionAnswer::kAllowed,
     htmlui::kUrlPolicyAllow},
    {"scriptlets", 0x1209, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"last ActiveX action", 0x13FF, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"running script is the zone's", 0x1400, UrlActionAnswer::kZoneDefault, 0},
    {"scripting unsafe controls", 0x1401, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"Java from script", 0x1402, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"scripting safe controls", 0x1405, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"cross-domain data is the zone's", 0x1406, UrlActionAnswer::kZoneDefault, 0},
    {"form submission is the zone's", 0x1601, UrlActionAnswer::kZoneDefault, 0},
    {"font download", 0x1604, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"Java applets", 0x1605, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"shell file download", 0x1803, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"shell execute", 0x1806, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"low-risk shell execute", 0x1808, UrlActionAnswer::kRefused, htmlui::kUrlPolicyDisallow},
    {"pop-up manager is the zone's", 0x1809, UrlActionAnswer::kZoneDefault, 0},
    {"Java permissions: prohibit", 0x1C00, UrlActionAnswer::kRefused, htmlui::kUrlPolicyJavaProhibit},
    {"cookies are the zone's", 0x1A02, UrlActionAnswer::kZoneDefault, 0},
    {"below every action", 0x0FFF, UrlActionAnswer::kZoneDefault, 0},
};

TEST(PagePolicy, RefusesObjectsControlsDownloadsAndTheShellAndLeavesTheRestToTheZone) {
  for (const ActionCase& c : kActionCases) {
    const UrlActionAnswer answer = htmlui::pageUrlAction(c.action);
    EXPECT_EQ(answer.kind, c.kind) << c.what;
    if (answer.kind != UrlActionAnswer::kZoneDefault) EXPECT_EQ(answer.policy, c.policy) << c.what;
  }
}

}  // namespace
