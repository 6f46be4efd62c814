#include "merge/merger.h"

#include <algorithm>
#include <utility>

#include "ipl/ipl_exception.h"
#include "math/col_vector.h"
#include "math/cplx_vector.h"
#include "merge/accumulation.h"
#include "merge/anterior_edge.h"
#include "merge/column_transform.h"
#include "merge/denoise/speckle_filter.h"
#include "merge/eight_bit_view.h"
#include "merge/frame_reader.h"
#include "merge/fast/worker_pool.h"
#include "merge/median_filters.h"

namespace lumifold {

using mathORN::CplxVector;
using mathORN::RowVector;
using velIPL::CImage;
using velIPL::GImage;

namespace {

std::vector<MergeFrame> firstFrames(const std::vector<std::string>& fileNames) {
  std::vector<MergeFrame> frames;
  frames.reserve(fileNames.size());
  for (const std::string& name : fileNames) frames.emplace_back(name, 0);
  return frames;
}

// The frame as the sum receives it: column x from the image's column
// x - lateral, moved down by s[x] rows; covered marks the pixels it reaches.
template <typename Image>
void movedFrame(const Image& image, const RowVector& s, int lateral, velIPL::DImage& out,
                std::vector<std::uint8_t>& covered) {
  const int w = image.width();
  const int h = image.height();
  if (out.width() != w || out.height() != h) out = velIPL::DImage(w, h, 0.0);
  for (int y = 0; y < h; ++y) std::fill(out.row(y), out.row(y) + w, 0.0);
  covered.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
  for (int x = 0; x < w; ++x) {
    const int source = x - lateral;
    if (source < 0 || source >= w) continue;
    const long long shift = static_cast<long long>(clampedShift(s[x], h));
    for (int y = 0; y < h; ++y) {
      const long long row = y - shift;
      if (row < 0 || row >= h) continue;
      out.at(x, y) = image.at(source, static_cast<int>(row));
      covered[static_cast<std::size_t>(y) * w + x] = 1;
    }
  }
}

template <typename Image>
velIPL::DImage toDoubles(const Image& image) {
  velIPL::DImage out(image.width(), image.height(), 0.0);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) out.at(x, y) = image.at(x, y);
  }
  return out;
}

int filterThreads(int threads) { return threads > 0 ? threads : std::min(WorkerPool::availableCores(), 8); }

}  // namespace

Merger::Merger(const std::vector<std::string>& fileNames, MergeProgress* progress)
    : Merger(firstFrames(fileNames), progress) {}

Merger::Merger(std::vector<MergeFrame> frames, MergeProgress* progress)
    : frames_(std::move(frames)), imageCount_(static_cast<int>(frames_.size())), progress_(progress) {}

Merger::~Merger() = default;

void Merger::setShiftObserver(ShiftObserver observer) { observer_ = std::move(observer); }

void Merger::setQualityObserver(QualityObserver observer) { qualityObserver_ = std::move(observer); }

void Merger::setSpeckleFilter(const SpeckleFilter* filter, double strength) {
  speckleFilter_ = filter;
  speckleStrength_ = filter ? strength : 0.0;
}

GImage Merger::mergeByCorrelation() {
  if (imageCount_ < 1) throw velIPL::IPLException("No image to merge");
  return run(RegistrationKind::Correlation);
}

GImage Merger::mergeByAnteriorEdge() {
  if (imageCount_ < 1) throw velIPL::IPLException("No image to merge");
  return run(RegistrationKind::AnteriorEdge);
}

bool Merger::qualityOptionsOn() const {
  return qualityOptions_.reject || qualityOptions_.reference != 0 || qualityOptions_.lateral;
}

