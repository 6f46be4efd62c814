#include "math/rounding.h"

#include <cmath>

namespace mathORN {

double round(double x) {
  if (x > 1e10 || !(x >= -1e10)) x = 0.0;
  const double s = sign(x);
  // trunc(|x| + 0.5) must be taken of the exact sum: adding 0.5 in double
  // would turn 0.49999999999999994 into 1. Splitting |x| into its whole part
  // and its fraction (both exact) and comparing the fraction with one half
  // gives the exact result without any rounded intermediate.
  const double a = std::fabs(x);
  const double whole = std::trunc(a);
  const double m = (a - whole >= 0.5) ? whole + 1.0 : whole;
  return s * m;
}

double sign(double x) {
  if (x > 0.0) return 1.0;
  if (x < 0.0) return -1.0;
  return 0.0;
}

}  // namespace mathORN
