#include "merge/column_correlator.h"

#include <algorithm>
#include <cmath>

#include "ipl/ipl_exception.h"
#include "merge/batch_lanes.h"
#include "merge/column_transform.h"
#include "merge/lane_hypot.h"

namespace lumifold {

using namespace lanes;
using mathORN::Complex;
using mathORN::RowVector;
using velIPL::GImage;

namespace {

// Squares within this relative distance of the largest square get their
// exact magnitude. Rounding moves a square by a few parts in 10^16 and
// std::hypot is within an ulp or two, so anything further below cannot
// reach the largest magnitude.
constexpr double kCloseToLargest = 1e-12;
// Below this, squares of small parts may have underflowed and the bound
// above no longer holds; every lag then gets its exact magnitude.
constexpr double kTinySquare = 0x1p-900;

// The phase-normalised, weighted cross-power spectrum of crossCorrelate for
// every lane: P = R conj(I) with the standard library's complex product,
// divided by (|P| + stabiliser, 0) and multiplied by (g, 0). Dividing by a
// complex whose imaginary part is zero divides each part by the real one;
// multiplying by (g, 0) multiplies each part by g. Element k goes to
// out[reversed[k]], ready for the inverse transform.
LUMIFOLD_LANE_KERNEL void crossPower(const double* reference, const double* image, double* out,
                                     const int* reversed, const double* weights, int n, bool laneHypot) {
  const Vec stabiliser = splat(kPhaseStabiliser);
  for (int k = 0; k < n; ++k) {
    const Cv r = get(reference, k), i = get(image, k);
    const Vec pr = r.re * i.re + r.im * i.im;
    const Vec pi = r.im * i.re - r.re * i.im;
    Vec magnitude;
    if (laneHypot) {
      magnitude = hypotLanes(pr, pi);
    } else {
      for (int l = 0; l < kBatchLanes; ++l) magnitude[l] = std::hypot(pr[l], pi[l]);
    }
    const Vec divisor = magnitude + stabiliser;
    const double g = weights[k];
    put(out, reversed[k], {pr / divisor * g, pi / divisor * g});
  }
}

LUMIFOLD_LANE_KERNEL void largestSquares(const double* batch, int n, double* largest) {
  Vec best = splat(0.0);
  for (int k = 0; k < n; ++k) {
    const Cv c = get(batch, k);
    const Vec q = c.re * c.re + c.im * c.im;
    for (int l = 0; l < kBatchLanes; ++l) best[l] = q[l] > best[l] ? q[l] : best[l];
  }
  store(largest, best);
}

}  // namespace

ColumnCorrelator::ColumnCorrelator(const GImage& reference, WorkerPool& pool)
    : width_(reference.width()),
      height_(reference.height()),
      m_(lumifold::transformLength(height_)),
      batchCount_((width_ + kBatchLanes - 1) / kBatchLanes),
      fft_(m_),
      laneHypot_(laneHypotIsExact()),
      pool_(pool) {
  if (height_ < 2) throw velIPL::IPLException("Image must have at least 2 rows");
  columnWindow(height_, source_, window_);
  const mathORN::CplxVector weights = frequencyWeights(m_);
  weights_.resize(m_);
  for (int k = 0; k < m_; ++k) weights_[k] = weights[k].real();

  const std::size_t batch = batchDoubles(m_);
  reference_ = BatchBuffer(batch * static_cast<std::size_t>(batchCount_));
  for (int w = 0; w < 2 * pool_.size(); ++w) scratch_.emplace_back(batch);

  double* spectra = reference_.data();
  pool_.run(batchCount_, [&](int b, int) {
    double* slot = spectra + batch * static_cast<std::size_t>(b);
    loadColumns(reference, b * kBatchLanes, slot);
    fft_.forwardReal(slot);
  });
}

Complex ColumnCorrelator::referenceSpectrum(int x, int k) const {
  const double* p = reference_.data() + batchDoubles(m_) * static_cast<std::size_t>(x / kBatchLanes) +
                    static_cast<std::size_t>(k) * kStride + x % kBatchLanes;
  return Complex(p[0], p[kBatchLanes]);
}

RowVector ColumnCorrelator::shifts(const GImage& image) {
  RowVector s(width_);
  const std::size_t batch = batchDoubles(m_);
  pool_.run(batchCount_, [&](int b, int worker) {
    double* spectrum = scratch_[2 * worker].data();
    double* correlation = scratch_[2 * worker + 1].data();
    const int x0 = b * kBatchLanes;
    loadColumns(image, x0, spectrum);
    fft_.forwardReal(spectrum);
    crossPower(reference_.data() + batch * static_cast<std::size_t>(b), spectrum, correlation,
               fft_.reversedOrder(), weights_.data(), m_, laneHypot_);
    fft_.inverse(correlation);
    const int lanes = std::min(kBatchLanes, width_ - x0);
    int lags[kBatchLanes];
    firstLargestLags(correlation, m_, lanes, lags);
    for (int l = 0; l < lanes; ++l) s[x0 + l] = wrapLag(lags[l], m_);
  });
  return s;
}

void ColumnCorrelator::loadColumns(const GImage& image, int x0, double* batch) const {
  const int w = width_;
  const double third = 1.0 / 3.0;
  const bool inner = x0 >= 1 && x0 + kBatchLanes <= w - 1;
  for (int i = 0; i < m_; ++i) {
    const unsigned char* row = image.row(source_[i]);
    const double weight = window_[i];
    double* out = batch + static_cast<std::size_t>(fft_.reversed(i)) * kStride;
    if (inner) {
      for (int l = 0; l < kBatchLanes; ++l) {
        const int x = x0 + l;
        const int sum = row[x - 1] + row[x] + row[x + 1];
        out[l] = sum * third * weight;
      }
      continue;
    }
    for (int l = 0; l < kBatchLanes; ++l) {
      const int x = x0 + l;
      double v = 0.0;
      if (x == 0 || x == w - 1) {
        v = row[x];
      } else if (x < w) {
        const int sum = row[x - 1] + row[x] + row[x + 1];
        v = sum * third;
      }
      out[l] = v * weight;
    }
  }
}

void firstLargestLags(const double* batch, int n, int lanes, int* lags) {
  alignas(64) double largest[kBatchLanes];
  largestSquares(batch, n, largest);
  const double divisor = n;
  for (int l = 0; l < lanes; ++l) {
    const bool everyLag = largest[l] < kTinySquare;
    const double close = largest[l] * (1.0 - kCloseToLargest);
    double best = 0.0;
    int lag = 0;
    for (int k = 0; k < n; ++k) {
      const double* p = batch + static_cast<std::size_t>(k) * kStride + l;
      const double re = p[0], im = p[kBatchLanes];
      if (!everyLag && re * re + im * im < close) continue;
      const double magnitude = std::hypot(re / divisor, im / divisor);
      if (magnitude > best) {
        best = magnitude;
        lag = k;
      }
    }
    lags[l] = lag;
  }
}

}  // namespace lumifold
