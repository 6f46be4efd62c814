// The merge with frame quality options on (Merger::QualityOptions): the
// reference chosen, each frame moved sideways when asked, registered by the
// chosen implementation's registrar, measured, and either added at once or,
// with rejection, added in a second reading of the frames kept. Memory
// stays that of a plain merge plus one shift profile and one set of
// measures per frame.
#include <limits>
#include <optional>
#include <stdexcept>

#include "merge/accumulation.h"
#include "merge/frame_reader.h"
#include "merge/frame_registrar.h"
#include "merge/merger.h"
#include "merge/series_alignment.h"

namespace lumifold {

using mathORN::RowVector;
using velIPL::GImage;

namespace {

template <typename Image>
void addMoved(velIPL::DImage& sum, const Image& image, const RowVector& s, int lateral, std::vector<int>& counts) {
  const int w = sum.width();
  const int h = sum.height();
  for (int x = 0; x < w; ++x) {
    const int source = x - lateral;
    if (source < 0 || source >= w) continue;
    ++counts[static_cast<std::size_t>(x)];
    const long long shift = static_cast<long long>(clampedShift(s[x], h));
    for (int y = 0; y < h; ++y) {
      const long long row = y - shift;
      if (row >= 0 && row < h) sum.at(x, y) += image.at(source, static_cast<int>(row));
    }
  }
}

}  // namespace

int Merger::chooseReference(FrameReader& reader) {
  if (qualityOptions_.reference != kAutoReference) {
    if (qualityOptions_.reference < 0 || qualityOptions_.reference >= imageCount_) {
      throw std::invalid_argument("Reference frame outside the series");
    }
    return qualityOptions_.reference;
  }
  const std::vector<int> candidates = referenceCandidates(imageCount_);
  std::vector<Thumbnail> thumbnails;
  for (const int i : candidates) {
    FramePixels frame = load(reader, i);
    thumbnails.push_back(frame.bitsPerSample == 16 ? makeThumbnail(frame.full) : makeThumbnail(frame.grey));
    // Frames of another size are refused once the reference is known.
    if (thumbnails.back().width != thumbnails.front().width || thumbnails.back().height != thumbnails.front().height) {
      return 0;
    }
  }
  return candidates[static_cast<std::size_t>(mostTypical(thumbnails))];
}

GImage Merger::qualityMerge(RegistrationKind kind) {
  startProgress();
  FrameReader reader(frames_);
  referenceIndex_ = chooseReference(reader);
  const FramePixels reference = loadReference(reader, referenceIndex_);
  // The registrar's own checks (a correlation needs two rows) come first,
  // as in the plain merges.
  const std::unique_ptr<FrameRegistrar> registrar = implementation_ == Implementation::Fast
                                                        ? fastRegistrar(reference.grey, kind)
                                                        : literalRegistrar(reference.grey, kind);
  startAccumulator(reference);
  const FrameQualityMeter meter(reference.grey, kind, true);
  const bool lateral = qualityOptions_.lateral;
  std::optional<StructureMatcher> matcher;
  if (lateral && width_ >= 4 && height_ >= 4) matcher.emplace(reference.grey);
  const std::vector<double> referenceProfile = matcher ? lateralProfile(reference.grey) : std::vector<double>();
  std::vector<int> counts(static_cast<std::size_t>(width_), 1);
  std::vector<RowVector> kept;
  // With rejection, each frame's detail grid (a few thousand values), so
  // that frames can be compared with each other, not only the reference.
  std::vector<std::vector<double>> details;
  if (qualityOptions_.reject) kept.resize(static_cast<std::size_t>(imageCount_));

  for (int j = 0; j < imageCount_; ++j) {
    if (j == referenceIndex_) continue;
    const FramePixels frame = load(reader, j);
    requireReferenceDepth(frame);
    requireReferenceSize(frame.grey);
    int t = 0;
    double confidence = std::numeric_limits<double>::quiet_NaN();
    int estimate = 0;
    GImage moved;
    if (matcher) {
      const std::vector<double> profile = lateralProfile(frame.grey);
      const int profileSlip = estimateLateralShift(referenceProfile, profile, lateralRange(width_));
      const StructureMatcher::Slip slip = matcher->slip(frame.grey, lateralRange(width_), profileSlip,
                                                        slippedProfileCorrelation(referenceProfile, profile, profileSlip));
      confidence = slip.confidence;
      estimate = slip.estimate;
      // Moved only where the slip clearly beats no slip: the structure of
      // real repeats agrees nearly as well a column or two either way.
      if (slip.confidence >= kSlipEvidence) t = slip.shift;
      if (t != 0) moved = shiftSideways(frame.grey, t);
    }
    const GImage& grey = t != 0 ? moved : frame.grey;
    RowVector raw, smoothed, s;
    registrar->registerFrame(grey, raw, smoothed, s);
    std::vector<double> detail;
    FrameQuality q = meter.measure(j, grey, raw, smoothed, s, t > 0 ? t : 0, t < 0 ? width_ + t : width_, nullptr,
                                   qualityOptions_.reject ? &detail : nullptr);
    if (qualityOptions_.reject) details.push_back(std::move(detail));
    q.lateralShift = t;
    q.lateralConfidence = confidence;
    q.lateralEstimate = estimate;
    if (observer_) observer_(j, s);
    qualities_.push_back(q);
    if (qualityObserver_) qualityObserver_(q);
    if (qualityOptions_.reject) {
      kept[static_cast<std::size_t>(j)] = s;
    } else {
      addFrame(frame, s, t, counts);
    }
    stepProgress();
  }

  if (qualityOptions_.reject) {
    rejectOutliers(qualities_, kind, true, &details);
    for (const FrameQuality& q : qualities_) {
      if (q.dropped) continue;
      const FramePixels frame = load(reader, q.frame);
      requireReferenceDepth(frame);
      requireReferenceSize(frame.grey);
      addFrame(frame, kept[static_cast<std::size_t>(q.frame)], q.lateralShift, counts);
    }
  }
  finishAverage(counts);
  return result();
}

void Merger::addFrame(const FramePixels& frame, const RowVector& shifts, int lateral, std::vector<int>& counts) {
  filterFrame(frame, shifts, lateral);
  if (frame.bitsPerSample == 16) {
    addMoved(accumulator_, frame.full, shifts, lateral, counts);
  } else {
    addMoved(accumulator_, frame.grey, shifts, lateral, counts);
  }
}

void Merger::finishAverage(const std::vector<int>& counts) {
  bool even = true;
  for (const int c : counts) even = even && c == counts.front();
  if (even) {
    // Every column had the same frames: the sum divided once, as the plain
    // merge divides it.
    divisor_ = counts.empty() ? 1 : counts.front();
    return;
  }
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) accumulator_.at(x, y) /= counts[static_cast<std::size_t>(x)];
  }
  divisor_ = 1;
}

}  // namespace lumifold
