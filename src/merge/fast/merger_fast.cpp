// The fast implementation of Merger's two registrations: the same steps as
// the literal loops in merger.cpp, each one by its fast twin (equivalences.h
// lists them), with the next file read while the current one is registered.
#include "merge/merger.h"

#include <algorithm>

#include "merge/accumulation.h"
#include "merge/anterior_edge.h"
#include "merge/fast/accumulation_fast.h"
#include "merge/fast/anterior_edge_fast.h"
#include "merge/fast/column_correlator.h"
#include "merge/fast/frame_prefetcher.h"
#include "merge/fast/median_filters_fast.h"
#include "merge/fast/worker_pool.h"
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
  const GImage reference = load(0);
  WorkerPool pool(mergeThreads());
  ColumnCorrelator correlator(reference, pool);
  // The reader thread also turns each image into its column sums, while the
  // image is still in its core's cache.
  FramePrefetcher frames(*fileNames_, 1, [&correlator](const GImage& image, int index) {
    correlator.prepare(image, index % 2);
  });
  startAccumulator(reference);
  for (int j = 1; j < imageCount_; ++j) {
    currentImage_ = j;
    const GImage image = frames.take();
    requireReferenceSize(image);
    RowVector s = correlator.shifts(j % 2);
    smoothProfile(s);
    acceptPooled(j, image, s, pool);
  }
  return averageResult(accumulator_, imageCount_, pool);
}

GImage Merger::anteriorEdgeFast() {
  startProgress();
  const GImage reference = load(0);
  FramePrefetcher frames(*fileNames_, 1);
  // The reader thread is this merge's second core: the edges and sums of a
  // frame take less time than reading the next one, and handing them to
  // helpers would only add the cost of waking them.
  WorkerPool pool(1);
  const RowVector referenceEdges = anteriorEdges(reference);
  startAccumulator(reference);
  for (int j = 1; j < imageCount_; ++j) {
    currentImage_ = j;
    const GImage image = frames.take();
    // A different width is reported by the difference of the edge profiles.
    RowVector s = -(anteriorEdges(image, pool) - referenceEdges);
    requireReferenceSize(image);
    smoothProfile(s);
    correctOutliersInLanes(s);
    acceptPooled(j, image, s, pool);
  }
  return averageResult(accumulator_, imageCount_, pool);
}

void Merger::acceptPooled(int index, const GImage& image, const RowVector& shifts, WorkerPool& pool) {
  if (observer_) observer_(index, shifts);
  accumulateShifted(accumulator_, image, shifts, pool);
  stepProgress();
}

}  // namespace lumifold