GImage Merger::run(RegistrationKind kind) {
  measuring_ = qualityObserver_ || qualityOptionsOn();
  measured_ = false;
  meter_.reset();
  qualities_.clear();
  referenceIndex_ = 0;
  imageQuality_ = ImageQuality();
  referenceGrey_ = GImage();
  referenceFull_ = velIPL::G16Image();
  frameFilter_.reset();
  filterPool_.reset();
  filterFigures_ = FilterFigures();
  GImage merged;
  const bool fast = implementation_ == Implementation::Fast;
  if (qualityOptionsOn()) {
    merged = qualityMerge(kind);
  } else if (kind == RegistrationKind::Correlation) {
    merged = fast ? correlationFast() : correlationStraightforward();
  } else {
    merged = fast ? anteriorEdgeFast() : anteriorEdgeStraightforward();
  }
  meter_.reset();
  if (measuring_) {
    imageQuality_ = bitsPerSample_ == 16 ? assessMerge(accumulator_, divisor_, referenceFull_)
                                         : assessMerge(accumulator_, divisor_, referenceGrey_);
    referenceGrey_ = GImage();
    referenceFull_ = velIPL::G16Image();
    measured_ = true;
  }
  if (frameFilter_) merged = finishFilter();
  return merged;
}

GImage Merger::finishFilter() {
  const velIPL::DImage before = average();
  velIPL::DImage after = frameFilter_->finish(*filterPool_);
  const QualityRegions regions = findQualityRegions(before);
  filterFigures_.before = measureQuality(before, regions);
  filterFigures_.after = measureQuality(after, regions);
  filterFigures_.frameNoise = frameFilter_->frameNoise();
  frameFilter_.reset();
  filterPool_.reset();
  filterFrame_ = velIPL::DImage();
  filterCovered_ = std::vector<std::uint8_t>();
  accumulator_ = std::move(after);
  divisor_ = 1;
  return result();
}

void Merger::filterFrame(const FramePixels& frame, const RowVector& shifts, int lateral) {
  if (!frameFilter_) return;
  if (frame.bitsPerSample == 16) {
    movedFrame(frame.full, shifts, lateral, filterFrame_, filterCovered_);
  } else {
    movedFrame(frame.grey, shifts, lateral, filterFrame_, filterCovered_);
  }
  frameFilter_->add(filterFrame_, filterCovered_, *filterPool_);
}

void Merger::startMeasuring(const GImage& reference, RegistrationKind kind) {
  if (measuring_) meter_ = std::make_unique<FrameQualityMeter>(reference, kind);
}

GImage Merger::correlationStraightforward() {
  startProgress();
  FrameReader reader(frames_);
  const FramePixels reference = loadReference(reader);
  CImage referenceSpectra;
  columnSpectra(reference.grey, referenceSpectra);
  const int m = referenceSpectra.height();
  startAccumulator(reference);
  startMeasuring(reference.grey, RegistrationKind::Correlation);

  // Every column comparison uses the same weights and inverse table; built
  // once here rather than per column, with identical values.
  const CplxVector weights = frequencyWeights(m);
  CplxVector inverse(m);
  inverseTwiddles(inverse);

  for (int j = 1; j < imageCount_; ++j) {
    const FramePixels frame = load(reader, j);
    requireReferenceDepth(frame);
    requireReferenceSize(frame.grey);
    CImage spectra;
    columnSpectra(frame.grey, spectra);
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
    const RowVector raw = s;
    smoothProfile(s);
    accept(j, frame, raw, s, s);
  }
  return result();
}

GImage Merger::anteriorEdgeStraightforward() {
  startProgress();
  FrameReader reader(frames_);
  const FramePixels reference = loadReference(reader);
  const RowVector referenceEdges = anteriorEdges(reference.grey);
  startAccumulator(reference);
  startMeasuring(reference.grey, RegistrationKind::AnteriorEdge);

  for (int j = 1; j < imageCount_; ++j) {
    const FramePixels frame = load(reader, j);
    requireReferenceDepth(frame);
    // A different width is reported by the difference of the edge profiles.
    RowVector s = -(anteriorEdges(frame.grey) - referenceEdges);
    requireReferenceSize(frame.grey);
    const RowVector raw = s;
    smoothProfile(s);
    const RowVector smoothed = s;
    correctOutliers(s);
    accept(j, frame, raw, smoothed, s);
  }
  return result();
}

