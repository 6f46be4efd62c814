#include "merge/fast/accumulation_fast.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "math/rounding.h"
#include "merge/accumulation.h"
#include "merge/fast/batch_lanes.h"

namespace lumifold {

namespace {

// Columns first .. end - 1 share the shift.
struct ShiftRun {
  int first, end, shift;
};

// Row y of the sum receives, run by run, the image row its shift points at.
LUMIFOLD_LANE_KERNEL void addShiftedRow(double* out, const velIPL::GImage& image, int y, const ShiftRun* runs,
                                        int runCount) {
  const int h = image.height();
  for (int r = 0; r < runCount; ++r) {
    const int src = y - runs[r].shift;
    if (src < 0 || src >= h) continue;
    const unsigned char* in = image.row(src);
    for (int x = runs[r].first; x < runs[r].end; ++x) out[x] += in[x];
  }
}

// mathORN::round spelt out for 0 <= v <= 1e10, where its sign is 1 (or 0
// with a zero whole part) and its fraction test the same.
LUMIFOLD_LANE_KERNEL void averageRow(const double* sum, int n, int imageCount, unsigned char* out) {
  for (int x = 0; x < n; ++x) {
    const double v = sum[x] / imageCount;
    double rounded;
    if (v >= 0.0 && v <= 1e10) {
      const double whole = std::trunc(v);
      rounded = v - whole >= 0.5 ? whole + 1.0 : whole;
    } else {
      rounded = mathORN::round(v);
    }
    const int r = static_cast<int>(rounded);
    out[x] = static_cast<unsigned char>(r > 255 ? 255 : r);
  }
}

}  // namespace

void accumulateShifted(velIPL::DImage& accumulator, const velIPL::GImage& image, const mathORN::RowVector& s,
                       WorkerPool& pool) {
  requireShiftable(accumulator, image, s);
  const int w = accumulator.width();
  const int h = accumulator.height();
  std::vector<ShiftRun> runs;
  for (int x = 0; x < w; ++x) {
    const double v = s[x];
    if (v != std::trunc(v) && v == v) {
      accumulateShifted(accumulator, image, s);
      return;
    }
    const int shift = static_cast<int>(clampedShift(v, h));
    if (!runs.empty() && runs.back().shift == shift) {
      runs.back().end = x + 1;
    } else {
      runs.push_back({x, x + 1, shift});
    }
  }
  const int rowsPerTask = 16;
  pool.run((h + rowsPerTask - 1) / rowsPerTask, [&](int task, int) {
    const int end = std::min(h, (task + 1) * rowsPerTask);
    for (int y = task * rowsPerTask; y < end; ++y) {
      addShiftedRow(accumulator.row(y), image, y, runs.data(), static_cast<int>(runs.size()));
    }
  });
}

velIPL::GImage averageResult(const velIPL::DImage& accumulator, int imageCount, WorkerPool& pool) {
  const int w = accumulator.width();
  const int h = accumulator.height();
  velIPL::GImage result(w, h, 0);
  const int rowsPerTask = 32;
  pool.run((h + rowsPerTask - 1) / rowsPerTask, [&](int task, int) {
    const int end = std::min(h, (task + 1) * rowsPerTask);
    for (int y = task * rowsPerTask; y < end; ++y) averageRow(accumulator.row(y), w, imageCount, result.row(y));
  });
  return result;
}

}  // namespace lumifold
