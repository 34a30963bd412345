// What a page's document or script engine may do, as the answers a security manager gives for URL
// actions (the numbers of urlmon's URLACTION_* constants). Pages are local files of our own payload
// that need script and nothing else: no ActiveX control or object, no scripting of controls, no
// downloads and nothing handed to the shell. No system calls, so the table is tested natively.
#pragma once

#include <cstdint>

namespace htmlui {

// URL-policy values, as urlmon defines them.
constexpr std::uint32_t kUrlPolicyAllow = 0x00;     // URLPOLICY_ALLOW
constexpr std::uint32_t kUrlPolicyDisallow = 0x03;  // URLPOLICY_DISALLOW
constexpr std::uint32_t kUrlPolicyJavaProhibit = 0x00;  // URLPOLICY_JAVA_PROHIBIT (the value 0 means no Java here)

struct UrlActionAnswer {
  enum Kind {
    kZoneDefault,  // not ours to decide: the zone's own setting applies
    kAllowed,      // the action may happen (S_OK)
    kRefused,      // the action must not happen (S_FALSE)
  } kind;
  std::uint32_t policy;  // the value written for the caller; meaningless for kZoneDefault
};

// The answer for one URL action, the same for every document and for the quiet run's engine.
UrlActionAnswer pageUrlAction(std::uint32_t action);

}  // namespace htmlui
