// ColumnCorrelator: the correlation registration of whole images against one
// reference, kBatchLanes columns at a time and on every thread of a pool.
//
// For every column it finds exactly the shift the straightforward steps
// give, wrapLag(peakLag(crossCorrelate(R, I)), M) on the columns of
// columnSpectra of the reference and of the image (column_transform.h): the
// same windowed samples, the same transforms, the same phase normalisation
// and weights, and the first largest magnitude. The magnitudes themselves
// are compared as squares, exact magnitudes being worked out only where
// squares come so close to the largest that rounding could reorder them.
// Tables and the reference's spectra are made once, in the constructor, and
// each worker's scratch batches the first time it needs them; after that
// shifts() allocates only its result.
//
// The correlator keeps a reference to the pool, which must outlive it.
#pragma once

#include <vector>

#include "ipl/images.h"
#include "math/cplx_vector.h"
#include "math/row_vector.h"
#include "merge/fast/batch_fft.h"
#include "merge/fast/worker_pool.h"

namespace lumifold {

class ColumnCorrelator {
public:
  // Computes the reference's column spectra. Throws
  // velIPL::IPLException("Image must have at least 2 rows") like
  // columnSpectra.
  ColumnCorrelator(const velIPL::GImage& reference, WorkerPool& pool);

  int transformLength() const { return m_; }

  // Value k of the spectrum of reference column x, as columnSpectra gives
  // it (up to the sign of a zero).
  mathORN::Complex referenceSpectrum(int x, int k) const;

  // The shift of every column of image, which the caller has checked to be
  // of the reference's size.
  mathORN::RowVector shifts(const velIPL::GImage& image);

  // The same in two steps, so that a reader thread can take the first while
  // the merging thread works on the image before: prepare() copies what the
  // transforms need from image into slot 0 or 1, on the calling thread and
  // without the pool, and ignores an image whose size differs from the
  // reference's; shifts(slot) then needs only the slot. The two may run at
  // the same time on different slots.
  void prepare(const velIPL::GImage& image, int slot);
  mathORN::RowVector shifts(int slot);

  // Frame quality's peak ratios, taken from the correlations shifts()
  // works out anyway: for each of these columns, the largest magnitude
  // |c[k] / (M, 0)| divided by their mean, in the order and arithmetic of
  // FrameQualityMeter's own (frame_quality.cpp), so the same values. After
  // each shifts(), peakRatios()[i] is column i's.
  void setPeakColumns(const std::vector<int>& columns);
  const std::vector<double>& peakRatios() const { return peakRatios_; }

private:
  // Fills sums_[slot] from row first to row end - 1 of image.
  void loadSums(const velIPL::GImage& image, int slot, int first, int end);
  // The spectra of columns x0 .. x0 + kBatchLanes - 1 of the image in
  // sums_[slot] (zero columns beyond the last) into batch.
  void transformColumns(int slot, int x0, double* batch) const;

  int width_;
  int height_;
  int m_;
  int batchCount_;
  int paddedWidth_;
  BatchFft fft_;
  // Whether magnitudes may be taken with vector instructions (lane_hypot.h).
  bool laneHypot_;
  // Per bit-reversed sample position: where its row starts in sums_, and
  // its window.
  std::vector<std::size_t> sampleOffset_;
  std::vector<double> sampleWeight_;
  // Real parts of frequencyWeights(m_).
  std::vector<double> weights_;
  BatchBuffer reference_;
  // For each pixel of an image, the integer its column's signal is made
  // from: its grey value in the first and last column, elsewhere the sum
  // with both neighbours; paddedWidth_ per row, zeros in the padding. Two
  // slots, one being filled while the other is transformed.
  std::vector<int> sums_[2];
  // Per column, what its sums are multiplied by: one third, or 1 in the
  // first and last column.
  std::vector<double> laneScale_;
  // Two batches per worker, made on first use: the image spectrum, then the
  // correlation.
  std::vector<BatchBuffer> scratch_;
  std::vector<int> peakColumns_;
  std::vector<double> peakRatios_;
  WorkerPool& pool_;
};

// For each of the first `lanes` lanes of a batch of n elements holding an
// unscaled inverse transform c: peakLag of the magnitudes inverseFft and abs
// would give, |c[k] / (n, 0)|, that is the first lag of the largest.
void firstLargestLags(const double* batch, int n, int lanes, int* lags);

}  // namespace lumifold
