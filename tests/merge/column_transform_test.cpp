#include "merge/column_transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "ipl/ipl_exception.h"
#include "test_util.h"

using lumifold::columnSpectra;
using lumifold::crossCorrelate;
using lumifold::fft;
using lumifold::forwardTwiddles;
using lumifold::frequencyWeights;
using lumifold::inverseFft;
using lumifold::inverseTwiddles;
using lumifold::peakLag;
using lumifold::transformLength;
using lumifold::wrapLag;
using mathORN::ColVector;
using mathORN::Complex;
using mathORN::CplxVector;
using velIPL::CImage;
using velIPL::GImage;

namespace {

CplxVector realVector(const std::vector<double>& values) {
  CplxVector v(static_cast<int>(values.size()));
  for (int i = 0; i < v.size(); ++i) v[i] = Complex(values[i], 0.0);
  return v;
}

CplxVector forwardTable(int n) {
  CplxVector t(n);
  forwardTwiddles(t);
  return t;
}

CplxVector inverseTable(int n) {
  CplxVector t(n);
  inverseTwiddles(t);
  return t;
}

// The windowed column signal that columnSpectra transformed, recovered by
// the inverse transform of column x.
std::vector<double> signalOf(const CImage& spectra, int x) {
  const int m = spectra.height();
  CplxVector column(m);
  for (int k = 0; k < m; ++k) column[k] = spectra.at(x, k);
  const CplxVector signal = inverseFft(column, inverseTable(m));
  std::vector<double> out(m);
  for (int i = 0; i < m; ++i) {
    EXPECT_NEAR(signal[i].imag(), 0.0, 1e-12);
    out[i] = signal[i].real();
  }
  return out;
}

}  // namespace

TEST(ColumnTransform, TransformLengthIsNextPowerOfTwoAtLeastTwo) {
  EXPECT_EQ(transformLength(0), 2);
  EXPECT_EQ(transformLength(1), 2);
  EXPECT_EQ(transformLength(2), 2);
  EXPECT_EQ(transformLength(3), 4);
  EXPECT_EQ(transformLength(496), 512);
  EXPECT_EQ(transformLength(512), 512);
  EXPECT_EQ(transformLength(513), 1024);
}

TEST(ColumnTransform, ForwardTransformHasPositiveExponent) {
  const CplxVector x = fft(realVector({0, 1, 0, 0}), forwardTable(4));
  const Complex expected[] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(x[k].real(), expected[k].real(), 1e-15) << k;
    EXPECT_NEAR(x[k].imag(), expected[k].imag(), 1e-15) << k;
  }
  const CplxVector ones = fft(realVector({1, 1, 1, 1}), forwardTable(4));
  EXPECT_EQ(ones[0], Complex(4, 0));
  for (int k = 1; k < 4; ++k) EXPECT_NEAR(std::abs(ones[k]), 0.0, 1e-15);
}

TEST(ColumnTransform, MatchesNaiveTransformInBothDirections) {
  for (int n = 2; n <= 1024; n *= 2) {
    CplxVector x(n);
    for (int t = 0; t < n; ++t) x[t] = Complex(std::sin(1.7 * t + 0.3) * 100.0, std::cos(0.37 * t * t) * 50.0);
    const CplxVector forward = fft(x, forwardTable(n));
    const CplxVector backward = fft(x, inverseTable(n));
    std::vector<std::complex<long double>> root(n);
    for (int j = 0; j < n; ++j) {
      const long double angle = 2.0L * 3.141592653589793238462643383279503L * j / n;
      root[j] = std::complex<long double>(std::cos(angle), std::sin(angle));
    }
    double worst = 0.0;
    for (int k = 0; k < n; ++k) {
      std::complex<long double> up = 0, down = 0;
      for (int t = 0; t < n; ++t) {
        const std::complex<long double> xt(x[t].real(), x[t].imag());
        const std::complex<long double> e = root[static_cast<std::size_t>(k) * t % n];
        up += xt * e;
        down += xt * std::conj(e);
      }
      worst = std::max<double>(worst, std::abs(std::complex<long double>(forward[k].real(), forward[k].imag()) - up));
      worst = std::max<double>(worst, std::abs(std::complex<long double>(backward[k].real(), backward[k].imag()) - down));
    }
    // Signal magnitude ~100 per sample: the error of a radix-2 transform
    // grows like log n ulps of the total.
    EXPECT_LT(worst, 1e-12 * 100.0 * n) << "n = " << n;
  }
}

