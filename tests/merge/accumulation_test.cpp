#include "merge/accumulation.h"

#include <gtest/gtest.h>

#include "ipl/ipl_exception.h"
#include "math/math_exception.h"
#include "merge/anterior_edge.h"
#include "test_util.h"

using lumifold::accumulateShifted;
using lumifold::anteriorEdges;
using lumifold::averageResult;
using mathORN::RowVector;
using testutil::messageOf;
using velIPL::DImage;
using velIPL::GImage;

namespace {

GImage ramp(int width, int height, int base) {
  GImage image(width, height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.at(x, y) = static_cast<unsigned char>(base + 10 * y + x);
  }
  return image;
}

RowVector constant(int n, double value) {
  RowVector v(n);
  v = value;
  return v;
}

}  // namespace

TEST(Accumulation, ShiftMovesColumnsDownAndLeavesUncoveredRowsEmpty) {
  const GImage image = ramp(3, 4, 100);
  DImage sum(3, 4, 0.0);
  accumulateShifted(sum, image, constant(3, 1.0));
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(sum.at(x, 0), 0.0);
    for (int y = 1; y < 4; ++y) EXPECT_EQ(sum.at(x, y), image.at(x, y - 1));
  }

  // Per column, negative shifts read lower rows; a shift of the full height
  // or more adds nothing, as does a NaN.
  RowVector s(3);
  s[0] = -2;
  s[1] = 4;
  s[2] = -400;
  DImage other(3, 4, 1.0);
  accumulateShifted(other, image, s);
  EXPECT_EQ(other.at(0, 0), 1.0 + image.at(0, 2));
  EXPECT_EQ(other.at(0, 1), 1.0 + image.at(0, 3));
  EXPECT_EQ(other.at(0, 2), 1.0);
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(other.at(1, y), 1.0);
    EXPECT_EQ(other.at(2, y), 1.0);
  }
}

TEST(Accumulation, RefusesMismatchedImageOrProfileBeforeAdding) {
  DImage sum(3, 4, 5.0);
  EXPECT_EQ(messageOf<velIPL::IPLException>([&] { accumulateShifted(sum, ramp(3, 5, 0), constant(3, 0)); }),
            "Image has not same dimensions as reference image");
  EXPECT_EQ(messageOf<velIPL::IPLException>([&] { accumulateShifted(sum, ramp(2, 4, 0), constant(3, 0)); }),
            "Image has not same dimensions as reference image");
  EXPECT_EQ(messageOf<mathORN::MathException>([&] { accumulateShifted(sum, ramp(3, 4, 0), constant(2, 0)); }),
            "Incompatible vector size");
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(sum.at(x, y), 5.0);
  }
}

TEST(Accumulation, AverageRoundsHalvesUpAndClampsAt255) {
  DImage sum(5, 1, 0.0);
  sum.at(0, 0) = 3;    // 1.5 -> 2
  sum.at(1, 0) = 1;    // 0.5 -> 1
  sum.at(2, 0) = 2.9;  // 1.45 -> 1
  sum.at(3, 0) = 511;  // 255.5 -> 256 -> 255
  sum.at(4, 0) = 0;
  const GImage avg = averageResult(sum, 2);
  ASSERT_EQ(avg.width(), 5);
  ASSERT_EQ(avg.height(), 1);
  EXPECT_EQ(avg.at(0, 0), 2);
  EXPECT_EQ(avg.at(1, 0), 1);
  EXPECT_EQ(avg.at(2, 0), 1);
  EXPECT_EQ(avg.at(3, 0), 255);
  EXPECT_EQ(avg.at(4, 0), 0);
}

TEST(AnteriorEdge, FirstRowReachingTwoHundredFromTheTop) {
  GImage image(5, 6, 0);
  image.at(0, 3) = 199;  // not an edge
  image.at(0, 5) = 200;  // the edge
  image.at(1, 0) = 255;  // bright top pixel: edge at row 0
  image.at(2, 2) = 201;
  image.at(2, 4) = 250;  // later bright pixels do not matter
  for (int y = 0; y < 6; ++y) image.at(3, y) = 199;  // no edge: 0
  image.at(4, 5) = 230;
  const RowVector e = anteriorEdges(image);
  ASSERT_EQ(e.size(), 5);
  EXPECT_EQ(e[0], 5.0);
  EXPECT_EQ(e[1], 0.0);
  EXPECT_EQ(e[2], 2.0);
  EXPECT_EQ(e[3], 0.0);
  EXPECT_EQ(e[4], 5.0);
  EXPECT_EQ(anteriorEdges(GImage()).size(), 0);
}
