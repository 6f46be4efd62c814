// The pooled accumulation steps against the literal ones they must equal.
#include "merge/fast/accumulation_fast.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ipl/ipl_exception.h"
#include "math/math_exception.h"
#include "merge/accumulation.h"
#include "test_util.h"

using lumifold::accumulateShifted;
using lumifold::averageResult;
using mathORN::RowVector;
using testutil::messageOf;
using velIPL::DImage;
using velIPL::GImage;

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
    EXPECT_EQ(messageOf<velIPL::IPLException>([&] { accumulateShifted(sum, GImage(3, 5, 0), RowVector(3), pool); }),
              "Image has not same dimensions as reference image");
    EXPECT_EQ(messageOf<mathORN::MathException>([&] { accumulateShifted(sum, GImage(3, 4, 0), RowVector(2), pool); }),
              "Incompatible vector size");
    EXPECT_EQ(sum.at(0, 0), 0.0);
  }
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
