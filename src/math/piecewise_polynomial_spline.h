// PiecewisePolynomialSpline: the cubic interpolating spline with not-a-knot
// ends that shapes the colour scales.
//
// Built once from n points (x strictly increasing) and held as break points
// plus four coefficients per interval, highest power first. The constructor
// throws MathException: "Not yet implemented" (n < 3), "The data abscissae
// should be distinct" / "should be sorted" (first offending step decides),
// "Incompatible vector size" (y not the size of x) and "Error in data, zero
// in tridiagonal" (a zero pivot). Three points give the parabola through
// them, the only not-a-knot interpolant there is. Evaluation never throws.
#pragma once

#include "math/matrix.h"
#include "math/row_vector.h"

namespace mathORN {

class PiecewisePolynomialSpline {
public:
  PiecewisePolynomialSpline(const RowVector& x, const RowVector& y);

  // The spline at every xx[j]. Intervals are found by one forward scan that
  // never goes back: the points are expected in ascending order, and a point
  // left of an earlier point's interval is evaluated on that interval.
  // Points outside the breaks extrapolate with the end cubics.
  RowVector evaluate(const RowVector& xx) const;

  const RowVector& breaks() const { return breaks_; }
  const Matrix& coefs() const { return coefs_; }
  int order() const { return order_; }

private:
  RowVector breaks_;
  Matrix coefs_;
  int order_ = 0;
};

}  // namespace mathORN
