// The lane-wise outlier correction against the literal one it must equal.
#include "merge/fast/median_filters_fast.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "merge/median_filters.h"

using lumifold::correctOutliers;
using mathORN::RowVector;

namespace {

RowVector profile(const std::vector<double>& values) {
  return RowVector(values.data(), static_cast<int>(values.size()));
}

}  // namespace

// Four windows per vector against one at a time: profiles of every length
// around the window and the lane count, with repeated values, spikes, and
// zeros of both signs (an edge profile holds -0 where edges agree), compared
// bit for bit.
TEST(MedianFilters, CorrectOutliersInLanesEqualsOneWindowAtATime) {
  std::mt19937 random(7);
  const double choices[] = {0.0, -0.0, 1.0, -1.0, 3.0, 25.0, -30.0, 40.0, 0.5, 100.0};
  for (int n = 0; n < 90; ++n) {
    for (int round = 0; round < 20; ++round) {
      std::vector<double> v(n);
      for (double& d : v) d = choices[random() % (round % 2 == 0 ? 3 : 10)];
      RowVector expected = profile(v), actual = profile(v);
      correctOutliers(expected);
      lumifold::correctOutliersInLanes(actual);
      for (int x = 0; x < n; ++x) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(actual[x]), std::bit_cast<std::uint64_t>(expected[x]))
            << "n " << n << ", round " << round << ", column " << x;
      }
    }
  }
}
