// The fast registrars: the fast loops' steps (equivalences.h) on one frame.
#include <algorithm>

#include "merge/anterior_edge.h"
#include "merge/fast/anterior_edge_fast.h"
#include "merge/fast/column_correlator.h"
#include "merge/fast/median_filters_fast.h"
#include "merge/fast/worker_pool.h"
#include "merge/frame_registrar.h"
#include "merge/median_filters.h"

namespace lumifold {

using mathORN::RowVector;
using velIPL::GImage;

namespace {

class FastCorrelation : public FrameRegistrar {
public:
  explicit FastCorrelation(const GImage& reference)
      : pool_(std::min(WorkerPool::availableCores(), 8)), correlator_(reference, pool_) {}
  void registerFrame(const GImage& frame, RowVector& raw, RowVector& smoothed, RowVector& final) override {
    correlator_.prepare(frame, 0);
    RowVector s = correlator_.shifts(0);
    raw = s;
    smoothProfile(s);
    smoothed = s;
    final = s;
  }

private:
  WorkerPool pool_;
  ColumnCorrelator correlator_;
};

class FastEdge : public FrameRegistrar {
public:
  explicit FastEdge(const GImage& reference) : pool_(1), referenceEdges_(anteriorEdges(reference)) {}
  void registerFrame(const GImage& frame, RowVector& raw, RowVector& smoothed, RowVector& final) override {
    RowVector s = -(anteriorEdges(frame, pool_) - referenceEdges_);
    raw = s;
    smoothProfile(s);
    smoothed = s;
    correctOutliersInLanes(s);
    final = s;
  }

private:
  WorkerPool pool_;
  RowVector referenceEdges_;
};

}  // namespace

std::unique_ptr<FrameRegistrar> fastRegistrar(const GImage& reference, RegistrationKind kind) {
  if (kind == RegistrationKind::Correlation) return std::make_unique<FastCorrelation>(reference);
  return std::make_unique<FastEdge>(reference);
}

}  // namespace lumifold
