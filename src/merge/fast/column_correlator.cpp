#include "merge/fast/column_correlator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ipl/ipl_exception.h"
#include "merge/column_transform.h"
#include "merge/fast/batch_lanes.h"
#include "merge/fast/lane_hypot.h"

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

// One row of column sums: the grey value itself in the first and the last
// column, elsewhere the sum with both neighbours; zeros up to the padded
// width.
LUMIFOLD_LANE_KERNEL void columnSumsOfRow(const unsigned char* p, int w, int padded, int* out) {
  for (int x = 1; x < w - 1; ++x) out[x] = p[x - 1] + p[x] + p[x + 1];
  out[0] = p[0];
  out[w - 1] = p[w - 1];
  for (int x = w; x < padded; ++x) out[x] = 0;
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

// peakLag on the magnitudes inverseFft and abs would give, |c[k] / (n, 0)|,
// visiting in each lane only the lags whose squares reach close[l]; best and
// lag start at 0.
LUMIFOLD_LANE_KERNEL void closeToLargest(const double* batch, int n, const double* close, double* best, int* lag) {
  const Vec threshold = load(close);
  const double divisor = n;
  for (int k = 0; k < n; ++k) {
    const Cv c = get(batch, k);
    const auto candidate = c.re * c.re + c.im * c.im >= threshold;
    bool any = false;
    for (int l = 0; l < kBatchLanes; ++l) any |= candidate[l] != 0;
    if (!any) continue;
    for (int l = 0; l < kBatchLanes; ++l) {
      if (!candidate[l]) continue;
      const double magnitude = std::hypot(c.re[l] / divisor, c.im[l] / divisor);
      if (magnitude > best[l]) {
        best[l] = magnitude;
        lag[l] = k;
      }
    }
  }
}

}  // namespace

ColumnCorrelator::ColumnCorrelator(const GImage& reference, WorkerPool& pool)
    : width_(reference.width()),
      height_(reference.height()),
      m_(lumifold::transformLength(height_)),
      batchCount_((width_ + kBatchLanes - 1) / kBatchLanes),
      paddedWidth_(batchCount_ * kBatchLanes),
      fft_(m_),
      laneHypot_(laneHypotIsExact()),
      pool_(pool) {
  if (height_ < 2) throw velIPL::IPLException("Image must have at least 2 rows");
  // An image without columns (the reader takes them) has nothing to
  // transform, and the border columns below would lie outside it.
  if (width_ == 0) return;
  std::vector<int> source;
  std::vector<double> window;
  columnWindow(height_, source, window);
  sampleOffset_.resize(m_);
  sampleWeight_.resize(m_);
  for (int j = 0; j < m_; ++j) {
    sampleOffset_[j] = static_cast<std::size_t>(source[fft_.reversed(j)]) * paddedWidth_;
    sampleWeight_[j] = window[fft_.reversed(j)];
  }
  const mathORN::CplxVector weights = frequencyWeights(m_);
  weights_.resize(m_);
  for (int k = 0; k < m_; ++k) weights_[k] = weights[k].real();

  const std::size_t batch = batchDoubles(m_);
  reference_ = BatchBuffer(batch * static_cast<std::size_t>(batchCount_));
  // Made by each worker when it first needs them: a narrow image has fewer
  // batches than the pool has threads, and a tall one large batches.
  scratch_.resize(2 * static_cast<std::size_t>(pool_.size()));

  for (std::vector<int>& sums : sums_) sums.resize(static_cast<std::size_t>(paddedWidth_) * height_);
  // columnSpectra's v: the sum times one third, the border columns' own value times nothing.
  laneScale_.assign(paddedWidth_, 1.0 / 3.0);
  laneScale_[0] = 1.0;
  laneScale_[width_ - 1] = 1.0;
  loadSums(reference, 0, 0, height_);
  double* spectra = reference_.data();
  pool_.run(batchCount_, [&](int b, int) {
    transformColumns(0, b * kBatchLanes, spectra + batch * static_cast<std::size_t>(b));
  });
}

