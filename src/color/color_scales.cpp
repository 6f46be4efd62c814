#include "color/color_scales.h"

#include <array>
#include <cmath>

#include "math/piecewise_polynomial_spline.h"
#include "math/rounding.h"
#include "math/row_vector.h"

namespace lumifold {

namespace {

struct Node {
  double x, r, g, b;
};

constexpr int kTableSize = 256;

constexpr Node kRainbow[] = {
    {0, 0, 0, 0},       {1, 0, 0, 0},       {2, 0, 0, 0},       {3, 0, 0, 0},       {4, 0, 0, 43},
    {5, 0, 0, 85},      {6, 0, 0, 128},     {7, 0, 43, 170},    {8, 0, 85, 212},    {9, 0, 128, 255},
    {10, 0, 170, 255},  {11, 0, 212, 255},  {12, 0, 255, 255},  {13, 0, 255, 212},  {14, 0, 255, 170},
    {15, 0, 255, 0},    {16, 31, 238, 0},   {17, 59, 221, 0},   {18, 81, 204, 0},   {19, 104, 196, 0},
    {20, 142, 213, 0},  {21, 184, 230, 0},  {22, 230, 247, 0},  {23, 255, 238, 0},  {24, 255, 204, 0},
    {25, 255, 170, 0},  {26, 255, 136, 0},  {27, 255, 102, 0},  {28, 255, 68, 0},   {29, 255, 255, 255},
};

constexpr Node kRedEnhanced[] = {
    {0, 0, 0, 7},         {16, 2, 4, 55},       {32, 3, 16, 134},     {48, 8, 53, 161},
    {64, 35, 124, 89},    {80, 86, 166, 48},    {96, 149, 183, 26},   {112, 178, 197, 23},
    {128, 200, 191, 20},  {144, 128, 88, 42},   {160, 230, 131, 20},  {176, 204, 90, 42},
    {192, 224, 84, 42},   {208, 238, 110, 74},  {224, 242, 97, 74},   {240, 253, 125, 121},
    {255, 255, 255, 255},
};

// The last node lies at 240: greys above it come from the last cubic extended.
constexpr Node kBlueEnhanced[] = {
    {0, 0, 0, 5},       {16, 1, 1, 39},      {32, 1, 2, 99},      {48, 2, 5, 159},
    {64, 2, 21, 209},   {80, 2, 59, 228},    {96, 4, 109, 225},   {112, 3, 131, 232},
    {128, 9, 159, 220}, {144, 8, 114, 128},  {160, 20, 212, 149}, {176, 46, 193, 95},
    {192, 59, 216, 72}, {208, 95, 221, 79},  {224, 107, 228, 63}, {240, 184, 211, 24},
};

// The last node lies at 254, so grey 255 is extrapolated.
constexpr Node kCirrusLike[] = {
    {0, 0, 0, 0},        {8, 0, 1, 1},        {16, 0, 1, 3},       {24, 0, 3, 7},
    {32, 1, 6, 14},      {40, 1, 11, 24},     {48, 1, 19, 38},     {56, 1, 30, 58},
    {64, 1, 47, 81},     {72, 2, 70, 102},    {80, 2, 96, 120},    {88, 3, 122, 126},
    {96, 6, 148, 125},   {104, 10, 171, 118}, {112, 16, 191, 104}, {120, 23, 208, 87},
    {128, 35, 221, 68},  {136, 50, 231, 50},  {144, 70, 238, 35},  {152, 94, 243, 23},
    {160, 121, 244, 16}, {168, 148, 245, 11}, {176, 174, 243, 8},  {184, 198, 240, 6},
    {192, 217, 234, 4},  {200, 231, 226, 3},  {208, 239, 211, 2},  {216, 244, 193, 2},
    {224, 248, 171, 1},  {232, 251, 146, 2},  {240, 253, 119, 2},  {248, 254, 90, 5},
    {254, 255, 43, 16},
};

velIPL::RGBImage emptyTable() { return velIPL::RGBImage(kTableSize, 3, 0); }

// Splines overshoot between nodes; out-of-range values are clamped, never
// wrapped. NaN fails the second test and becomes 0 too.
double clampToByte(double v) {
  if (v > 255.0) v = 255.0;
  if (!(v >= 0.0)) v = 0.0;
  return v;
}

// Evaluates the three channel splines through the nodes at the samples t and
// stores convert(clamped value) for every sample j at column j.
template <std::size_t N, typename Convert>
velIPL::RGBImage splineTable(const Node (&nodes)[N], const mathORN::RowVector& t, Convert convert) {
  const int n = static_cast<int>(N);
  mathORN::RowVector x(n);
  std::array<mathORN::RowVector, 3> channel{mathORN::RowVector(n), mathORN::RowVector(n), mathORN::RowVector(n)};
  for (int i = 0; i < n; ++i) {
    x[i] = nodes[i].x;
    channel[0][i] = nodes[i].r;
    channel[1][i] = nodes[i].g;
    channel[2][i] = nodes[i].b;
  }
  velIPL::RGBImage table = emptyTable();
  for (int c = 0; c < 3; ++c) {
    const mathORN::RowVector values = mathORN::PiecewisePolynomialSpline(x, channel[c]).evaluate(t);
    for (int j = 0; j < kTableSize; ++j) {
      table.at(j, 0, c) = static_cast<unsigned char>(convert(clampToByte(values[j])));
    }
  }
  return table;
}

template <std::size_t N>
velIPL::RGBImage greyAxisTable(const Node (&nodes)[N]) {
  mathORN::RowVector t(kTableSize);
  for (int j = 0; j < kTableSize; ++j) t[j] = j;
  return splineTable(nodes, t, [](double v) { return mathORN::round(v); });
}

}  // namespace

velIPL::RGBImage MakeRainbowScale() {
  // The samples spread evenly from the first node to the last; the product is
  // formed in this order so the table is the same on every machine.
  mathORN::RowVector t(kTableSize);
  for (int j = 0; j < kTableSize; ++j) t[j] = j * (1.0 / 255.0) * 29.0;
  return splineTable(kRainbow, t, [](double v) { return std::trunc(v); });
}

velIPL::RGBImage MakeRedEnhancedScale() { return greyAxisTable(kRedEnhanced); }

velIPL::RGBImage MakeBlueEnhancedScale() { return greyAxisTable(kBlueEnhanced); }

velIPL::RGBImage MakeCirrusLikeScale() { return greyAxisTable(kCirrusLike); }

velIPL::RGBImage MakeWhiteOnBlackScale() {
  velIPL::RGBImage table = emptyTable();
  for (int g = 0; g < kTableSize; ++g) {
    for (int c = 0; c < 3; ++c) table.at(g, 0, c) = static_cast<unsigned char>(g);
  }
  return table;
}

velIPL::RGBImage MakeBlackOnWhiteScale() {
  velIPL::RGBImage table = emptyTable();
  for (int g = 0; g < kTableSize; ++g) {
    for (int c = 0; c < 3; ++c) table.at(g, 0, c) = static_cast<unsigned char>(255 - g);
  }
  return table;
}

int colorScaleIndex(std::string_view key) {
  for (int i = 0; i < kColorScaleCount; ++i) {
    if (key == kColorScales[i].key) return i;
  }
  return -1;
}

velIPL::RGBImage SelectedColorScale(int itemIndex) {
  if (itemIndex < 0 || itemIndex >= kColorScaleCount) return MakeRainbowScale();
  return kColorScales[static_cast<std::size_t>(itemIndex)].build();
}

velIPL::RGBImage ApplyColorScale(const velIPL::RGBImage& table, const velIPL::GImage& grey) {
  const int width = grey.width();
  const int height = grey.height();
  velIPL::RGBImage result(width, height, 0);
  for (int c = 0; c < 3; ++c) {
    const unsigned char* lut = table.row(0, c);
    for (int y = 0; y < height; ++y) {
      const unsigned char* in = grey.row(y);
      unsigned char* out = result.row(y, c);
      for (int x = 0; x < width; ++x) out[x] = lut[in[x]];
    }
  }
  return result;
}

}  // namespace lumifold
