// std::hypot for every lane of a batch vector (batch_lanes.h), with vector
// instructions.
//
// hypotLanes follows, operation by operation, the hypot of the GNU C
// library from version 2.35 on, as built for processors without fused
// multiply-add, so each lane gets the very double std::hypot returns there.
// Lanes outside that algorithm's main range (a part below 2^-459 or above
// 2^511, infinite or NaN) are handed to std::hypot itself.
//
// That equality holds only where std::hypot is that algorithm.
// laneHypotIsExact() checks the C library's version and compares the two on
// a fixed set of inputs reaching every branch, once per process; callers
// fall back to std::hypot when it says no.
#pragma once

#include <cmath>

#include "merge/fast/batch_lanes.h"

namespace lumifold::lanes {

LUMIFOLD_ALWAYS_INLINE Vec sqrtLanes(Vec v) {
  alignas(sizeof(Vec)) double lanes[kBatchLanes];
  store(lanes, v);
  for (double& d : lanes) d = __builtin_sqrt(d);
  return load(lanes);
}

LUMIFOLD_ALWAYS_INLINE Vec hypotLanes(Vec x, Vec y) {
  constexpr double kLarge = 0x1p511;
  constexpr double kTiny = 0x1p-459;
  constexpr double kEps = 0x1p-54;
  const Mask noSign = reinterpret_cast<Mask>(splat(0.0)) | 0x7fffffffffffffffLL;
  const Vec fx = reinterpret_cast<Vec>(reinterpret_cast<Mask>(x) & noSign);
  const Vec fy = reinterpret_cast<Vec>(reinterpret_cast<Mask>(y) & noSign);
  const Mask swap = fx < fy;
  const Vec ax = select(swap, fy, fx);
  const Vec ay = select(swap, fx, fy);

  const Vec h = sqrtLanes(ax * ax + ay * ay);
  const Vec ay2 = ay + ay;
  // h <= 2 ay
  const Vec nearD = h - ay;
  const Vec nearT1 = ax * ((nearD + nearD) - ax);
  const Vec axMinusAy = ax - ay;
  const Vec nearT2 = (nearD - (axMinusAy + axMinusAy)) * nearD;
  // h > 2 ay
  const Vec farD = h - ax;
  const Vec farT1 = (farD + farD) * (ax - ay2);
  const Vec farT2 = (4.0 * farD - ay) * ay + farD * farD;
  const Mask near = h <= ay2;
  const Vec t1 = select(near, nearT1, farT1);
  const Vec t2 = select(near, nearT2, farT2);
  const Vec corrected = h - (t1 + t2) / (h + h);
  Vec r = select(ay <= ax * kEps, ax + ay, corrected);

  const Mask common = (ax <= kLarge) & (ay >= kTiny);
  bool all = true;
  for (int l = 0; l < kBatchLanes; ++l) all &= common[l] != 0;
  if (all) return r;
  for (int l = 0; l < kBatchLanes; ++l) {
    if (!common[l]) r[l] = std::hypot(x[l], y[l]);
  }
  return r;
}

// out[i] = hypotLanes of x[i], y[i] for i < n, n a multiple of kBatchLanes.
void hypotOfArrays(const double* x, const double* y, double* out, int n);

// True when the C library is one whose hypot is the algorithm above.
bool libraryHypotIsLaneAlgorithm();

// True when hypotLanes equals std::hypot here: the library qualifies and the
// two agree on the fixed inputs (see above).
bool laneHypotIsExact();

}  // namespace lumifold::lanes
