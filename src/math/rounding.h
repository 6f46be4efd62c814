// round and sign: the rounding every caller of the math library shares.
#pragma once

namespace mathORN {

// The nearest integer to x as a double, halves away from zero: 0.5 -> 1,
// -2.5 -> -3, 0.49999999999999994 -> 0. Values above 1e10, below -1e10 and
// NaN give 0. Never throws.
double round(double x);

// 0.0 for x == 0 (either sign) and for NaN, 1.0 for x > 0, -1.0 for x < 0.
double sign(double x);

}  // namespace mathORN