Complex ColumnCorrelator::referenceSpectrum(int x, int k) const {
  const double* p = reference_.data() + batchDoubles(m_) * static_cast<std::size_t>(x / kBatchLanes) +
                    static_cast<std::size_t>(k) * kStride + x % kBatchLanes;
  return Complex(p[0], p[kBatchLanes]);
}

RowVector ColumnCorrelator::shifts(const GImage& image) {
  if (width_ > 0) {
    const int rowsPerTask = 32;
    pool_.run((height_ + rowsPerTask - 1) / rowsPerTask, [&](int task, int) {
      loadSums(image, 0, task * rowsPerTask, std::min(height_, (task + 1) * rowsPerTask));
    });
  }
  return shifts(0);
}

void ColumnCorrelator::prepare(const GImage& image, int slot) {
  if (width_ == 0 || image.width() != width_ || image.height() != height_) return;
  loadSums(image, slot, 0, height_);
}

RowVector ColumnCorrelator::shifts(int slot) {
  RowVector s(width_);
  if (width_ == 0) return s;
  const std::size_t batch = batchDoubles(m_);
  pool_.run(batchCount_, [&](int b, int worker) {
    if (!scratch_[2 * worker].data()) {
      scratch_[2 * worker] = BatchBuffer(batch);
      scratch_[2 * worker + 1] = BatchBuffer(batch);
    }
    double* spectrum = scratch_[2 * worker].data();
    double* correlation = scratch_[2 * worker + 1].data();
    const int x0 = b * kBatchLanes;
    transformColumns(slot, x0, spectrum);
    crossPower(reference_.data() + batch * static_cast<std::size_t>(b), spectrum, correlation,
               fft_.reversedOrder(), weights_.data(), m_, laneHypot_);
    fft_.inverse(correlation);
    const int lanes = std::min(kBatchLanes, width_ - x0);
    for (std::size_t i = 0; i < peakColumns_.size(); ++i) {
      const int l = peakColumns_[i] - x0;
      if (l < 0 || l >= lanes) continue;
      const double divisor = m_;
      double peak = 0.0;
      double sum = 0.0;
      for (int k = 0; k < m_; ++k) {
        const double* element = correlation + static_cast<std::size_t>(k) * kStride + l;
        const double magnitude = std::hypot(element[0] / divisor, element[kBatchLanes] / divisor);
        peak = std::max(peak, magnitude);
        sum += magnitude;
      }
      peakRatios_[i] = sum > 0.0 ? peak / (sum / m_) : 0.0;
    }
    int lags[kBatchLanes];
    firstLargestLags(correlation, m_, lanes, lags);
    for (int l = 0; l < lanes; ++l) s[x0 + l] = wrapLag(lags[l], m_);
  });
  return s;
}

void ColumnCorrelator::setPeakColumns(const std::vector<int>& columns) {
  peakColumns_ = columns;
  peakRatios_.assign(columns.size(), 0.0);
}

void ColumnCorrelator::loadSums(const GImage& image, int slot, int first, int end) {
  for (int y = first; y < end; ++y) {
    int* row = sums_[slot].data() + static_cast<std::size_t>(y) * paddedWidth_;
    columnSumsOfRow(image.row(y), width_, paddedWidth_, row);
  }
}

void ColumnCorrelator::transformColumns(int slot, int x0, double* batch) const {
  fft_.forwardReal(sums_[slot].data() + x0, sampleOffset_.data(), laneScale_.data() + x0, sampleWeight_.data(),
                   batch);
}

void firstLargestLags(const double* batch, int n, int lanes, int* lags) {
  alignas(64) double largest[kBatchLanes];
  largestSquares(batch, n, largest);
  alignas(64) double close[kBatchLanes];
  for (int l = 0; l < kBatchLanes; ++l) {
    // Every lag is a candidate where squares may have underflowed.
    close[l] = largest[l] < kTinySquare ? -1.0 : largest[l] * (1.0 - kCloseToLargest);
  }
  alignas(64) double best[kBatchLanes] = {};
  alignas(64) int lag[kBatchLanes] = {};
  closeToLargest(batch, n, close, best, lag);
  for (int l = 0; l < lanes; ++l) lags[l] = lag[l];
}

}  // namespace lumifold
