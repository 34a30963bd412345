#include "htmlui/page_policy.h"

namespace htmlui {

namespace {

struct ActionRange {
  std::uint32_t first, last;
};

// Actions a page never needs, refused outright: downloads of code, running or overriding the safety
// of ActiveX objects, scripting controls (safe or not) and Java from script, Java applets, font
// downloads, and the shell's file downloads, verbs and program starts.
constexpr ActionRange kRefused[] = {
    {0x1000, 0x11FF},  // URLACTION_DOWNLOAD_MIN..MAX
    {0x1200, 0x13FF},  // URLACTION_ACTIVEX_MIN..MAX (URLACTION_ACTIVEX_RUN is 0x1200)
    {0x1401, 0x1402},  // URLACTION_SCRIPT_OVERRIDE_SAFETY, URLACTION_SCRIPT_JAVA_USE
    {0x1405, 0x1405},  // URLACTION_SCRIPT_SAFE_ACTIVEX
    {0x1604, 0x1605},  // URLACTION_HTML_FONT_DOWNLOAD, URLACTION_HTML_JAVA_RUN
    {0x1800, 0x1808},  // URLACTION_SHELL_INSTALL_DTITEMS .. URLACTION_SHELL_EXECUTE_LOWRISK
};

// Inside the ActiveX range, the one action whose "allow" is the cautious answer: treat every
// control as untrusted.
constexpr std::uint32_t kActiveXTreatAsUntrusted = 0x1205;
// Java's permissions are a level, not allow/deny; its lowest level (0) is "prohibit".
constexpr ActionRange kJava = {0x1C00, 0x1CFF};  // URLACTION_JAVA_MIN..MAX

bool within(std::uint32_t action, const ActionRange& range) { return action >= range.first && action <= range.last; }

}  // namespace

UrlActionAnswer pageUrlAction(std::uint32_t action) {
  if (action == kActiveXTreatAsUntrusted) return {UrlActionAnswer::kAllowed, kUrlPolicyAllow};
  if (within(action, kJava)) return {UrlActionAnswer::kRefused, kUrlPolicyJavaProhibit};
  for (const ActionRange& range : kRefused) {
    if (within(action, range)) return {UrlActionAnswer::kRefused, kUrlPolicyDisallow};
  }
  return {UrlActionAnswer::kZoneDefault, 0};
}

}  // namespace htmlui