TEST(ColumnTransform, InverseUndoesForward) {
  const std::vector<double> values = {3, 1, 4, 1, 5, 9, 2, 6};
  const CplxVector x = realVector(values);
  const CplxVector back = inverseFft(fft(x, forwardTable(8)), inverseTable(8));
  for (int i = 0; i < 8; ++i) {
    EXPECT_NEAR(back[i].real(), values[i], 1e-14);
    EXPECT_NEAR(back[i].imag(), 0.0, 1e-14);
  }
  // The input is copied, never changed.
  for (int i = 0; i < 8; ++i) EXPECT_EQ(x[i], Complex(values[i], 0));
}

TEST(ColumnTransform, FrequencyWeightsAreGaussianOverSignedBins) {
  const CplxVector w = frequencyWeights(8);
  const double expected[] = {1.0,
                             std::exp(-0.0625 / 50),
                             std::exp(-0.25 / 50),
                             std::exp(-0.5625 / 50),
                             std::exp(-1.0 / 50),
                             std::exp(-0.5625 / 50),
                             std::exp(-0.25 / 50),
                             std::exp(-0.0625 / 50)};
  for (int k = 0; k < 8; ++k) {
    EXPECT_DOUBLE_EQ(w[k].real(), expected[k]) << k;
    EXPECT_EQ(w[k].imag(), 0.0);
  }
  EXPECT_NEAR(w[1].real(), 0.99875, 1e-5);
  EXPECT_NEAR(w[4].real(), 0.98020, 1e-5);
  // Sigma is 20 bins whatever the length.
  const CplxVector wide = frequencyWeights(512);
  for (int k : {0, 1, 20, 100, 255, 256, 300, 511}) {
    const int signedBin = k < 256 ? k : k - 512;
    EXPECT_NEAR(wide[k].real(), std::exp(-signedBin * signedBin / 800.0), 1e-14) << k;
  }
}

TEST(ColumnTransform, WindowWrapsPaddedTailAndAveragesInnerColumns) {
  // H = 5 gives M = 8; the Hann window is 0, .5, 1, .5, 0 and the tail
  // (elements 5..7) repeats elements 0..2.
  GImage single(1, 5, 0);
  const int column[] = {10, 20, 30, 40, 50};
  for (int y = 0; y < 5; ++y) single.at(0, y) = static_cast<unsigned char>(column[y]);
  CImage spectra;
  columnSpectra(single, spectra);
  ASSERT_EQ(spectra.width(), 1);
  ASSERT_EQ(spectra.height(), 8);
  const std::vector<double> signal = signalOf(spectra, 0);
  const double expected[] = {0, 10, 30, 20, 0, 0, 10, 30};
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(signal[i], expected[i], 1e-12) << i;

  // Inner columns take the integer sum of three columns times one third;
  // the first and last column use their own values alone.
  GImage three(3, 5, 0);
  for (int y = 0; y < 5; ++y) {
    three.at(0, y) = 3;
    three.at(1, y) = 6;
    three.at(2, y) = 30;
  }
  columnSpectra(three, spectra);
  ASSERT_EQ(spectra.width(), 3);
  const double window[] = {0, 0.5, 1, 0.5, 0, 0, 0.5, 1};
  const std::vector<double> left = signalOf(spectra, 0);
  const std::vector<double> middle = signalOf(spectra, 1);
  const std::vector<double> right = signalOf(spectra, 2);
  for (int i = 0; i < 8; ++i) {
    EXPECT_NEAR(left[i], 3 * window[i], 1e-12);
    EXPECT_NEAR(middle[i], 13 * window[i], 1e-12);
    EXPECT_NEAR(right[i], 30 * window[i], 1e-12);
  }
}

TEST(ColumnTransform, NarrowImagesUseOwnColumnsOnly) {
  for (int width : {1, 2}) {
    GImage image(width, 6, 0);
    for (int x = 0; x < width; ++x) {
      for (int y = 0; y < 6; ++y) image.at(x, y) = static_cast<unsigned char>(40 + 100 * x + y);
    }
    CImage spectra;
    columnSpectra(image, spectra);
    ASSERT_EQ(spectra.height(), 8);
    const double step = 6.283185307179586 / 5;
    for (int x = 0; x < width; ++x) {
      const std::vector<double> signal = signalOf(spectra, x);
      for (int i = 0; i < 8; ++i) {
        const int r = i < 6 ? i : i - 6;
        const double w = (1 - std::cos(r * step)) * 0.5;
        EXPECT_NEAR(signal[i], image.at(x, r) * w, 1e-12) << width << " " << x << " " << i;
      }
    }
  }
}

