#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "math/math_exception.h"
#include "math/piecewise_polynomial_spline.h"
#include "test_util.h"

using mathORN::MathException;
using mathORN::PiecewisePolynomialSpline;
using mathORN::RowVector;
using testutil::messageOf;

namespace {

RowVector vec(std::vector<double> v) { return RowVector(v.data(), static_cast<int>(v.size())); }

std::string constructionMessage(std::vector<double> x, std::vector<double> y) {
  return messageOf<MathException>([&] { PiecewisePolynomialSpline s(vec(x), vec(y)); });
}

}  // namespace

TEST(PiecewisePolynomialSpline, ConstructionMessagesInOrder) {
  EXPECT_EQ(constructionMessage({}, {}), "Not yet implemented");
  EXPECT_EQ(constructionMessage({0}, {1}), "Not yet implemented");
  EXPECT_EQ(constructionMessage({0, 1}, {1, 2}), "Not yet implemented");
  EXPECT_EQ(constructionMessage({0, 1, 1, 2}, {0, 0, 0, 0}), "The data abscissae should be distinct");
  EXPECT_EQ(constructionMessage({0, 2, 1, 3}, {0, 0, 0, 0}), "The data abscissae should be sorted");
  // The decrease comes before the repeat, so it decides.
  EXPECT_EQ(constructionMessage({0, 2, 1, 1}, {0, 0, 0, 0}), "The data abscissae should be sorted");
  EXPECT_EQ(constructionMessage({0, NAN, 2, 3}, {0, 0, 0, 0}), "The data abscissae should be distinct");
  // Fewer ordinates than abscissae must not be read past their end.
  EXPECT_EQ(constructionMessage({0, 1, 2, 3}, {0, 1, 2}), "Incompatible vector size");
  EXPECT_EQ(constructionMessage({0, 1, 2, 3}, {0, 1, 2, 3, 4}), "Incompatible vector size");
  // The order of checks: too few points wins over a size mismatch.
  EXPECT_EQ(constructionMessage({0, 1}, {0}), "Not yet implemented");
}

TEST(PiecewisePolynomialSpline, ReproducesCubicInsideAndOutside) {
  PiecewisePolynomialSpline s(vec({0, 1, 2, 3}), vec({0, 1, 8, 27}));
  RowVector v = s.evaluate(vec({-1, 1.5, 4}));
  EXPECT_NEAR(v[0], -1.0, 1e-12);
  EXPECT_NEAR(v[1], 3.375, 1e-12);
  EXPECT_NEAR(v[2], 64.0, 1e-12);
  EXPECT_EQ(s.order(), 4);
  EXPECT_EQ(s.coefs().rows(), 3);

  // Any cubic on uneven breaks, many points.
  auto f = [](double t) { return 0.5 * t * t * t - 2 * t * t + 3 * t - 7; };
  std::vector<double> x = {-2, -0.5, 0, 1.25, 3, 3.5, 6};
  std::vector<double> y;
  for (double t : x) y.push_back(f(t));
  PiecewisePolynomialSpline g(vec(x), vec(y));
  std::vector<double> xx;
  for (double t = -4; t <= 8; t += 0.25) xx.push_back(t);
  RowVector gv = g.evaluate(vec(xx));
  for (size_t j = 0; j < xx.size(); ++j) EXPECT_NEAR(gv[static_cast<int>(j)], f(xx[j]), 1e-9) << xx[j];
}

TEST(PiecewisePolynomialSpline, InterpolatesBreaksAndHoldsNotAKnot) {
  std::vector<double> x = {0, 1, 2, 4, 5, 7, 8};
  std::vector<double> y = {3, -1, 4, 1, -5, 9, 2};
  PiecewisePolynomialSpline s(vec(x), vec(y));
  RowVector v = s.evaluate(vec(x));
  for (int i = 0; i + 1 < static_cast<int>(x.size()); ++i) EXPECT_EQ(v[i], y[i]) << i;
  EXPECT_NEAR(v[6], y[6], 1e-12);
  const auto& c = s.coefs();
  // Third derivatives agree across the first and the last interior break.
  EXPECT_NEAR(6 * c(0, 0), 6 * c(1, 0), 1e-12);
  EXPECT_NEAR(6 * c(4, 0), 6 * c(5, 0), 1e-12);
  // Continuity of value, slope and curvature at every interior break.
  for (int i = 0; i + 2 < static_cast<int>(x.size()); ++i) {
    const double h = x[i + 1] - x[i];
    const double value = ((c(i, 0) * h + c(i, 1)) * h + c(i, 2)) * h + c(i, 3);
    const double slope = (3 * c(i, 0) * h + 2 * c(i, 1)) * h + c(i, 2);
    const double curve = 6 * c(i, 0) * h + 2 * c(i, 1);
    EXPECT_NEAR(value, c(i + 1, 3), 1e-9);
    EXPECT_NEAR(slope, c(i + 1, 2), 1e-9);
    EXPECT_NEAR(curve, 2 * c(i + 1, 1), 1e-9);
  }
  EXPECT_EQ(s.evaluate(RowVector()).size(), 0);
}

TEST(PiecewisePolynomialSpline, ForwardScanNeverGoesBack) {
  std::vector<double> x, y;
  for (int i = 0; i < 10; ++i) {
    x.push_back(i);
    y.push_back((i * 37) % 11);  // not a cubic
  }
  PiecewisePolynomialSpline s(vec(x), vec(y));
  RowVector alone = s.evaluate(vec({0}));
  RowVector five = s.evaluate(vec({5}));
  RowVector both = s.evaluate(vec({5, 0}));
  EXPECT_EQ(both[0], five[0]);
  EXPECT_EQ(alone[0], y[0]);
  // 0 is evaluated on interval 5's cubic, extended.
  const auto& c = s.coefs();
  const double h = -5.0;
  const double expected = ((c(5, 0) * h + c(5, 1)) * h + c(5, 2)) * h + c(5, 3);
  EXPECT_EQ(both[1], expected);
  EXPECT_GT(std::fabs(both[1] - alone[0]), 1.0);
  // A point on an interior break belongs to the interval starting there.
  RowVector onBreak = s.evaluate(vec({3}));
  EXPECT_EQ(onBreak[0], y[3]);
}

TEST(PiecewisePolynomialSpline, ColourScaleSampling) {
  std::vector<double> x, y;
  for (int i = 0; i < 30; ++i) {
    x.push_back(i);
    y.push_back(i < 15 ? 0 : 255 - 3 * i);
  }
  PiecewisePolynomialSpline s(vec(x), vec(y));
  RowVector t(256);
  for (int j = 0; j < 256; ++j) t[j] = j * (1.0 / 255.0) * 29.0;
  EXPECT_EQ(t[255], 29.0);
  RowVector v = s.evaluate(t);
  EXPECT_EQ(v.size(), 256);
  EXPECT_EQ(v[0], y[0]);
  EXPECT_NEAR(v[255], y[29], 1e-9);
}

TEST(PiecewisePolynomialSpline, ThreePointsGiveTheParabola) {
  auto f = [](double t) { return 2 * t * t - 3 * t + 1; };
  std::vector<double> x = {0, 1, 3};
  PiecewisePolynomialSpline s(vec(x), vec({f(0), f(1), f(3)}));
  RowVector v = s.evaluate(vec({-1, 0.5, 2, 5}));
  EXPECT_NEAR(v[0], f(-1), 1e-12);
  EXPECT_NEAR(v[1], f(0.5), 1e-12);
  EXPECT_NEAR(v[2], f(2), 1e-12);
  EXPECT_NEAR(v[3], f(5), 1e-12);
}
