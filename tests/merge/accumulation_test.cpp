#include "merge/accumulation.h"

#include <gtest/gtest.h>

#include <cmath>

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

// The pooled accumulation against the straightforward one: whole shifts
// inside and beyond the height, runs of every length, NaN, and a profile
// with a fraction in it (which takes the straightforward way).
TEST(Accumulation, PooledSumsEqualStraightforwardSums) {
  unsigned state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (int threads : {1, 2, 3}) {
    lumifold::WorkerPool pool(threads);
    for (int round = 0; round < 40; ++round) {
      const int w = 1 + static_cast<int>(next() % 70), h = 1 + static_cast<int>(next() % 90);
      GImage image(w, h, 0);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) image.at(x, y) = static_cast<unsigned char>(next());
      }
      RowVector s(w);
      double shift = 0.0;
      for (int x = 0; x < w; ++x) {
        if (next() % 4 == 0) shift = static_cast<double>(static_cast<int>(next() % (2 * h + 11)) - h - 5);
        s[x] = shift;
      }
      if (round % 9 == 1) s[0] = std::nan("");
      if (round % 9 == 2) s[w - 1] = 1e300;
      if (round % 9 == 3) s[w / 2] = 1.5;
      DImage expected(w, h, 0.5), actual(w, h, 0.5);
      accumulateShifted(expected, image, s);
      accumulateShifted(actual, image, s, pool);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) ASSERT_EQ(actual.at(x, y), expected.at(x, y)) << round << ": " << x << ", " << y;
      }
    }
    DImage sum(3, 4, 0.0);
    EXPECT_EQ(messageOf<velIPL::IPLException>([&] { accumulateShifted(sum, ramp(3, 5, 0), constant(3, 0.0), pool); }),
              "Image has not same dimensions as reference image");
    EXPECT_EQ(messageOf<mathORN::MathException>([&] { accumulateShifted(sum, ramp(3, 4, 0), constant(2, 0.0), pool); }),
              "Incompatible vector size");
    EXPECT_EQ(sum.at(0, 0), 0.0);
  }
}

TEST(AnteriorEdge, PooledProfileEqualsColumnByColumnScan) {
  unsigned state = 777;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  lumifold::WorkerPool pool(2);
  for (int round = 0; round < 30; ++round) {
    const int w = 1 + static_cast<int>(next() % 200), h = 1 + static_cast<int>(next() % 60);
    GImage image(w, h, 0);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        // Mostly below the threshold, 199 and 200 often, some columns never bright.
        const unsigned r = next() % 100;
        image.at(x, y) = static_cast<unsigned char>(x % 7 == 3 ? r : (r < 3 ? 200 - r % 2 : (r < 5 ? 255 : r)));
      }
    }
    const RowVector expected = anteriorEdges(image);
    const RowVector actual = anteriorEdges(image, pool);
    ASSERT_EQ(actual.size(), expected.size());
    for (int x = 0; x < w; ++x) ASSERT_EQ(actual[x], expected[x]) << round << ": column " << x;
  }
  EXPECT_EQ(anteriorEdges(GImage(), pool).size(), 0);
}

// The pooled average against the straightforward one over every quotient
// kind: whole, just below and at halves, above 255, huge, negative, NaN.
TEST(Accumulation, PooledAverageEqualsStraightforwardAverage) {
  const double special[] = {0.0,    -0.0, 0.5,  1.5,        2.4999999999999996, 254.5, 255.49, 255.5,
                            1000.0, 3e10, -1.5, std::nan(""), 0.49999999999999994, 7.0};
  unsigned state = 99;
  for (int count : {1, 2, 3, 7, 100}) {
    DImage sums(37, 11, 0.0);
    for (int y = 0; y < 11; ++y) {
      for (int x = 0; x < 37; ++x) {
        state = state * 1664525u + 1013904223u;
        const double whole = static_cast<double>((state >> 8) % (256u * static_cast<unsigned>(count) + 50));
        sums.at(x, y) = (y == 0 && x < 14) ? special[x] * count : whole;
      }
    }
    for (int threads : {1, 2}) {
      lumifold::WorkerPool pool(threads);
      const GImage expected = averageResult(sums, count);
      const GImage actual = averageResult(sums, count, pool);
      for (int y = 0; y < 11; ++y) {
        for (int x = 0; x < 37; ++x) ASSERT_EQ(actual.at(x, y), expected.at(x, y)) << count << ": " << x << ", " << y;
      }
    }
  }
}