TEST(ColumnTransform, RefusesImagesOfFewerThanTwoRows) {
  for (int height : {0, 1}) {
    GImage image(4, height, 9);
    CImage spectra;
    EXPECT_EQ(testutil::messageOf<velIPL::IPLException>([&] { columnSpectra(image, spectra); }),
              "Image must have at least 2 rows");
  }
  GImage two(3, 2, 9);
  CImage spectra;
  columnSpectra(two, spectra);
  EXPECT_EQ(spectra.height(), 2);
  for (int x = 0; x < 3; ++x) {
    for (int k = 0; k < 2; ++k) EXPECT_TRUE(std::isfinite(std::abs(spectra.at(x, k))));
  }
}

TEST(CrossCorrelate, PeaksAtTheLagThatAlignsReferenceWithImage) {
  const int n = 64;
  std::vector<double> ref(n);
  for (int t = 0; t < n; ++t) ref[t] = std::sin(0.7 * t) * 40 + ((t * 37) % 11) * 3.0 + (t > 20 && t < 30 ? 80 : 0);
  const CplxVector r = fft(realVector(ref), forwardTable(n));

  const ColVector self = crossCorrelate(r, r);
  EXPECT_EQ(peakLag(self), 0);

  // Image content d samples later than the reference: image[t] = ref[t - d].
  for (int d : {1, 3, 12, 31, -5}) {
    std::vector<double> moved(n);
    for (int t = 0; t < n; ++t) moved[t] = ref[((t - d) % n + n) % n];
    const ColVector c = crossCorrelate(r, fft(realVector(moved), forwardTable(n)));
    EXPECT_EQ(wrapLag(peakLag(c), n), -d) << d;
  }
}

TEST(CrossCorrelate, AllZeroImageGivesZeros) {
  const int n = 16;
  CplxVector r(n);
  for (int k = 0; k < n; ++k) r[k] = Complex(k + 1, -k);
  const ColVector c = crossCorrelate(r, CplxVector(n));
  ASSERT_EQ(c.size(), n);
  for (int k = 0; k < n; ++k) EXPECT_EQ(c[k], 0.0) << k;
  EXPECT_EQ(peakLag(c), 0);
}

TEST(CrossCorrelate, StabiliserIsTheLiteralNotMachineEpsilon) {
  // One tiny non-zero product: its normalised value is p / (p + 2.2204e-16),
  // which differs from p / (p + DBL_EPSILON) in the fourth digit.
  CplxVector r(2);
  CplxVector i(2);
  r[0] = Complex(1e-16, 0);
  i[0] = Complex(1, 0);
  const ColVector c = crossCorrelate(r, i);
  const double expected = 0.5 * (1e-16 / (1e-16 + 2.2204e-16));
  EXPECT_DOUBLE_EQ(c[0], expected);
  EXPECT_DOUBLE_EQ(c[1], expected);
}

TEST(CrossCorrelate, SharedTablesGiveIdenticalMagnitudes) {
  const int n = 32;
  CplxVector r(n);
  CplxVector i(n);
  for (int k = 0; k < n; ++k) {
    r[k] = Complex(std::cos(k * 1.3) * 7, std::sin(k * 0.4) * 3);
    i[k] = Complex(std::sin(k * 2.1) * 5, k * 0.25);
  }
  const ColVector plain = crossCorrelate(r, i);
  const ColVector shared = crossCorrelate(r, i, frequencyWeights(n), inverseTable(n));
  for (int k = 0; k < n; ++k) EXPECT_EQ(plain[k], shared[k]) << k;
}

TEST(CorrelationPeak, FirstLargestLagWrapsAboveHalf) {
  auto magnitudes = [](std::initializer_list<double> values) {
    ColVector c(static_cast<int>(values.size()));
    int k = 0;
    for (double v : values) c[k++] = v;
    return c;
  };
  EXPECT_EQ(peakLag(magnitudes({0, 0, 0, 0, 9, 0, 0, 0})), 4);
  EXPECT_EQ(peakLag(magnitudes({0, 0, 5, 0, 0, 0, 5, 0})), 2);
  EXPECT_EQ(peakLag(magnitudes({0, 0, 0, 0, 0, 0, 0, 0})), 0);
  EXPECT_EQ(peakLag(magnitudes({1, 1, 1, 1})), 0);

  EXPECT_EQ(wrapLag(0, 8), 0);
  EXPECT_EQ(wrapLag(3, 8), 3);
  EXPECT_EQ(wrapLag(4, 8), 4);
  EXPECT_EQ(wrapLag(5, 8), -3);
  EXPECT_EQ(wrapLag(7, 8), -1);
  EXPECT_EQ(wrapLag(1, 2), 1);
}
