// libFuzzer target: the fuzz input is a whole executable file with a container at its end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "payload/container_format.h"

namespace {

// What a path let through must never do, checked segment by segment without the rule's own code.
bool climbsOrNamesARoot(const std::u16string& path) {
  if (path.empty() || path.find(u':') != std::u16string::npos) return true;
  std::u16string segment;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == u'\\' || path[i] == u'/') {
      if (segment.empty() || segment == u"." || segment == u"..") return true;
      segment.clear();
    } else {
      segment.push_back(path[i]);
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  payload::MemoryContainerInput input(data, size);
  std::uint64_t handedOver = 0;
  payload::readContainer(input, [&](const payload::PayloadEntryHeader& header, const unsigned char* bytes) {
    // Every entry handed over lies inside the input, so its size fits what the input holds.
    if (header.size > size || bytes == nullptr) std::abort();
    handedOver += header.size + payload::kPayloadEntryHeaderSize;
    if (handedOver > size) std::abort();
    const std::u16string path = payload::payloadEntryPath(header);
    if (payload::isSafePayloadEntryPath(path) && climbsOrNamesARoot(path)) std::abort();
    // Touch every byte, so that a buffer shorter than the stated size shows under AddressSanitizer.
    unsigned sum = 0;
    for (std::uint64_t i = 0; i < header.size; ++i) sum += bytes[i];
    return (sum & 1u) == 0 || header.size < 8;  // let some writes fail, to reach that path too
  });
  return 0;
}
