// The batched correlation against the straightforward operations of
// column_transform.h, value for value: spectra, shifts, the first-largest
// rule on near-equal magnitudes, the vector hypot, and the complex forms the
// batched arithmetic writes out.
#include "merge/fast/column_correlator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <vector>

#include "math/col_vector.h"
#include "merge/column_transform.h"
#include "merge/fast/batch_fft.h"
#include "merge/fast/lane_hypot.h"
#include "merge/fast/worker_pool.h"

using lumifold::ColumnCorrelator;
using lumifold::kBatchLanes;
using lumifold::WorkerPool;
using mathORN::ColVector;
using mathORN::Complex;
using mathORN::CplxVector;
using velIPL::CImage;
using velIPL::GImage;

namespace {

class Random {
public:
  explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  std::uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  // A double in [1, 2) times 2^exponent, either sign.
  double scaled(int exponent) {
    const std::uint64_t bits = next();
    const double v = std::ldexp(1.0 + static_cast<double>(bits >> 12) * 0x1p-52, exponent);
    return bits & 1 ? -v : v;
  }

private:
  std::uint64_t state_;
};

GImage noiseImage(int w, int h, Random& random) {
  GImage image(w, h, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) image.at(x, y) = static_cast<unsigned char>(random.below(256));
  }
  return image;
}

// The image's content moved down by d rows (up for negative d), the rows
// moved in filled with noise.
GImage moved(const GImage& image, int d, Random& random) {
  GImage out(image.width(), image.height(), 0);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const int src = y - d;
      out.at(x, y) = src >= 0 && src < image.height() ? image.at(x, src)
                                                       : static_cast<unsigned char>(random.below(256));
    }
  }
  return out;
}

