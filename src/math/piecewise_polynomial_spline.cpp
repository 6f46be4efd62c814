#include "math/piecewise_polynomial_spline.h"

#include <cmath>
#include <vector>

#include "math/col_vector.h"
#include "math/math_exception.h"

namespace mathORN {

PiecewisePolynomialSpline::PiecewisePolynomialSpline(const RowVector& x, const RowVector& y) {
  const int n = x.size();
  if (n < 3) throw MathException("Not yet implemented");

  std::vector<double> dx(n - 1);
  for (int i = 0; i < n - 1; ++i) dx[i] = x[i + 1] - x[i];
  for (int i = 0; i < n - 1; ++i) {
    if (dx[i] == 0.0 || std::isnan(dx[i])) throw MathException("The data abscissae should be distinct");
    if (dx[i] < 0.0) throw MathException("The data abscissae should be sorted");
  }
  // Reading y past its end is never acceptable; a mismatch is a shape error.
  if (y.size() != n) throw MathException("Incompatible vector size");

  std::vector<double> d(n - 1);
  for (int i = 0; i < n - 1; ++i) d[i] = (y[i + 1] - y[i]) / dx[i];

  std::vector<double> s(n);
  if (n == 3) {
    // Both not-a-knot rows describe the same condition here, so the general
    // system is singular; the interpolant is the parabola through the points.
    const double c2 = (d[1] - d[0]) / (x[2] - x[0]);
    s[0] = d[0] - c2 * dx[0];
    s[1] = d[0] + c2 * dx[0];
    s[2] = d[1] + c2 * dx[1];
  } else {
    std::vector<double> l(n), m(n), u(n), r(n);
    for (int i = 1; i <= n - 2; ++i) {
      l[i] = dx[i];
      m[i] = 2.0 * (dx[i - 1] + dx[i]);
      u[i] = dx[i - 1];
      r[i] = 3.0 * (dx[i - 1] * d[i] + dx[i] * d[i - 1]);
    }
    const double x31 = x[2] - x[0];
    m[0] = dx[1];
    u[0] = x31;
    r[0] = ((dx[0] + 2.0 * x31) * dx[1] * d[0] + dx[0] * dx[0] * d[1]) / x31;
    const double xn = x[n - 1] - x[n - 3];
    l[n - 1] = xn;
    m[n - 1] = dx[n - 3];
    r[n - 1] = (dx[n - 2] * dx[n - 2] * d[n - 3] + (2.0 * xn + dx[n - 2]) * dx[n - 3] * d[n - 2]) / xn;

    // Thomas algorithm: elimination without pivoting, then back substitution.
    std::vector<double> gamma(n);
    double beta = m[0];
    if (beta == 0.0) throw MathException("Error in data, zero in tridiagonal");
    s[0] = r[0] / beta;
    for (int j = 1; j < n; ++j) {
      gamma[j] = u[j - 1] / beta;
      beta = m[j] - l[j] * gamma[j];
      if (beta == 0.0) throw MathException("Error in data, zero in tridiagonal");
      s[j] = (r[j] - l[j] * s[j - 1]) / beta;
    }
    for (int j = n - 2; j >= 0; --j) s[j] = s[j] - gamma[j + 1] * s[j + 1];
  }

  Matrix coefs(n - 1, 4);
  for (int i = 0; i < n - 1; ++i) {
    const double c = (s[i] + s[i + 1] - 2.0 * d[i]) / dx[i];
    coefs(i, 0) = c / dx[i];
    coefs(i, 1) = (d[i] - s[i]) / dx[i] - c;
    coefs(i, 2) = s[i];
    coefs(i, 3) = y[i];
  }
  breaks_ = x;
  coefs_ = coefs;
  order_ = 4;
}

RowVector PiecewisePolynomialSpline::evaluate(const RowVector& xx) const {
  const int n = breaks_.size();
  const int m = xx.size();
  IndexVector interval(m);
  RowVector h(m);
  int k = 0;
  for (int j = 0; j < m; ++j) {
    while (k < n - 2 && xx[j] >= breaks_[k + 1]) ++k;
    interval[j] = k;
  }
  for (int j = 0; j < m; ++j) h[j] = xx[j] - breaks_[interval[j]];

  RowVector result(m);
  for (int j = 0; j < m; ++j) {
    const int row = interval[j];
    double v = coefs_(row, 0);
    for (int q = 1; q < order_; ++q) v = coefs_(row, q) + h[j] * v;
    result[j] = v;
  }
  return result;
}

}  // namespace mathORN
