// Win32 code.
#include "sysenv/write_all_win.h"

namespace sysenv {

bool writeAll(HANDLE file, const void* bytes, std::size_t size, std::size_t* written) {
  const char* next = static_cast<const char*>(bytes);
  std::size_t total = 0;
  bool whole = true;
  while (total < size) {
    DWORD part = 0;
    // At most 4 GiB - 1 at once.
    const DWORD wanted = size - total > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size - total);
    if (!WriteFile(file, next + total, wanted, &part, nullptr)) {
      whole = false;
      break;
    }
    if (part == 0) {
      // A local file that takes nothing without an error is on a full volume.
      SetLastError(ERROR_DISK_FULL);
      whole = false;
      break;
    }
    total += part;
  }
  if (written != nullptr) *written = total;
  return whole;
}

}  // namespace sysenv
