#include "merge/fast/median_filters_fast.h"

#include <algorithm>
#include <cmath>

#include "merge/fast/batch_lanes.h"
#include "merge/median_filters.h"

namespace lumifold {

using mathORN::RowVector;

namespace {

constexpr int kOutlierWindow = 2 * kOutlierHalf + 1;
static_assert(kOutlierWindow == 25, "the lanes run the 25-value network");

// median25 of the windows starting at first + l, for each lane l, into out.
LUMIFOLD_LANE_KERNEL void median25OfLanes(const double* first, double* out) {
  using namespace lanes;
  Vec v[kOutlierWindow];
  for (int j = 0; j < kOutlierWindow; ++j) v[j] = load(first + j);
  for (const auto& [a, b] : kMedian25Network) {
    const Mask exchange = v[a] > v[b];
    const Vec x = v[a];
    v[a] = select(exchange, v[b], x);
    v[b] = select(exchange, x, v[b]);
  }
  store(out, v[kOutlierHalf]);
}

}  // namespace

void correctOutliersInLanes(RowVector& s) {
  const int n = s.size();
  const RowVector snapshot(s);
  RowVector medians(s);
  int x = kOutlierHalf;
  for (; x + kBatchLanes <= n - kOutlierHalf; x += kBatchLanes) {
    median25OfLanes(snapshot.data() + x - kOutlierHalf, medians.data() + x);
  }
  double buffer[kOutlierWindow];
  for (; x < n - kOutlierHalf; ++x) {
    std::copy(snapshot.data() + x - kOutlierHalf, snapshot.data() + x + kOutlierHalf + 1, buffer);
    medians[x] = median25(buffer);
  }
  for (int i = 0; i < n; ++i) {
    if (std::fabs(s[i] - medians[i]) > kOutlierRows) s[i] = medians[i];
  }
}

}  // namespace lumifold
