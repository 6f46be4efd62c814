#include "color/color_scales.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <utility>
#include <string>
#include <vector>

#include "math/piecewise_polynomial_spline.h"
#include "math/row_vector.h"

namespace {

using Rgb = std::array<int, 3>;

Rgb colourOf(const velIPL::RGBImage& table, int grey) {
  return {table.at(grey, 0, 0), table.at(grey, 0, 1), table.at(grey, 0, 2)};
}

struct ScaleValue {
  int scale;  // item index
  int grey;
  Rgb rgb;
};

std::ostream& operator<<(std::ostream& os, const ScaleValue& v) {
  return os << lumifold::kColorScales[static_cast<std::size_t>(v.scale)].name << " grey " << v.grey;
}

class ColorScalesValue : public ::testing::TestWithParam<ScaleValue> {};

TEST_P(ColorScalesValue, MatchesPreviewStrip) {
  const ScaleValue& v = GetParam();
  EXPECT_EQ(colourOf(lumifold::SelectedColorScale(v.scale), v.grey), v.rgb);
}

// The colours the Settings page previews show, including Rainbow's clamped
// overshoot (128, 250, 254) and the extended last pieces of Blue Enhanced
// (above 240) and Cirrus like (255).
INSTANTIATE_TEST_SUITE_P(
    PreviewColours, ColorScalesValue,
    ::testing::Values(
        ScaleValue{0, 0, {0, 0, 0}}, ScaleValue{0, 32, {0, 0, 24}}, ScaleValue{0, 64, {0, 55, 181}},
        ScaleValue{0, 100, {0, 230, 255}}, ScaleValue{0, 128, {0, 255, 70}}, ScaleValue{0, 144, {42, 231, 4}},
        ScaleValue{0, 192, {223, 245, 0}}, ScaleValue{0, 240, {255, 85, 0}}, ScaleValue{0, 250, {254, 105, 59}},
        ScaleValue{0, 254, {254, 213, 202}}, ScaleValue{0, 255, {255, 255, 255}},
        ScaleValue{1, 0, {0, 0, 7}}, ScaleValue{1, 1, {0, 0, 8}}, ScaleValue{1, 64, {35, 124, 89}},
        ScaleValue{1, 100, {158, 186, 24}}, ScaleValue{1, 144, {128, 88, 42}}, ScaleValue{1, 200, {234, 99, 58}},
        ScaleValue{1, 250, {255, 197, 199}}, ScaleValue{1, 255, {255, 255, 255}},
        ScaleValue{2, 0, {0, 0, 5}}, ScaleValue{2, 64, {2, 21, 209}}, ScaleValue{2, 128, {9, 159, 220}},
        ScaleValue{2, 200, {77, 221, 76}}, ScaleValue{2, 240, {184, 211, 24}}, ScaleValue{2, 241, {194, 208, 21}},
        ScaleValue{2, 248, {255, 177, 0}}, ScaleValue{2, 255, {255, 128, 0}},
        ScaleValue{3, 0, {0, 0, 0}}, ScaleValue{3, 77, {77, 77, 77}}, ScaleValue{3, 255, {255, 255, 255}},
        ScaleValue{4, 0, {255, 255, 255}}, ScaleValue{4, 100, {155, 155, 155}}, ScaleValue{4, 255, {0, 0, 0}},
        ScaleValue{5, 0, {0, 0, 0}}, ScaleValue{5, 16, {0, 1, 3}}, ScaleValue{5, 100, {8, 160, 122}},
        ScaleValue{5, 128, {35, 221, 68}}, ScaleValue{5, 200, {231, 226, 3}}, ScaleValue{5, 254, {255, 43, 16}},
        ScaleValue{5, 255, {255, 31, 19}}));

TEST(ColorScales, BuildersAreTheItemsInOrder) {
  using Builder = velIPL::RGBImage (*)();
  const Builder builders[] = {lumifold::MakeRainbowScale,      lumifold::MakeRedEnhancedScale,
                              lumifold::MakeBlueEnhancedScale, lumifold::MakeWhiteOnBlackScale,
                              lumifold::MakeBlackOnWhiteScale, lumifold::MakeCirrusLikeScale};
  const std::vector<std::string> names = {"Rainbow",        "Red Enhanced",   "Blue Enhanced",
                                          "White on black", "Black on white", "Cirrus like"};
  const std::vector<std::string> keys = {"rainbow",        "red-enhanced",   "blue-enhanced",
                                         "white-on-black", "black-on-white", "cirrus-like"};
  ASSERT_EQ(lumifold::kColorScaleCount, 6);
  EXPECT_EQ(lumifold::colorScaleIndex("Rainbow"), -1);
  for (int i = 0; i < lumifold::kColorScaleCount; ++i) {
    const lumifold::ColorScale& scale = lumifold::kColorScales[static_cast<std::size_t>(i)];
    EXPECT_EQ(scale.name, names[i]);
    EXPECT_EQ(scale.key, keys[i]);
    EXPECT_EQ(scale.build, builders[i]);
    EXPECT_EQ(lumifold::colorScaleIndex(keys[i]), i);
    const velIPL::RGBImage built = builders[i]();
    const velIPL::RGBImage selected = lumifold::SelectedColorScale(i);
    ASSERT_EQ(built.width(), 256);
    ASSERT_EQ(built.height(), 3);
    for (int g = 0; g < 256; ++g) {
      EXPECT_EQ(colourOf(built, g), colourOf(selected, g)) << names[i] << " grey " << g;
      // Rows 1 and 2 are unused and stay 0.
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(built.at(g, 1, c), 0);
        EXPECT_EQ(built.at(g, 2, c), 0);
      }
    }
  }
}

