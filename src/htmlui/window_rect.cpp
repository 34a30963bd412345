#include "htmlui/window_rect.h"

#include <algorithm>

namespace htmlui {

namespace {

// One axis of placeWindow. 64-bit throughout: monitor coordinates plus a window extent can pass
// 2^31 only in theory, but the result must never wrap.
std::int64_t placeAxis(std::int64_t extent, std::int64_t refLow, std::int64_t refHigh, std::int64_t boundLow,
                       std::int64_t boundHigh) {
  // C++ division truncates toward zero, which is the rule for the centre.
  std::int64_t position = std::min((refLow + refHigh + extent) / 2, boundHigh) - extent;
  return std::max(position, boundLow);
}

std::int32_t saturate(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

std::int32_t scaleToDpi(std::int32_t pagePixels, std::int32_t dpi) {
  if (pagePixels <= 0 || dpi <= 0) return 0;
  std::int64_t scaled = static_cast<std::int64_t>(pagePixels) * dpi / 96;
  return static_cast<std::int32_t>(std::min<std::int64_t>(scaled, kMaxWindowExtent));
}

ScreenRect placeWindow(std::int32_t outerWidth, std::int32_t outerHeight, const ScreenRect& reference,
                       const ScreenRect& bounds) {
  std::int64_t x = placeAxis(outerWidth, reference.left, reference.right, bounds.left, bounds.right);
  std::int64_t y = placeAxis(outerHeight, reference.top, reference.bottom, bounds.top, bounds.bottom);
  return ScreenRect{saturate(x), saturate(y), saturate(x + outerWidth), saturate(y + outerHeight)};
}

}  // namespace htmlui
