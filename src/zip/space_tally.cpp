#include "zip/space_tally.h"

namespace zip {

SpaceTally::SpaceTally(std::uint64_t freeBytes, std::uint64_t clusterBytes)
    : limited_(true), free_(freeBytes), cluster_(clusterBytes == 0 ? 4096 : clusterBytes) {}

std::uint64_t SpaceTally::clusterBytes(std::uint64_t size) const {
  const std::uint64_t clusters = size / cluster_ + (size % cluster_ != 0 ? 1 : 0);
  return clusters > UINT64_MAX / cluster_ ? UINT64_MAX : clusters * cluster_;
}

bool SpaceTally::fits(std::uint64_t size) const { return !limited_ || clusterBytes(size) <= free_; }

void SpaceTally::take(std::uint64_t size) {
  const std::uint64_t used = clusterBytes(size);
  free_ = used > free_ ? 0 : free_ - used;
}

}  // namespace zip
