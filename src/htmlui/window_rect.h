// The arithmetic that turns a page's requested client size into the host window's rectangle: DPI
// scaling, centring on a reference rectangle and keeping the window inside a work area. No system
// calls: the Win32 side reads the DPI, the frame and the monitors and feeds them in.
#pragma once

#include <cstdint>

namespace htmlui {

// Screen coordinates, right and bottom exclusive, as a Win32 RECT.
struct ScreenRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;

  friend bool operator==(const ScreenRect& a, const ScreenRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  }
};

// Page pixels (96 per inch) to device pixels at `dpi`, truncating toward zero: 651 at 144 dpi is 976.
// A negative size (a faulty page) counts as 0, and a result past what a window can be saturates
// instead of overflowing, so nothing downstream sees a negative or wrapped size.
std::int32_t scaleToDpi(std::int32_t pagePixels, std::int32_t dpi);

// The largest size scaleToDpi returns; far beyond any screen, small enough that centring
// arithmetic on it cannot overflow.
constexpr std::int32_t kMaxWindowExtent = 0x00FFFFFF;

// Places a window of outerWidth x outerHeight centred on `reference` and then kept inside `bounds`:
// it never runs past the bounds' right or bottom edge unless it is larger than the bounds, in which
// case it starts at their left or top edge and runs off the other side. Halves truncate toward zero.
ScreenRect placeWindow(std::int32_t outerWidth, std::int32_t outerHeight, const ScreenRect& reference,
                       const ScreenRect& bounds);

}  // namespace htmlui
