// Running sums of paired values, for their normalised (Pearson)
// correlation in one pass.
#pragma once

#include <cmath>

namespace lumifold {

struct PairedSums {
  double n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;

  void add(double a, double b) {
    n += 1;
    sa += a;
    sb += b;
    saa += a * a;
    sbb += b * b;
    sab += a * b;
  }

  // The correlation of the pairs added (at least two); flat when either
  // side has no spread.
  double correlation(double flat = 0.0) const {
    const double va = saa - sa * sa / n, vb = sbb - sb * sb / n, cov = sab - sa * sb / n;
    return va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : flat;
  }
};

}  // namespace lumifold
