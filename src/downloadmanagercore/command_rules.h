// The script commands' rules that need no operating system: the three argument checks every handler
// makes before anything else, the accepted install statuses, and how the installer's arguments are
// put together.
#pragma once

#include <cstdint>
#include <string>

namespace downloadmanagercore {

// VARIANT types and call flags, spelled out so that plain code needs no <oaidl.h>.
constexpr std::uint16_t kVtI4 = 3;
constexpr std::uint16_t kVtBstr = 8;
constexpr std::uint16_t kVtDispatch = 9;
constexpr std::uint16_t kVtBool = 11;
constexpr std::uint16_t kCallAsStatement = 0x1;   // DISPATCH_METHOD
constexpr std::uint16_t kCallForValue = 0x3;      // DISPATCH_METHOD | DISPATCH_PROPERTYGET

// What a command accepts: its exact call flags and its arguments' exact types in script order.
struct CommandSignature {
  std::uint16_t flags;
  std::uint32_t argumentCount;
  std::uint16_t argumentTypes[2];
};

enum class CallCheck { kAccepted, kMemberNotFound, kBadParamCount, kTypeMismatch };

// Flags first, then the counts (positional and named), then every type exactly (no conversion, no
// by-reference types). `types` holds the arguments as the engine passes them, last script argument
// first; it may be null when argumentCount is 0.
CallCheck checkCommandCall(const CommandSignature& signature, std::uint16_t flags, std::uint32_t argumentCount,
                           std::uint32_t namedCount, const std::uint16_t* types);

// setInstallStatus accepts 0 to 4.
bool isInstallStatus(std::int32_t status);

// The installer's command line tail: the pass-through text, one blank (also when that text is
// empty), then the page's parameters.
std::u16string installerArguments(const std::u16string& passthrough, const std::u16string& parameters);

// The extraction percentage: done * 100 / total rounded to the nearest integer (halves up, as
// MulDiv does), 0 when total is 0, and 100 once done reaches total (a count past the total never
// shows more than complete).
std::int32_t progressPercent(std::uint32_t done, std::uint32_t total);

}  // namespace downloadmanagercore