TEST(ColorScales, UnknownIndexGivesRainbow) {
  const velIPL::RGBImage rainbow = lumifold::MakeRainbowScale();
  for (int index : {-1, 6, 100, -2147483647 - 1}) {
    const velIPL::RGBImage table = lumifold::SelectedColorScale(index);
    for (int g = 0; g < 256; ++g) ASSERT_EQ(colourOf(table, g), colourOf(rainbow, g)) << "index " << index;
  }
}

TEST(ColorScales, RampsAreExact) {
  const velIPL::RGBImage white = lumifold::MakeWhiteOnBlackScale();
  const velIPL::RGBImage black = lumifold::MakeBlackOnWhiteScale();
  for (int g = 0; g < 256; ++g) {
    EXPECT_EQ(colourOf(white, g), (Rgb{g, g, g}));
    EXPECT_EQ(colourOf(black, g), (Rgb{255 - g, 255 - g, 255 - g}));
  }
}

// The Rainbow spline, evaluated as the builder samples it, for one channel.
mathORN::RowVector rainbowRaw(const std::vector<double>& nodeValues) {
  mathORN::RowVector x(30), y(30), t(256);
  for (int i = 0; i < 30; ++i) {
    x[i] = i;
    y[i] = nodeValues[i];
  }
  for (int j = 0; j < 256; ++j) t[j] = j * (1.0 / 255.0) * 29.0;
  return mathORN::PiecewisePolynomialSpline(x, y).evaluate(t);
}

TEST(ColorScales, RainbowClampsOvershootAndTruncates) {
  // Blue and green channels of the Rainbow nodes: both overshoot between
  // nodes (blue down to about -17 after the drop at node 15, green above 255
  // around nodes 12-14).
  const std::vector<double> blue = {0,   0,   0,   0,   43,  85,  128, 170, 212, 255, 255, 255, 255, 212, 170,
                                    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   255};
  const std::vector<double> greenNodes = {0,   0,   0,   0,   0,   0,   0,   43,  85,  128, 170, 212, 255, 255, 255,
                                          255, 238, 221, 204, 196, 213, 230, 247, 238, 204, 170, 136, 102, 68,  255};
  const velIPL::RGBImage table = lumifold::MakeRainbowScale();
  int clampedLow = 0, clampedHigh = 0, truncated = 0;
  const mathORN::RowVector rawBlue = rainbowRaw(blue);
  const mathORN::RowVector rawGreen = rainbowRaw(greenNodes);
  double lowest = 0.0, highest = 0.0;
  for (int j = 0; j < 256; ++j) {
    for (const auto& [raw, channel] : {std::pair{&rawBlue, 2}, std::pair{&rawGreen, 1}}) {
      const double v = (*raw)[j];
      const int stored = table.at(j, 0, channel);
      lowest = std::min(lowest, v);
      highest = std::max(highest, v);
      if (v < 0.0) {
        EXPECT_EQ(stored, 0) << "grey " << j << " raw " << v;
        ++clampedLow;
      } else if (v > 255.0) {
        EXPECT_EQ(stored, 255) << "grey " << j << " raw " << v;
        ++clampedHigh;
      } else {
        EXPECT_EQ(stored, static_cast<int>(v)) << "grey " << j << " raw " << v;
        if (v - static_cast<int>(v) >= 0.5) ++truncated;
      }
    }
  }
  // The overshoot is real, so the clamps above were exercised.
  EXPECT_LT(lowest, -10.0);
  EXPECT_GT(highest, 256.0);
  EXPECT_GT(clampedLow, 0);
  EXPECT_GT(clampedHigh, 0);
  EXPECT_GT(truncated, 0);
}

TEST(ColorScales, ApplyLooksUpRowZeroOnly) {
  velIPL::GImage one(1, 1, 128);
  const velIPL::RGBImage pixel = lumifold::ApplyColorScale(lumifold::MakeRedEnhancedScale(), one);
  ASSERT_EQ(pixel.width(), 1);
  ASSERT_EQ(pixel.height(), 1);
  EXPECT_EQ((Rgb{pixel.at(0, 0, 0), pixel.at(0, 0, 1), pixel.at(0, 0, 2)}), (Rgb{200, 191, 20}));

  // Rows 1 and 2 of a table are never read: garbage there changes nothing.
  velIPL::RGBImage table = lumifold::MakeCirrusLikeScale();
  for (int g = 0; g < 256; ++g) {
    for (int c = 0; c < 3; ++c) {
      table.at(g, 1, c) = 77;
      table.at(g, 2, c) = 99;
    }
  }
  velIPL::GImage grey(37, 5, 0);
  for (int y = 0; y < grey.height(); ++y) {
    for (int x = 0; x < grey.width(); ++x) grey.at(x, y) = static_cast<unsigned char>((x * 7 + y * 53) % 256);
  }
  const velIPL::GImage before = grey;
  const velIPL::RGBImage coloured = lumifold::ApplyColorScale(table, grey);
  ASSERT_EQ(coloured.width(), 37);
  ASSERT_EQ(coloured.height(), 5);
  for (int y = 0; y < grey.height(); ++y) {
    for (int x = 0; x < grey.width(); ++x) {
      ASSERT_EQ(grey.at(x, y), before.at(x, y));
      for (int c = 0; c < 3; ++c) ASSERT_EQ(coloured.at(x, y, c), table.at(grey.at(x, y), 0, c));
    }
  }

  const velIPL::RGBImage none = lumifold::ApplyColorScale(table, velIPL::GImage(0, 0, 0));
  EXPECT_EQ(none.width(), 0);
  EXPECT_EQ(none.height(), 0);
}

}  // namespace
