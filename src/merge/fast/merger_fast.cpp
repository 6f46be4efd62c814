// The fast implementation of Merger's two registrations: the same steps as
// the literal loops in merger.cpp, each one by its fast twin (equivalences.h
// lists them), with the next file read while the current one is registered.
#include "merge/merger.h"

#include <algorithm>

#include "merge/accumulation.h"
#include "merge/anterior_edge.h"
#include "merge/eight_bit_view.h"
#include "merge/fast/accumulation_fast.h"
#include "merge/fast/anterior_edge_fast.h"
#include "merge/fast/column_correlator.h"
#include "merge/fast/frame_prefetcher.h"
#include "merge/fast/median_filters_fast.h"
#include "merge/fast/worker_pool.h"
#include "merge/frame_reader.h"
#include "merge/median_filters.h"

namespace lumifold {

namespace {

// Threads for one merge: every core the process may use, up to 8. A frame
// has only a few hundred column batches, so more threads mostly wait; a
// large machine is better used by merging several series at once.
int mergeThreads() { return std::min(WorkerPool::availableCores(), 8); }

}  // namespace

using mathORN::RowVector;
using velIPL::GImage;

GImage Merger::correlationFast() {
  startProgress();
  FrameReader reader(frames_);
  const FramePixels reference = loadReference(reader);
  WorkerPool pool(threads_ > 0 ? threads_ : mergeThreads());
  ColumnCorrelator correlator(reference.grey, pool);
  // The reader thread also turns each frame into its column sums, while the
  // frame is still in its core's cache. From here on only it uses reader.
  FramePrefetcher frames(reader, imageCount_, 1, [&correlator](const GImage& grey, int index) {
    correlator.prepare(grey, index % 2);
  });
  startAccumulator(reference);
  startMeasuring(reference.grey, RegistrationKind::Correlation);
  // The meter's peak ratios come from the correlations the shifts are
  // found from.
  if (meter_) {
    correlator.setPeakColumns(meter_->peakColumns());
    peakRatios_ = &correlator.peakRatios();
  }
  struct Forget {
    const std::vector<double>*& ratios;
    ~Forget() { ratios = nullptr; }
  } forget{peakRatios_};
  for (int j = 1; j < imageCount_; ++j) {
    currentImage_ = j;
    const FramePixels frame = frames.take();
    requireReferenceDepth(frame);
    requireReferenceSize(frame.grey);
    RowVector s = correlator.shifts(j % 2);
    const RowVector raw = s;
    smoothProfile(s);
    acceptPooled(j, frame, raw, s, s, pool);
  }
  return resultPooled(pool);
}

GImage Merger::anteriorEdgeFast() {
  startProgress();
  FrameReader reader(frames_);
  const FramePixels reference = loadReference(reader);
  FramePrefetcher frames(reader, imageCount_, 1);
  // The reader thread is this merge's second core: the edges and sums of a
  // frame take less time than reading the next one, and handing them to
  // helpers would only add the cost of waking them.
  WorkerPool pool(1);
  const RowVector referenceEdges = anteriorEdges(reference.grey);
  startAccumulator(reference);
  startMeasuring(reference.grey, RegistrationKind::AnteriorEdge);
  for (int j = 1; j < imageCount_; ++j) {
    currentImage_ = j;
    const FramePixels frame = frames.take();
    requireReferenceDepth(frame);
    // A different width is reported by the difference of the edge profiles.
    RowVector s = -(anteriorEdges(frame.grey, pool) - referenceEdges);
    requireReferenceSize(frame.grey);
    const RowVector raw = s;
    smoothProfile(s);
    const RowVector smoothed = s;
    correctOutliersInLanes(s);
    acceptPooled(j, frame, raw, smoothed, s, pool);
  }
  return resultPooled(pool);
}

GImage Merger::resultPooled(WorkerPool& pool) const {
  return view_ ? result() : averageResult(accumulator_, divisor_, pool);
}

void Merger::acceptPooled(int index, const FramePixels& frame, const RowVector& raw, const RowVector& smoothed,
                          const RowVector& shifts, WorkerPool& pool) {
  if (frame.bitsPerSample == 16) {
    // The 16-bit sums are added literally: each pixel still receives the
    // one addition the pooled runs would make.
    accept(index, frame, raw, smoothed, shifts);
    return;
  }
  if (observer_) observer_(index, shifts);
  measure(index, frame, raw, smoothed, shifts);
  filterFrame(frame, shifts, 0);
  accumulateShifted(accumulator_, frame.grey, shifts, pool);
  stepProgress();
}

}  // namespace lumifold
