#include "merge/merger.h"

#include <utility>

#include "ipl/ipl_exception.h"
#include "math/col_vector.h"
#include "math/cplx_vector.h"
#include "merge/accumulation.h"
#include "merge/anterior_edge.h"
#include "merge/column_transform.h"
#include "merge/median_filters.h"

namespace lumifold {

using mathORN::CplxVector;
using mathORN::RowVector;
using velIPL::CImage;
using velIPL::GImage;

Merger::Merger(const std::vector<std::string>& fileNames, MergeProgress* progress)
    : fileNames_(&fileNames), imageCount_(static_cast<int>(fileNames.size())), progress_(progress) {}

void Merger::setShiftObserver(ShiftObserver observer) { observer_ = std::move(observer); }

GImage Merger::mergeByCorrelation() {
  if (imageCount_ < 1) throw velIPL::IPLException("No image to merge");
  return implementation_ == Implementation::Fast ? correlationFast() : correlationStraightforward();
}

GImage Merger::mergeByAnteriorEdge() {
  if (imageCount_ < 1) throw velIPL::IPLException("No image to merge");
  return implementation_ == Implementation::Fast ? anteriorEdgeFast() : anteriorEdgeStraightforward();
}

GImage Merger::correlationStraightforward() {
  startProgress();
  const GImage reference = load(0);
  CImage referenceSpectra;
  columnSpectra(reference, referenceSpectra);
  const int m = referenceSpectra.height();
  startAccumulator(reference);

  // Every column comparison uses the same weights and inverse table; built
  // once here rather than per column, with identical values.
  const CplxVector weights = frequencyWeights(m);
  CplxVector inverse(m);
  inverseTwiddles(inverse);

  for (int j = 1; j < imageCount_; ++j) {
    const GImage image = load(j);
    requireReferenceSize(image);
    CImage spectra;
    columnSpectra(image, spectra);
    RowVector s(width_);
    CplxVector r(m);
    CplxVector i(m);
    for (int x = 0; x < width_; ++x) {
      for (int k = 0; k < m; ++k) {
        r[k] = referenceSpectra.at(x, k);
        i[k] = spectra.at(x, k);
      }
      s[x] = wrapLag(peakLag(crossCorrelate(r, i, weights, inverse)), m);
    }
    smoothProfile(s);
    accept(j, image, s);
  }
  return averageResult(accumulator_, imageCount_);
}

GImage Merger::anteriorEdgeStraightforward() {
  startProgress();
  const GImage reference = load(0);
  const RowVector referenceEdges = anteriorEdges(reference);
  startAccumulator(reference);

  for (int j = 1; j < imageCount_; ++j) {
    const GImage image = load(j);
    // A different width is reported by the difference of the edge profiles.
    RowVector s = -(anteriorEdges(image) - referenceEdges);
    requireReferenceSize(image);
    smoothProfile(s);
    correctOutliers(s);
    accept(j, image, s);
  }
  return averageResult(accumulator_, imageCount_);
}

void Merger::startProgress() {
  if (progress_) progress_->start(imageCount_);
}

void Merger::stepProgress() {
  if (progress_) progress_->step();
}

GImage Merger::load(int index) {
  currentImage_ = index;
  return GImage((*fileNames_)[index]);
}

void Merger::startAccumulator(const GImage& reference) {
  width_ = reference.width();
  height_ = reference.height();
  stepProgress();
  accumulator_ = velIPL::DImage(width_, height_, 0.0);
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) accumulator_.at(x, y) = reference.at(x, y);
  }
}

void Merger::requireReferenceSize(const GImage& image) const {
  if (image.width() != width_ || image.height() != height_) {
    throw velIPL::IPLException("Image has not same dimensions as reference image");
  }
}

void Merger::accept(int index, const GImage& image, const RowVector& shifts) {
  if (observer_) observer_(index, shifts);
  accumulateShifted(accumulator_, image, shifts);
  stepProgress();
}

}  // namespace lumifold
