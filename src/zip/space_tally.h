// The free space of the volume being unpacked onto, asked once and then counted down item by item,
// so that the refusal of an item that cannot fit needs no question to the system for every item.
#pragma once

#include <cstdint>

namespace zip {

class SpaceTally {
 public:
  // No limit: what cannot be measured (a compressed folder, a failed query) is left to the writes.
  SpaceTally() = default;
  // `freeBytes` free on a volume of `clusterBytes` clusters (0 when unknown: taken as 4 KiB).
  SpaceTally(std::uint64_t freeBytes, std::uint64_t clusterBytes);

  // Whether a file of `size` bytes fits in what is left. Each file is counted in whole clusters, so
  // the tally runs out before the volume does.
  bool fits(std::uint64_t size) const;
  // A file of `size` bytes was written.
  void take(std::uint64_t size);

 private:
  std::uint64_t clusterBytes(std::uint64_t size) const;

  bool limited_ = false;
  std::uint64_t free_ = 0;
  std::uint64_t cluster_ = 4096;
};

}  // namespace zip
