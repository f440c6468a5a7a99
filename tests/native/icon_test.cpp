// The notification-area icons drawn at run time: every size renders, the
// shape has a clear outline (transparent corners, opaque centre, soft edges),
// and the four states read apart by colour.
#include "icon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

struct Image {
  int size;
  std::vector<unsigned char> bgra;
  const unsigned char *at(int x, int y) const { return &bgra[(static_cast<size_t>(y) * size + x) * 4]; }
  int alpha(int x, int y) const { return at(x, y)[3]; }
};

Image render(mjh_icon_state state, int size) {
  Image img{size, std::vector<unsigned char>(static_cast<size_t>(size) * size * 4, 0xAB)};
  EXPECT_EQ(mjh_icon_render(state, size, img.bgra.data()), 1) << "size " << size;
  return img;
}

const mjh_icon_state kStates[] = {MJH_ICON_STOPPED, MJH_ICON_ACTIVE, MJH_ICON_FAILING, MJH_ICON_WAITING};

// The average colour of the mostly opaque pixels, un-premultiplied.
struct Rgb {
  double r, g, b;
};
Rgb dominant(const Image &img) {
  double r = 0, g = 0, b = 0;
  int n = 0;
  for (int y = 0; y < img.size; ++y)
    for (int x = 0; x < img.size; ++x) {
      const unsigned char *p = img.at(x, y);
      if (p[3] < 200) continue;
      b += p[0] * 255.0 / p[3];
      g += p[1] * 255.0 / p[3];
      r += p[2] * 255.0 / p[3];
      ++n;
    }
  return n ? Rgb{r / n, g / n, b / n} : Rgb{0, 0, 0};
}

class IconSizes : public ::testing::TestWithParam<mjh_icon_state> {};

TEST_P(IconSizes, EverySizeRendersAShapeWithClearCornersAndOpaqueBody) {
  for (int size = 16; size <= 64; ++size) {
    Image img = render(GetParam(), size);
    int last = size - 1;
    EXPECT_EQ(img.alpha(0, 0), 0) << size;
    EXPECT_EQ(img.alpha(last, 0), 0) << size;
    EXPECT_EQ(img.alpha(0, last), 0) << size;
    int opaque = 0, partial = 0;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const unsigned char *p = img.at(x, y);
        // Premultiplied: no channel above alpha.
        ASSERT_LE(p[0], p[3]) << size << " at " << x << "," << y;
        ASSERT_LE(p[1], p[3]) << size << " at " << x << "," << y;
        ASSERT_LE(p[2], p[3]) << size << " at " << x << "," << y;
        opaque += p[3] == 255;
        partial += p[3] > 0 && p[3] < 255;
      }
    // The middle of the mouse is solid (the badged states shift it left), the
    // shape fills a fair part of the square, and its curved edges are
    // anti-aliased.
    EXPECT_EQ(img.alpha(size * 2 / 5, size / 2), 255) << size;
    EXPECT_EQ(img.alpha(size * 2 / 5, size / 3), 255) << size;
    EXPECT_GT(opaque, size * size / 4) << size;
    EXPECT_GT(partial, size / 2) << size;
  }
}

INSTANTIATE_TEST_SUITE_P(States, IconSizes, ::testing::ValuesIn(kStates));

TEST(Icon, StatesHaveDistinctDominantColoursAtTheSmallestSize) {
  const int sizes[] = {16, 32};
  for (int size : sizes) {
    Rgb c[4];
    for (int i = 0; i < 4; ++i) c[i] = dominant(render(kStates[i], size));
    // Stopped is grey, active green, failing warm (red/amber), waiting blue.
    EXPECT_LT(c[0].r - c[0].b, 30) << size;
    EXPECT_LT(c[0].b - c[0].r, 30) << size;
    EXPECT_GT(c[1].g, c[1].r + 40) << size;
    EXPECT_GT(c[1].g, c[1].b + 40) << size;
    EXPECT_GT(c[2].r, c[2].b + 80) << size;
    EXPECT_GT(c[3].b, c[3].r + 60) << size;
    for (int i = 0; i < 4; ++i)
      for (int j = i + 1; j < 4; ++j) {
        double d = (c[i].r - c[j].r) * (c[i].r - c[j].r) + (c[i].g - c[j].g) * (c[i].g - c[j].g) +
                   (c[i].b - c[j].b) * (c[i].b - c[j].b);
        EXPECT_GT(d, 60.0 * 60.0) << "states " << i << " and " << j << " at " << size;
      }
  }
}

TEST(Icon, BadgedStatesDifferFromPlainOnesInTheirCorner) {
  // Failing and waiting carry a mark in the lower right corner; the plain
  // states leave it clear, so the mark shows even to colour-blind eyes.
  for (int size : {16, 24, 32}) {
    int corner = size * 5 / 6;
    EXPECT_EQ(render(MJH_ICON_STOPPED, size).alpha(corner, corner), 0) << size;
    EXPECT_EQ(render(MJH_ICON_ACTIVE, size).alpha(corner, corner), 0) << size;
    EXPECT_EQ(render(MJH_ICON_FAILING, size).alpha(corner, corner), 255) << size;
    EXPECT_EQ(render(MJH_ICON_WAITING, size).alpha(corner, corner), 255) << size;
  }
}

TEST(Icon, RefusesSizesAndStatesItCannotDrawWithoutWriting) {
  std::vector<unsigned char> buf(300 * 300 * 4, 0x5A);
  EXPECT_EQ(mjh_icon_render(MJH_ICON_ACTIVE, 15, buf.data()), 0);
  EXPECT_EQ(mjh_icon_render(MJH_ICON_ACTIVE, 0, buf.data()), 0);
  EXPECT_EQ(mjh_icon_render(MJH_ICON_ACTIVE, -16, buf.data()), 0);
  EXPECT_EQ(mjh_icon_render(MJH_ICON_ACTIVE, MJH_ICON_MAX_PX + 1, buf.data()), 0);
  EXPECT_EQ(mjh_icon_render(static_cast<mjh_icon_state>(17), 32, buf.data()), 0);
  for (unsigned char b : buf) ASSERT_EQ(b, 0x5A);
  EXPECT_EQ(mjh_icon_render(MJH_ICON_ACTIVE, MJH_ICON_MAX_PX, buf.data()), 1);
}

TEST(Icon, StraightAlphaUndoesThePremultiplication) {
  // blue, green, red, alpha: opaque, half, faint, transparent.
  unsigned char px[4 * 4] = {10, 20, 30, 255, 50, 64, 100, 128, 1, 2, 3, 4, 0, 0, 0, 0};
  std::vector<unsigned char> pixels(16 * 16 * 4, 0);
  std::copy(px, px + sizeof px, pixels.begin());
  mjh_icon_straight_alpha(pixels.data(), 16);
  const unsigned char want[4 * 4] = {10, 20, 30, 255, 100, 128, 199, 128, 64, 128, 191, 4, 0, 0, 0, 0};
  for (size_t i = 0; i < sizeof want; i++) EXPECT_EQ(pixels[i], want[i]) << "byte " << i;
}

}  // namespace
