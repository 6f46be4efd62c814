#include "merge/median_filters.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>
#include <vector>

namespace lumifold {

using mathORN::RowVector;

const std::array<std::pair<int, int>, 99> kMedian25Network = {{
    {0, 1},   {3, 4},   {2, 4},   {2, 3},   {6, 7},   {5, 7},   {5, 6},   {9, 10},  {8, 10},
    {8, 9},   {12, 13}, {11, 13}, {11, 12}, {15, 16}, {14, 16}, {14, 15}, {18, 19}, {17, 19},
    {17, 18}, {21, 22}, {20, 22}, {20, 21}, {23, 24}, {2, 5},   {3, 6},   {0, 6},   {0, 3},
    {4, 7},   {1, 7},   {1, 4},   {11, 14}, {8, 14},  {8, 11},  {12, 15}, {9, 15},  {9, 12},
    {13, 16}, {10, 16}, {10, 13}, {20, 23}, {17, 23}, {17, 20}, {21, 24}, {18, 24}, {18, 21},
    {19, 22}, {8, 17},  {9, 18},  {0, 18},  {0, 9},   {10, 19}, {1, 19},  {1, 10},  {11, 20},
    {2, 20},  {2, 11},  {12, 21}, {3, 21},  {3, 12},  {13, 22}, {4, 22},  {4, 13},  {14, 23},
    {5, 23},  {5, 14},  {15, 24}, {6, 24},  {6, 15},  {7, 16},  {7, 19},  {13, 21}, {15, 23},
    {7, 13},  {7, 15},  {1, 9},   {3, 11},  {5, 17},  {11, 17}, {9, 17},  {4, 10},  {6, 12},
    {7, 14},  {4, 6},   {4, 7},   {12, 14}, {10, 14}, {6, 7},   {10, 12}, {6, 10},  {6, 17},
    {12, 17}, {7, 17},  {7, 10},  {12, 18}, {7, 12},  {10, 18}, {12, 20}, {10, 20}, {10, 12},
}};

double medianOf(std::vector<double> values) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

double median(const double* values, int count) {
  if (count <= 0) return 0.0;
  // The running median's windows fit on the stack; a profile pass would
  // otherwise allocate once per column.
  double small[32];
  std::vector<double> large;
  double* copy = small;
  if (count > 32) {
    large.assign(values, values + count);
    copy = large.data();
  } else {
    std::copy(values, values + count, small);
  }
  std::sort(copy, copy + count);
  return copy[count / 2];
}

double median25(double* values) {
  // Selects instead of branches: which way each comparison goes is close to
  // random, and the exchange happens exactly when values[a] > values[b].
  for (const auto& [a, b] : kMedian25Network) {
    const double x = values[a], y = values[b];
    const bool exchange = x > y;
    values[a] = exchange ? y : x;
    values[b] = exchange ? x : y;
  }
  return values[12];
}

void smoothProfile(RowVector& s) {
  const int n = s.size();
  double buffer[2 * kRunningHalf + 1];
  for (int x = kRunningHalf; x < n - kRunningHalf; ++x) {
    std::copy(s.data() + x - kRunningHalf, s.data() + x + kRunningHalf + 1, buffer);
    s[x] = median(buffer, 2 * kRunningHalf + 1);
  }
}

void correctOutliers(RowVector& s) {
  const int n = s.size();
  const RowVector snapshot(s);
  RowVector medians(s);
  double buffer[2 * kOutlierHalf + 1];
  for (int x = kOutlierHalf; x < n - kOutlierHalf; ++x) {
    std::copy(snapshot.data() + x - kOutlierHalf, snapshot.data() + x + kOutlierHalf + 1, buffer);
    medians[x] = median25(buffer);
  }
  const RowVector d = abs(s - medians);
  for (int x = 0; x < n; ++x) {
    if (d[x] > kOutlierRows) s[x] = medians[x];
  }
}

}  // namespace lumifold
