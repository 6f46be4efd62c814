#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "math/rounding.h"

using mathORN::sign;

namespace {
// A name of our own: ::round from <cmath> would clash with mathORN::round.
double roundHalfAway(double x) { return mathORN::round(x); }
}  // namespace

TEST(Round, HalvesAwayFromZero) {
  EXPECT_EQ(roundHalfAway(0.5), 1.0);
  EXPECT_EQ(roundHalfAway(-0.5), -1.0);
  EXPECT_EQ(roundHalfAway(2.5), 3.0);
  EXPECT_EQ(roundHalfAway(-2.5), -3.0);
  EXPECT_EQ(roundHalfAway(254.5), 255.0);
  EXPECT_EQ(roundHalfAway(1.49), 1.0);
  EXPECT_EQ(roundHalfAway(255.49), 255.0);
  EXPECT_EQ(roundHalfAway(0.0), 0.0);
  EXPECT_EQ(roundHalfAway(-7.6), -8.0);
}

TEST(Round, ExactSumBeforeTruncation) {
  // 0.49999999999999994 + 0.5 rounds to 1.0 in double; the exact sum is
  // below 1 and must truncate to 0.
  const double justBelowHalf = std::nextafter(0.5, 0.0);
  EXPECT_EQ(justBelowHalf, 0.49999999999999994);
  EXPECT_EQ(roundHalfAway(justBelowHalf), 0.0);
  EXPECT_EQ(roundHalfAway(-justBelowHalf), 0.0);
  // Every value just below or at a half, over the range the callers use.
  for (int k = 0; k <= 300; ++k) {
    const double half = k + 0.5;
    EXPECT_EQ(roundHalfAway(std::nextafter(half, 0.0)), k) << k;
    EXPECT_EQ(roundHalfAway(half), k + 1) << k;
    EXPECT_EQ(roundHalfAway(-std::nextafter(half, 0.0)), -k) << k;
  }
}

TEST(Round, OutOfRangeAndNaNGiveZero) {
  EXPECT_EQ(roundHalfAway(1.5e10), 0.0);
  EXPECT_EQ(roundHalfAway(-1e11), 0.0);
  EXPECT_EQ(roundHalfAway(std::numeric_limits<double>::quiet_NaN()), 0.0);
  EXPECT_EQ(roundHalfAway(std::numeric_limits<double>::infinity()), 0.0);
  EXPECT_EQ(roundHalfAway(1e10), 1e10);
  EXPECT_EQ(roundHalfAway(-1e10), -1e10);
  // Beyond 32 bits, below the limit: still the nearest integer, never wrapped.
  EXPECT_EQ(roundHalfAway(3e9 + 0.5), 3e9 + 1);
}

TEST(Sign, ThreeWays) {
  EXPECT_EQ(sign(0.0), 0.0);
  EXPECT_EQ(sign(-0.0), 0.0);
  EXPECT_EQ(sign(3.2), 1.0);
  EXPECT_EQ(sign(-7.0), -1.0);
  EXPECT_EQ(sign(std::numeric_limits<double>::denorm_min()), 1.0);
}
