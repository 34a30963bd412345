// Win32 code.
#include "payload/trust_slot_win.h"

#include <windows.h>

#include <array>
#include <cstdint>

namespace payload {

namespace {

// The slot as the linker lays it out: the marker, version 1, nothing pinned, zeros. Constant data,
// inside the image that the Authenticode signature hashes. Read through a volatile pointer: the
// compiler must not fold the values it sees here into the code, since the packer changes them in
// the file.
extern "C" __attribute__((used, aligned(16))) const volatile std::uint8_t sorvaneTrustSlot[kTrustSlotSize] = {
    'S', 'o', 'r', 'v', 'a', 'n', 'e', 'T', 'r', 'u', 's', 't', 'S', 'l', 'o', 't', kTrustSlotVersion, 0, 0, 0};

}  // namespace

std::optional<TrustSlot> runningProgramTrustSlot() {
  std::array<std::uint8_t, kTrustSlotSize> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = sorvaneTrustSlot[i];
  return decodeTrustSlot(bytes.data(), bytes.size());
}

}  // namespace payload
