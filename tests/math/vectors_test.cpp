#include <gtest/gtest.h>

#include <cmath>

#include "math/col_vector.h"
#include "math/cplx_vector.h"
#include "math/math_exception.h"
#include "math/matrix.h"
#include "math/row_vector.h"
#include "test_util.h"

using mathORN::ColVector;
using mathORN::Complex;
using mathORN::CplxVector;
using mathORN::IndexVector;
using mathORN::MathException;
using mathORN::Matrix;
using mathORN::RowVector;
using testutil::messageOf;

namespace {

CplxVector cplx(std::initializer_list<Complex> values) {
  CplxVector v(static_cast<int>(values.size()));
  int i = 0;
  for (Complex c : values) v[i++] = c;
  return v;
}

}  // namespace

TEST(RowVector, ConstructionCopiesAndAssignmentsAreIndependent) {
  RowVector empty;
  EXPECT_EQ(empty.size(), 0);
  RowVector zeros(3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(zeros[i], 0.0);

  const double values[] = {1.5, -2.0, 3.25};
  RowVector a(values, 3);
  RowVector copy(a);
  copy[0] = 99.0;
  EXPECT_EQ(a[0], 1.5);

  RowVector assigned(7);
  assigned = a;
  EXPECT_EQ(assigned.size(), 3);
  assigned[2] = 0.0;
  EXPECT_EQ(a[2], 3.25);

  RowVector& self = a;
  a = self;
  EXPECT_EQ(a.size(), 3);
  EXPECT_EQ(a[1], -2.0);

  RowVector five(5);
  five = 7.0;
  five = 0.0;
  EXPECT_EQ(five.size(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(five[i], 0.0);
}

TEST(RowVector, DifferenceNegationAndAbs) {
  const double av[] = {40, 40, 3};
  const double bv[] = {43, 40, -1};
  RowVector a(av, 3), b(bv, 3);
  RowVector s = -(b - a);
  EXPECT_EQ(s[0], -3.0);
  EXPECT_EQ(s[1], 0.0);
  EXPECT_EQ(s[2], 4.0);
  RowVector m = abs(b - a);
  EXPECT_EQ(m[0], 3.0);
  EXPECT_EQ(m[2], 4.0);
  EXPECT_EQ((RowVector() - RowVector()).size(), 0);

  RowVector four(4);
  EXPECT_EQ(messageOf<MathException>([&] { (void)(a - four); }), "Incompatible vector size");
  EXPECT_EQ(a[0], 40.0);
}

TEST(CplxVector, ProductsAndShapeErrors) {
  CplxVector v = cplx({{1, 2}, {3, -1}});
  CplxVector w = cplx({{0, 1}, {2, 0}});
  CplxVector p = v * w;
  EXPECT_EQ(p[0], Complex(-2, 1));
  EXPECT_EQ(p[1], Complex(6, -2));
  CplxVector sum = v + Complex(1, 1);
  EXPECT_EQ(sum[1], Complex(4, 0));
  v *= w;
  EXPECT_EQ(v[0], Complex(-2, 1));

  CplxVector three(3);
  three[0] = Complex(5, 5);
  EXPECT_EQ(messageOf<MathException>([&] { (void)(three * w); }), "Incompatible vector size");
  EXPECT_EQ(messageOf<MathException>([&] { three *= w; }), "Incompatible vector size");
  EXPECT_EQ(messageOf<MathException>([&] { three /= w; }), "Incompatible vector size");
  EXPECT_EQ(three[0], Complex(5, 5));
}

TEST(CplxVector, DivisionByVectorStopsAtFirstZeroWithEarlierElementsDivided) {
  CplxVector v = cplx({{4, 0}, {4, 0}, {4, 0}});
  CplxVector w = cplx({{2, 0}, {0, 0}, {2, 0}});
  EXPECT_EQ(messageOf<MathException>([&] { v /= w; }), "Division by zero");
  EXPECT_EQ(v[0], Complex(2, 0));
  EXPECT_EQ(v[1], Complex(4, 0));
  EXPECT_EQ(v[2], Complex(4, 0));

  // Negative zero counts as zero too.
  CplxVector u = cplx({{1, 0}});
  EXPECT_EQ(messageOf<MathException>([&] { u /= cplx({{-0.0, -0.0}}); }), "Division by zero");
}

TEST(CplxVector, DivisionByScalar) {
  CplxVector v = cplx({{4, 2}, {-6, 8}});
  EXPECT_EQ(messageOf<MathException>([&] { v /= Complex(0, 0); }), "Zero division");
  EXPECT_EQ(v[0], Complex(4, 2));
  EXPECT_EQ(v[1], Complex(-6, 8));

  v /= Complex(2, 0);
  EXPECT_EQ(v[0], Complex(2, 1));
  EXPECT_EQ(v[1], Complex(-3, 4));

  CplxVector tiny = cplx({{1, 0}});
  tiny /= Complex(0, 1e-300);
  EXPECT_TRUE(std::isfinite(tiny[0].imag()));
  EXPECT_LT(tiny[0].imag(), -1e299);
}

TEST(CplxVector, AbsConjAndReal) {
  CplxVector a = abs(cplx({{3, 4}, {-5, -12}}));
  EXPECT_EQ(a[0], Complex(5, 0));
  EXPECT_EQ(a[1], Complex(13, 0));
  // hypot, not a naive square root: no overflow for large parts.
  EXPECT_DOUBLE_EQ(abs(cplx({{3e200, 4e200}}))[0].real(), 5e200);

  ColVector r = real(cplx({{1, 2}, {-3, 4}}));
  EXPECT_EQ(r.size(), 2);
  EXPECT_EQ(r[0], 1.0);
  EXPECT_EQ(r[1], -3.0);

  CplxVector c = conj(cplx({{1, 2}}));
  EXPECT_EQ(c[0], Complex(1, -2));

  CplxVector copy = c;
  copy[0] = Complex(0, 0);
  EXPECT_EQ(c[0], Complex(1, -2));
  EXPECT_EQ(CplxVector(0).size(), 0);
}

TEST(PlainVectors, ZeroFilledAndDeepCopied) {
  IndexVector iv(4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(iv[i], 0);
  iv[2] = 9;
  IndexVector ic(iv);
  ic[2] = 1;
  EXPECT_EQ(iv[2], 9);

  ColVector cv(2);
  cv[1] = 2.5;
  ColVector cc(cv);
  cc[1] = 0.0;
  EXPECT_EQ(cv[1], 2.5);
}

TEST(Matrix, ZeroFilledAndSelfAssignmentSafe) {
  Matrix m(3, 4);
  EXPECT_EQ(m.rows(), 3);
  EXPECT_EQ(m.cols(), 4);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(m(r, c), 0.0);
  m(2, 3) = 5.0;
  m(0, 1) = -1.0;
  EXPECT_EQ(m(2, 3), 5.0);
  EXPECT_EQ(m(1, 3), 0.0);

  Matrix& self = m;
  m = self;
  EXPECT_EQ(m.rows(), 3);
  EXPECT_EQ(m(2, 3), 5.0);

  Matrix copy;
  copy = m;
  copy(2, 3) = 0.0;
  EXPECT_EQ(m(2, 3), 5.0);
  EXPECT_EQ(Matrix().rows(), 0);
}
