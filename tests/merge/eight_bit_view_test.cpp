#include "merge/eight_bit_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

using lumifold::EightBitView;
using velIPL::G16Image;

namespace {

G16Image withBrightest(int value) {
  G16Image image(3, 2, 0);
  image.at(1, 1) = static_cast<std::uint16_t>(value);
  return image;
}

}  // namespace

TEST(EightBitView, DepthFollowsTheReferencesBrightestValue) {
  const struct {
    int brightest, depth;
  } cases[] = {{0, 8}, {255, 8}, {256, 9}, {4095, 12}, {4096, 13}, {128 * 257, 16}, {65535, 16}};
  for (const auto& c : cases) {
    EXPECT_EQ(EightBitView(withBrightest(c.brightest)).depth(), c.depth) << c.brightest;
  }
}

TEST(EightBitView, MapsToTheNearestEightBitValueOfTheFullScale) {
  for (int depth : {8, 12, 16}) {
    const EightBitView view(withBrightest((1 << depth) - 1));
    const int full = (1 << depth) - 1;
    for (int v = 0; v < 65536; v += (v < 300 ? 1 : 97)) {
      const int expected = v >= full ? 255 : static_cast<int>(std::lround(v * 255.0 / full));
      ASSERT_EQ(view(static_cast<std::uint16_t>(v)), expected) << "depth " << depth << ", value " << v;
    }
  }
  // Below 256 the view of an 8-bit depth is the value itself.
  const EightBitView eight(withBrightest(200));
  for (int v = 0; v < 256; ++v) EXPECT_EQ(eight(static_cast<std::uint16_t>(v)), v);
}

TEST(EightBitView, ValuesWidenedBy257MapBackExactly) {
  // Any reference reaching 128 * 257 fixes depth 16.
  const EightBitView view(withBrightest(128 * 257));
  for (int v = 0; v < 256; ++v) ASSERT_EQ(view(static_cast<std::uint16_t>(v * 257)), v) << v;

  // The merged grey of widened sums is the 8-bit rounding of the same mean,
  // halves included: 3 / 2 gives 2, 1 / 2 gives 1, 255 stays 255.
  velIPL::DImage sums(4, 1, 0.0);
  const int eightBitSums[] = {3, 1, 510, 7};
  for (int x = 0; x < 4; ++x) sums.at(x, 0) = 257.0 * eightBitSums[x];
  const velIPL::GImage grey = view.averageResult(sums, 2);
  EXPECT_EQ(grey.at(0, 0), 2);
  EXPECT_EQ(grey.at(1, 0), 1);
  EXPECT_EQ(grey.at(2, 0), 255);
  EXPECT_EQ(grey.at(3, 0), 4);
  // A sum beyond the full scale is clamped.
  sums.at(0, 0) = 3.0 * 65535;
  EXPECT_EQ(view.averageResult(sums, 2).at(0, 0), 255);
}
