#include "merge/median_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

using lumifold::correctOutliers;
using lumifold::kMedian25Network;
using lumifold::median;
using lumifold::median25;
using lumifold::smoothProfile;
using mathORN::RowVector;

namespace {

RowVector profile(const std::vector<double>& values) {
  return RowVector(values.data(), static_cast<int>(values.size()));
}

std::vector<double> values(const RowVector& v) { return std::vector<double>(v.data(), v.data() + v.size()); }

}  // namespace

TEST(MedianFilters, MedianIsMiddleOfSortedCopy) {
  std::vector<double> v(15);
  std::iota(v.begin(), v.end(), 1.0);
  std::mt19937 shuffle(7);
  for (int round = 0; round < 20; ++round) {
    std::shuffle(v.begin(), v.end(), shuffle);
    const std::vector<double> before = v;
    EXPECT_EQ(median(v.data(), 15), 8.0);
    EXPECT_EQ(v, before);
  }
  std::vector<double> mostlyZero(8, 0.0);
  mostlyZero.insert(mostlyZero.end(), 7, 9.0);
  EXPECT_EQ(median(mostlyZero.data(), 15), 0.0);
  std::vector<double> mostlyNine(7, 0.0);
  mostlyNine.insert(mostlyNine.end(), 8, 9.0);
  EXPECT_EQ(median(mostlyNine.data(), 15), 9.0);
  // An even count gives the upper middle; no values at all give 0.
  const double four[] = {4, 1, 3, 2};
  EXPECT_EQ(median(four, 4), 3.0);
  EXPECT_EQ(median(nullptr, 0), 0.0);
}

TEST(MedianFilters, Median25SelectsThirteenthSmallest) {
  std::vector<double> v(25);
  std::iota(v.begin(), v.end(), 0.0);
  std::mt19937 shuffle(11);
  for (int round = 0; round < 2000; ++round) {
    std::shuffle(v.begin(), v.end(), shuffle);
    std::vector<double> buffer = v;
    ASSERT_EQ(median25(buffer.data()), 12.0);
    ASSERT_EQ(buffer[12], 12.0);
    // The buffer is only reordered.
    std::sort(buffer.begin(), buffer.end());
    std::vector<double> sorted(25);
    std::iota(sorted.begin(), sorted.end(), 0.0);
    ASSERT_EQ(buffer, sorted);
  }
  // Many ties.
  std::uniform_int_distribution<int> small(-2, 2);
  for (int round = 0; round < 2000; ++round) {
    std::vector<double> buffer(25);
    for (double& x : buffer) x = small(shuffle);
    std::vector<double> sorted = buffer;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(median25(buffer.data()), sorted[12]);
  }
}

TEST(MedianFilters, Median25NetworkSelectsForEveryBinaryInput) {
  // By the 0-1 principle a comparator network that selects the median of
  // every input of 0s and 1s selects it for every input. All 2^25 binary
  // inputs run at once, 64 per word: lane l of block b is input b * 64 + l,
  // and bit p of that number is the value at position p.
  constexpr std::uint64_t kLanePattern[6] = {0xAAAAAAAAAAAAAAAAULL, 0xCCCCCCCCCCCCCCCCULL,
                                             0xF0F0F0F0F0F0F0F0ULL, 0xFF00FF00FF00FF00ULL,
                                             0xFFFF0000FFFF0000ULL, 0xFFFFFFFF00000000ULL};
  std::uint64_t wrong = 0;
  for (std::uint32_t block = 0; block < (1u << 19); ++block) {
    std::uint64_t word[25];
    for (int p = 0; p < 6; ++p) word[p] = kLanePattern[p];
    for (int p = 6; p < 25; ++p) word[p] = ((block >> (p - 6)) & 1u) ? ~0ULL : 0ULL;
    for (const auto& [a, b] : kMedian25Network) {
      const std::uint64_t low = word[a] & word[b];
      const std::uint64_t high = word[a] | word[b];
      word[a] = low;
      word[b] = high;
    }
    // The median is 1 exactly when at least 13 of the 25 values are 1.
    const int blockOnes = std::popcount(block);
    std::uint64_t expected = 0;
    for (int lane = 0; lane < 64; ++lane) {
      if (blockOnes + std::popcount(static_cast<unsigned>(lane)) >= 13) expected |= 1ULL << lane;
    }
    wrong |= word[12] ^ expected;
  }
  EXPECT_EQ(wrong, 0u);
}

TEST(MedianFilters, SmoothProfileRunsInPlaceLeftToRight) {
  RowVector s = profile({0, 0, 0, 5, 5, 0, 0, 5, 5, 5, 0, 5, 5, 0, 0, 0, 5});
  // A median of the unchanged values would give 5 at column 9.
  std::vector<double> window(s.data() + 2, s.data() + 17);
  EXPECT_EQ(median(window.data(), 15), 5.0);
  smoothProfile(s);
  EXPECT_EQ(values(s), (std::vector<double>{0, 0, 0, 5, 5, 0, 0, 0, 0, 0, 0, 5, 5, 0, 0, 0, 5}));
}

TEST(MedianFilters, SmoothProfileRemovesSpikeButKeepsEdgeColumns) {
  std::vector<double> v(40, 0.0);
  v[20] = 30;
  v[3] = 17;   // within the first 7 columns: untouched
  v[35] = -9;  // within the last 7: untouched
  RowVector s = profile(v);
  smoothProfile(s);
  std::vector<double> expected(40, 0.0);
  expected[3] = 17;
  expected[35] = -9;
  EXPECT_EQ(values(s), expected);

  // 14 columns or fewer are left alone.
  std::vector<double> shortProfile(14, 0.0);
  shortProfile[7] = 50;
  RowVector t = profile(shortProfile);
  smoothProfile(t);
  EXPECT_EQ(values(t), shortProfile);
  RowVector empty;
  smoothProfile(empty);
  EXPECT_EQ(empty.size(), 0);
}

TEST(MedianFilters, CorrectOutliersReplacesOnlyDeviationsAboveTwenty) {
  for (double spike : {25.0, -21.0, 20.0, -20.0}) {
    std::vector<double> v(30, 0.0);
    v[15] = spike;
    RowVector s = profile(v);
    correctOutliers(s);
    EXPECT_EQ(s[15], std::abs(spike) > 20.0 ? 0.0 : spike) << spike;
  }
  // Columns below 12 are never compared.
  std::vector<double> v(40, 0.0);
  v[5] = 90;
  RowVector s = profile(v);
  correctOutliers(s);
  EXPECT_EQ(s[5], 90.0);
  // 24 columns or fewer are left alone.
  std::vector<double> shortProfile(24, 0.0);
  shortProfile[12] = 90;
  RowVector t = profile(shortProfile);
  correctOutliers(t);
  EXPECT_EQ(values(t), shortProfile);
}

TEST(MedianFilters, CorrectOutliersTakesEveryWindowFromTheSnapshot) {
  // Column 16 sits among 13 shifts of 30 in its window and becomes 30;
  // columns 23 and 36 see at most 12 and become 0. Column 24 sees 12 in the
  // unchanged profile and stays 0. A pass that let the new value of 16 into
  // later windows would keep 23 at 30 and move 24 to 30.
  std::vector<double> v(60, 0.0);
  for (int x = 10; x <= 15; ++x) v[x] = 30;
  for (int x = 17; x <= 23; ++x) v[x] = 30;
  v[36] = 30;
  RowVector s = profile(v);
  correctOutliers(s);
  std::vector<double> expected = v;
  expected[16] = 30;
  expected[23] = 0;
  expected[36] = 0;
  EXPECT_EQ(values(s), expected);
}
