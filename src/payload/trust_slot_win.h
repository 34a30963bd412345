// Win32 code. The running program's own trust slot (payload/trust_slot.h): the block in its image
// that the packer filled before signing.
#pragma once

#include <optional>

#include "payload/trust_slot.h"

namespace payload {

// What this program's slot pins; nothing when the slot cannot be read, which a caller treats as
// a refusal wherever a pin could have been.
std::optional<TrustSlot> runningProgramTrustSlot();

}  // namespace payload
