#include "htmlui/window_rect.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

namespace htmlui {
void PrintTo(const ScreenRect& r, std::ostream* os) {
  *os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}
}  // namespace htmlui

namespace {

using htmlui::ScreenRect;

struct ScaleCase {
  const char* what;
  std::int32_t pagePixels, dpi, expected;
};

const ScaleCase kScaleCases[] = {
    {"96 dpi keeps page pixels", 651, 96, 651},
    {"144 dpi width truncates 976.5", 651, 144, 976},
    {"144 dpi height", 272, 144, 408},
    {"120 dpi", 400, 120, 500},
    {"192 dpi doubles", 200, 192, 400},
    {"one pixel at 144 dpi truncates 1.5", 1, 144, 1},
    {"zero size", 0, 144, 0},
    {"negative size from a faulty page is empty", -651, 144, 0},
    {"zero dpi from a failed query is empty", 651, 0, 0},
    {"huge size saturates instead of overflowing", INT32_MAX, 192, htmlui::kMaxWindowExtent},
};

TEST(WindowRect, ScalesPagePixelsByDpi) {
  for (const ScaleCase& c : kScaleCases) {
    EXPECT_EQ(htmlui::scaleToDpi(c.pagePixels, c.dpi), c.expected) << c.what;
  }
}

struct PlaceCase {
  const char* what;
  std::int32_t width, height;
  ScreenRect reference, bounds, expected;
};

const ScreenRect kWorkArea{0, 0, 1920, 1040};

const PlaceCase kPlaceCases[] = {
    {"centred in the work area", 976, 408, kWorkArea, kWorkArea, {472, 316, 1448, 724}},
    {"empty window sits at the centre", 0, 0, kWorkArea, kWorkArea, {960, 520, 960, 520}},
    {"exactly the work area", 1920, 1040, kWorkArea, kWorkArea, {0, 0, 1920, 1040}},
    {"wider than the work area starts at its left edge", 2500, 408, kWorkArea, kWorkArea, {0, 316, 2500, 724}},
    {"taller than the work area starts at its top edge", 976, 1500, kWorkArea, kWorkArea, {472, 0, 1448, 1500}},
    {"monitor left of the primary (negative coordinates)", 651, 272, {-1280, 0, 0, 1024}, {-1280, 0, 0, 1024},
     {-965, 376, -314, 648}},
    {"work area below a top taskbar", 400, 200, {0, 40, 1920, 1080}, {0, 40, 1920, 1080}, {760, 460, 1160, 660}},
    {"owner near the right edge: pushed back inside", 400, 200, {1800, 100, 2000, 300}, kWorkArea,
     {1520, 100, 1920, 300}},
    {"owner near the bottom edge: pushed back inside", 400, 200, {100, 1000, 300, 1100}, kWorkArea,
     {0, 840, 400, 1040}},
    {"owner off the left edge: pulled to the left edge", 400, 200, {-500, 0, -100, 100}, kWorkArea,
     {0, 0, 400, 200}},
    {"centre of an odd negative sum truncates toward zero", 0, 0, {-3, -3, 0, 0}, {-10, -10, 10, 10},
     {-1, -1, -1, -1}},
    {"never wraps past the coordinate range", htmlui::kMaxWindowExtent, 10,
     {INT32_MAX - 10, 0, INT32_MAX, 10}, {INT32_MAX - 10, 0, INT32_MAX, 10}, {INT32_MAX - 10, 0, INT32_MAX, 10}},
};

TEST(WindowRect, CentresOnReferenceAndKeepsInsideBounds) {
  for (const PlaceCase& c : kPlaceCases) {
    EXPECT_EQ(htmlui::placeWindow(c.width, c.height, c.reference, c.bounds), c.expected) << c.what;
  }
}

}  // namespace