void Merger::startProgress() {
  if (progress_) progress_->start(imageCount_);
}

void Merger::stepProgress() {
  if (progress_) progress_->step();
}

FramePixels Merger::load(FrameReader& reader, int index) {
  currentImage_ = index;
  FramePixels frame;
  reader.read(index, frame);
  return frame;
}

FramePixels Merger::loadReference(FrameReader& reader, int index) {
  view_.reset();
  reader.setView(nullptr);
  FramePixels reference = load(reader, index);
  if (reference.bitsPerSample == 16) {
    view_ = std::make_unique<EightBitView>(reference.full);
    reader.setView(view_.get());
    reference.grey = view_->view(reference.full);
  }
  return reference;
}

void Merger::startAccumulator(const FramePixels& reference) {
  width_ = reference.grey.width();
  height_ = reference.grey.height();
  bitsPerSample_ = reference.bitsPerSample;
  stepProgress();
  accumulator_ = velIPL::DImage(width_, height_, 0.0);
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      accumulator_.at(x, y) = bitsPerSample_ == 16 ? reference.full.at(x, y) : reference.grey.at(x, y);
    }
  }
  divisor_ = imageCount_;
  if (speckleFilter_) {
    frameFilter_ = speckleFilter_->make(speckleStrength_);
    // Threads of its own: the fast merge's pool lives only in its loop.
    filterPool_ = std::make_unique<WorkerPool>(implementation_ == Implementation::Fast ? filterThreads(threads_) : 1);
    frameFilter_->start(bitsPerSample_ == 16 ? toDoubles(reference.full) : toDoubles(reference.grey), *filterPool_);
  }
  // The figures compare the average with the reference it started from.
  if (measuring_) {
    if (bitsPerSample_ == 16) {
      referenceFull_ = reference.full;
    } else {
      referenceGrey_ = reference.grey;
    }
  }
}

void Merger::requireReferenceDepth(const FramePixels& frame) const {
  if (frame.bitsPerSample != bitsPerSample_) {
    throw velIPL::IPLException("Image has not same bit depth as reference image");
  }
}

void Merger::requireReferenceSize(const GImage& image) const {
  if (image.width() != width_ || image.height() != height_) {
    throw velIPL::IPLException("Image has not same dimensions as reference image");
  }
}

void Merger::measure(int index, const FramePixels& frame, const RowVector& raw, const RowVector& smoothed,
                     const RowVector& shifts) {
  if (!meter_) return;
  qualities_.push_back(meter_->measure(index, frame.grey, raw, smoothed, shifts, 0, width_, peakRatios_));
  if (qualityObserver_) qualityObserver_(qualities_.back());
}

void Merger::accept(int index, const FramePixels& frame, const RowVector& raw, const RowVector& smoothed,
                    const RowVector& shifts) {
  if (observer_) observer_(index, shifts);
  measure(index, frame, raw, smoothed, shifts);
  filterFrame(frame, shifts, 0);
  if (frame.bitsPerSample == 16) {
    accumulateShifted(accumulator_, frame.full, shifts);
  } else {
    accumulateShifted(accumulator_, frame.grey, shifts);
  }
  stepProgress();
}

GImage Merger::result() const {
  return view_ ? view_->averageResult(accumulator_, divisor_) : averageResult(accumulator_, divisor_);
}

velIPL::DImage Merger::average() const {
  velIPL::DImage mean(accumulator_.width(), accumulator_.height(), 0.0);
  for (int y = 0; y < mean.height(); ++y) {
    for (int x = 0; x < mean.width(); ++x) mean.at(x, y) = accumulator_.at(x, y) / divisor_;
  }
  return mean;
}

velIPL::G16Image Merger::average16() const { return averageResult16(accumulator_, divisor_); }

}  // namespace lumifold
