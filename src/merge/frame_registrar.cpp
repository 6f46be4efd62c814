#include "merge/frame_registrar.h"

#include "math/cplx_vector.h"
#include "merge/anterior_edge.h"
#include "merge/column_transform.h"
#include "merge/median_filters.h"

namespace lumifold {

using mathORN::CplxVector;
using mathORN::RowVector;
using velIPL::GImage;

namespace {

class LiteralCorrelation : public FrameRegistrar {
public:
  explicit LiteralCorrelation(const GImage& reference) {
    columnSpectra(reference, referenceSpectra_);
    m_ = referenceSpectra_.height();
    weights_ = frequencyWeights(m_);
    inverse_ = CplxVector(m_);
    inverseTwiddles(inverse_);
  }
  void registerFrame(const GImage& frame, RowVector& raw, RowVector& smoothed, RowVector& final) override {
    velIPL::CImage spectra;
    columnSpectra(frame, spectra);
    const int w = frame.width();
    RowVector s(w);
    CplxVector r(m_);
    CplxVector i(m_);
    for (int x = 0; x < w; ++x) {
      for (int k = 0; k < m_; ++k) {
        r[k] = referenceSpectra_.at(x, k);
        i[k] = spectra.at(x, k);
      }
      s[x] = wrapLag(peakLag(crossCorrelate(r, i, weights_, inverse_)), m_);
    }
    raw = s;
    smoothProfile(s);
    smoothed = s;
    final = s;
  }

private:
  velIPL::CImage referenceSpectra_;
  int m_ = 0;
  CplxVector weights_;
  CplxVector inverse_;
};

class LiteralEdge : public FrameRegistrar {
public:
  explicit LiteralEdge(const GImage& reference) : referenceEdges_(anteriorEdges(reference)) {}
  void registerFrame(const GImage& frame, RowVector& raw, RowVector& smoothed, RowVector& final) override {
    RowVector s = -(anteriorEdges(frame) - referenceEdges_);
    raw = s;
    smoothProfile(s);
    smoothed = s;
    correctOutliers(s);
    final = s;
  }

private:
  RowVector referenceEdges_;
};

}  // namespace

std::unique_ptr<FrameRegistrar> literalRegistrar(const GImage& reference, RegistrationKind kind) {
  if (kind == RegistrationKind::Correlation) return std::make_unique<LiteralCorrelation>(reference);
  return std::make_unique<LiteralEdge>(reference);
}

}  // namespace lumifold