// What the straightforward merge computes for every column.
mathORN::RowVector straightforwardShifts(const GImage& reference, const GImage& image) {
  CImage r, i;
  lumifold::columnSpectra(reference, r);
  lumifold::columnSpectra(image, i);
  const int m = r.height();
  CplxVector inverse(m), rc(m), ic(m);
  lumifold::inverseTwiddles(inverse);
  const CplxVector weights = lumifold::frequencyWeights(m);
  mathORN::RowVector s(reference.width());
  for (int x = 0; x < reference.width(); ++x) {
    for (int k = 0; k < m; ++k) {
      rc[k] = r.at(x, k);
      ic[k] = i.at(x, k);
    }
    s[x] = lumifold::wrapLag(lumifold::peakLag(lumifold::crossCorrelate(rc, ic, weights, inverse)), m);
  }
  return s;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(ColumnCorrelator, ReferenceSpectraEqualColumnSpectra) {
  Random random(1);
  WorkerPool pool(2);
  for (int h : {2, 3, 4, 5, 7, 8, 9, 16, 31, 64, 100, 257}) {
    for (int w : {1, 2, 3, 4, 5, 9, 13}) {
      const GImage image = noiseImage(w, h, random);
      CImage expected;
      lumifold::columnSpectra(image, expected);
      const ColumnCorrelator correlator(image, pool);
      ASSERT_EQ(correlator.transformLength(), expected.height());
      for (int x = 0; x < w; ++x) {
        for (int k = 0; k < expected.height(); ++k) {
          // == on doubles: the sign of a zero may differ, nothing else.
          const Complex got = correlator.referenceSpectrum(x, k);
          ASSERT_EQ(got.real(), expected.at(x, k).real()) << w << " x " << h << " at " << x << ", " << k;
          ASSERT_EQ(got.imag(), expected.at(x, k).imag()) << w << " x " << h << " at " << x << ", " << k;
        }
      }
    }
  }
}

TEST(ColumnCorrelator, ShiftsEqualStraightforwardColumnByColumn) {
  Random random(2);
  struct Size {
    int w, h;
  };
  for (const Size size : {Size{1, 8}, Size{2, 5}, Size{9, 16}, Size{13, 100}, Size{20, 64}, Size{37, 33}}) {
    const GImage reference = noiseImage(size.w, size.h, random);
    const int m = lumifold::transformLength(size.h);
    std::vector<GImage> images = {reference, GImage(size.w, size.h, 0), GImage(size.w, size.h, 255),
                                  noiseImage(size.w, size.h, random)};
    for (int d : {1, -1, 3, -(m / 2 - 1), m / 2, size.h / 2}) images.push_back(moved(reference, d, random));
    // Thread counts must not matter, more threads than cores included.
    for (int threads : {1, 2, 3}) {
      WorkerPool pool(threads);
      ColumnCorrelator correlator(reference, pool);
      for (std::size_t j = 0; j < images.size(); ++j) {
        const mathORN::RowVector expected = straightforwardShifts(reference, images[j]);
        const mathORN::RowVector got = correlator.shifts(images[j]);
        for (int x = 0; x < size.w; ++x) {
          ASSERT_EQ(got[x], expected[x]) << size.w << " x " << size.h << ", image " << j << ", column " << x
                                         << ", " << threads << " threads";
        }
      }
    }
  }
}

// Exact ties, magnitudes one or two units in the last place apart, swapped
// and mirrored parts, and lanes whose squares underflow: the batched search
// must pick what peakLag picks on the exact magnitudes.
TEST(ColumnCorrelator, FirstLargestLagsFollowExactMagnitudesOnNearTies) {
  Random random(3);
  for (int n : {2, 4, 16, 64}) {
    for (int round = 0; round < 400; ++round) {
      lumifold::BatchBuffer batch(lumifold::batchDoubles(n));
      double* data = batch.data();
      const int exponent = round % 10 == 0 ? -560 : random.below(40) - 20;
      for (int l = 0; l < kBatchLanes; ++l) {
        const double a = random.scaled(exponent), b = random.scaled(exponent);
        for (int k = 0; k < n; ++k) {
          double re = random.scaled(exponent - 1 - random.below(3)), im = random.scaled(exponent - 2);
          switch (random.below(6)) {
            case 0: re = a, im = b; break;
            case 1: re = b, im = a; break;
            case 2: re = -a, im = b; break;
            case 3: re = std::nextafter(a, 0.0), im = std::nextafter(b, 2.0 * b); break;
            default: break;
          }
          if (round % 7 == 0) re = im = 0.0;
          data[k * 2 * kBatchLanes + l] = re;
          data[k * 2 * kBatchLanes + kBatchLanes + l] = im;
        }
      }
      int lags[kBatchLanes];
      lumifold::firstLargestLags(data, n, kBatchLanes, lags);
      for (int l = 0; l < kBatchLanes; ++l) {
        CplxVector c(n);
        for (int k = 0; k < n; ++k) {
          c[k] = Complex(data[k * 2 * kBatchLanes + l], data[k * 2 * kBatchLanes + kBatchLanes + l]);
        }
        c /= Complex(n, 0.0);
        ASSERT_EQ(lags[l], lumifold::peakLag(real(abs(c)))) << "n " << n << ", round " << round << ", lane " << l;
      }
    }
  }
}

// The batched arithmetic writes out the standard library's complex product
// and its division by a complex with zero imaginary part; over magnitudes
// from subnormal to huge the written-out forms give the same values (a zero
// may change its sign, which nothing downstream can see).
TEST(ColumnCorrelator, WrittenOutComplexFormsEqualTheStandardLibrary) {
  Random random(4);
  for (int i = 0; i < 200000; ++i) {
    const int e = random.below(2100) - 1080;
    const int spread = random.below(120) - 60;
    const double a = random.scaled(e / 4), b = random.scaled(e / 4 + spread / 8);
    const double c = random.scaled(e / 4 + spread / 16), d = random.scaled(e / 4 - spread / 16);
    const Complex z(a, b), w(c, d);

    const Complex product = z * std::conj(w);
    ASSERT_EQ(product.real(), a * c + b * d);
    ASSERT_EQ(product.imag(), b * c - a * d);

    const double divisor = std::fabs(random.scaled(e / 2)) + lumifold::kPhaseStabiliser;
    const Complex quotient = z / Complex(divisor, 0.0);
    ASSERT_EQ(quotient.real(), a / divisor) << a << " / " << divisor;
    ASSERT_EQ(quotient.imag(), b / divisor) << b << " / " << divisor;

    const double n = std::ldexp(1.0, 1 + random.below(20));
    const Complex scaled = z / Complex(n, 0.0);
    ASSERT_EQ(scaled.real(), a / n);
    ASSERT_EQ(scaled.imag(), b / n);

    const double g = std::exp(-static_cast<double>(random.below(6000)) / 800.0);
    const Complex weighted = z * Complex(g, 0.0);
    ASSERT_EQ(weighted.real(), a * g);
    ASSERT_EQ(weighted.imag(), b * g);
  }
}

TEST(LaneHypot, EqualsStdHypotBitForBit) {
  if (!lumifold::lanes::libraryHypotIsLaneAlgorithm()) {
    GTEST_SKIP() << "this C library's hypot is another algorithm; the engine uses std::hypot itself here";
  }
  EXPECT_TRUE(lumifold::lanes::laneHypotIsExact());
  Random random(5);
  constexpr int kCount = 1 << 20;
  std::vector<double> x(kCount), y(kCount), out(kCount);
  for (int i = 0; i < kCount; ++i) {
    // Mostly the magnitudes of cross-power spectra, some at the extremes.
    const int e = i % 64 == 0 ? random.below(2090) - 1070 : random.below(120) - 40;
    x[i] = random.scaled(e);
    switch (i % 5) {
      case 0: y[i] = random.scaled(e - random.below(60)); break;
      case 1: y[i] = x[i] * (1.0 + random.below(1000) * 0x1p-12); break;
      case 2: y[i] = i % 3 == 0 ? 0.0 : -x[i]; break;
      default: y[i] = random.scaled(e + random.below(4) - 2); break;
    }
  }
  x[0] = INFINITY;
  x[1] = NAN;
  y[2] = 5e-324;
  lumifold::lanes::hypotOfArrays(x.data(), y.data(), out.data(), kCount);
  for (int i = 0; i < kCount; ++i) {
    ASSERT_TRUE(sameBits(out[i], std::hypot(x[i], y[i]))) << "hypot(" << x[i] << ", " << y[i] << ")";
  }
}
