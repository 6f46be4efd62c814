// Merger: turns an ordered list of B-scan frames of one retinal section
// into one averaged grey image. Frame 0 is the reference; every other frame
// is registered to it column by column (a whole-row axial shift per
// column), added into a running sum, and the sum is divided by the number
// of frames. A frame is one frame of an image file or an image held in
// memory (merge_frame.h); a list of paths is a list of each file's first
// frame. A merge runs to completion on the calling thread, which receives
// every progress call and every observer call, in image order; the fast
// implementation lends it helper threads only for the duration of a merge.
//
// Each merge reads every frame exactly once, one at a time through the
// image decoders, and holds at most the reference and two further frames
// (the one being registered and the next one being read), whatever the
// number of frames or of frames per file. Nothing is caught: a file that
// cannot be read ends the merge with the reader's velIPL::IPLException, a
// frame whose size differs from the reference's with
// velIPL::IPLException("Image has not same dimensions as reference image")
// (the anterior-edge merge reports a different width as
// mathORN::MathException("Incompatible vector size")), one whose depth
// differs with IPLException("Image has not same bit depth as reference
// image"), and currentImage() then names the frame that failed. Progress,
// when given, must outlive the Merger.
//
// 16-bit series (docs/precision.md): every frame is registered on its 8-bit
// view by the one mapping the reference fixes (eight_bit_view.h), so the
// anterior edge's threshold of 200 applies to that view, while the sum
// takes the frames' full 16-bit values. 8-bit series give every result
// exactly as before frames and depths existed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ipl/image_decoder.h"
#include "ipl/images.h"
#include "math/row_vector.h"
#include "merge/frame_quality.h"
#include "merge/image_quality.h"
#include "merge/merge_frame.h"
#include "merge/merge_progress.h"

namespace lumifold {

class EightBitView;
class FrameFilter;
class FrameReader;
struct SpeckleFilter;
struct FramePixels;
class WorkerPool;

class Merger {
public:
  // Frame 0 of every file of the list, in order.
  explicit Merger(const std::vector<std::string>& fileNames, MergeProgress* progress = nullptr);
  explicit Merger(std::vector<MergeFrame> frames, MergeProgress* progress = nullptr);
  ~Merger();

  // Registration by the phase-normalised cross-correlation of the column
  // spectra, smoothed by a running median of 15. Throws
  // velIPL::IPLException("Image must have at least 2 rows") for a reference
  // of fewer than two rows.
  velIPL::GImage mergeByCorrelation();
  // Registration by the first row reaching grey 200 in every column, cleaned
  // by the running median of 15 and the outlier correction of 25.
  velIPL::GImage mergeByAnteriorEdge();

  // How the frames are registered. Both give the same image, byte for byte.
  // Fast works on several columns at once, on every core the process may
  // use, and reads the next file while the current one is registered.
  // Straightforward runs every operation literally, one column at a time on
  // the calling thread: the yardstick that tests and benchmarks measure Fast
  // against.
  enum class Implementation { Fast, Straightforward };
  void setImplementation(Implementation implementation) { implementation_ = implementation; }
  Implementation implementation() const { return implementation_; }

  // Threads the fast implementation registers one merge on, the calling
  // thread included; 0 (the default) means every core the process may use,
  // up to 8. A program merging several series at once gives each a share.
  // The reader thread comes on top. The result never depends on it.
  void setThreads(int threads) { threads_ = threads; }

  // Receives each registered frame's final shift profile (after the median
  // passes); does not change the result.
  using ShiftObserver = std::function<void(int imageIndex, const mathORN::RowVector& shifts)>;
  void setShiftObserver(ShiftObserver observer);

  // Frame quality (frame_quality.h, docs/quality.md). Receives each
  // registered frame's measures, in the order the frames are registered;
  // setting it makes the merge measure, which changes no result.
  using QualityObserver = std::function<void(const FrameQuality& quality)>;
  void setQualityObserver(QualityObserver observer);

  // What a merge may do beyond today's: drop the frames the series does not
  // agree with (never the reference), register to another reference than
  // frame 0 (its index in the list, or kAutoReference for the frame most
  // like the others), and find and undo a whole-pixel sideways slip of each
  // frame, dividing each column by the number of frames that covered it.
  // With all three off the merge is exactly the merge without them. With
  // rejection the frames are read twice: once to register and measure them
  // (keeping only their shifts and measures), once to add those kept.
  static constexpr int kAutoReference = -1;
  struct QualityOptions {
    bool reject = false;
    int reference = 0;
    bool lateral = false;
  };
  // Throws std::invalid_argument for a reference outside the list when the
  // merge starts.
  void setQualityOptions(const QualityOptions& options) { qualityOptions_ = options; }

  // A speckle filter (denoise/speckle_filter.h, docs/denoise.md): the
  // registered frames also go through filter at strength, and the merge's
  // image, average() and average16() are then the filtered picture.
  // nullptr, the default, merges exactly as without it. The result does
  // not depend on the implementation or the threads.
  void setSpeckleFilter(const SpeckleFilter* filter, double strength);
  const SpeckleFilter* speckleFilter() const { return speckleFilter_; }
  double speckleStrength() const { return speckleStrength_; }
  // After a filtered merge: the figures of the plain average and of the
  // filtered picture over the regions found on the plain average, and the
  // noise deviation of one frame the filter measured.
  struct FilterFigures {
    QualityFigures before, after;
    double frameNoise = 0.0;
  };
  const FilterFigures& filterFigures() const { return filterFigures_; }

  // After a merge that measured (an observer set or an option on): each
  // registered frame's measures in list order, with the rejection's verdict;
  // the reference's index; the image-quality figures of the average and the
  // reference. Before: empty, 0 and zeros.
  bool measured() const { return measured_; }
  const std::vector<FrameQuality>& frameQualities() const { return qualities_; }
  int referenceIndex() const { return referenceIndex_; }
  const ImageQuality& imageQuality() const { return imageQuality_; }

  // Index of the frame being loaded or registered; after an exception
  // escapes a merge it names the frame that failed. -1 before any merge.
  int currentImage() const { return currentImage_; }

  // What the last finished merge gives beside its 8-bit image; empty
  // images before one.
  // The frames' depth, 8 or 16.
  int bitsPerSample() const { return bitsPerSample_; }
  // The unrounded mean, sum / frame count, in the frames' own units (0 to
  // 255 or 0 to 65535): for a 32-bit floating-point picture.
  velIPL::DImage average() const;
  // round(sum / frame count), halves up, clamped at 65535: the 16-bit grey
  // of a 16-bit series (an 8-bit series gives its merged values).
  velIPL::G16Image average16() const;

private:
  // The literal loops; merger.cpp.
  velIPL::GImage correlationStraightforward();
  velIPL::GImage anteriorEdgeStraightforward();
  // The fast loops, built from the fast layer; fast/merger_fast.cpp.
  velIPL::GImage correlationFast();
  velIPL::GImage anteriorEdgeFast();
  // Both registrations, with the quality measures and options around them.
  velIPL::GImage run(RegistrationKind kind);
  bool qualityOptionsOn() const;
  // The merge with any quality option on; merger_quality.cpp.
  velIPL::GImage qualityMerge(RegistrationKind kind);
  int chooseReference(FrameReader& reader);
  // Adds frame moved sideways by lateral and then by shifts, counting the
  // columns it covers.
  void addFrame(const FramePixels& frame, const mathORN::RowVector& shifts, int lateral, std::vector<int>& counts);
  // Hands the speckle filter the frame moved as addFrame moves it.
  void filterFrame(const FramePixels& frame, const mathORN::RowVector& shifts, int lateral);
  // Replaces the average by the filtered picture; returns the merged image.
  velIPL::GImage finishFilter();
  void finishAverage(const std::vector<int>& counts);
  void startProgress();
  void stepProgress();
  // Loads frame index, remembering it as the current one.
  FramePixels load(FrameReader& reader, int index);
  // Loads the reference (frame 0 unless told); for a 16-bit series also
  // fixes the view and tells the reader.
  FramePixels loadReference(FrameReader& reader, int index = 0);
  // Starts measuring against the reference when the merge measures.
  void startMeasuring(const velIPL::GImage& reference, RegistrationKind kind);
  // Sets the size and depth from the reference and starts the sum with it.
  void startAccumulator(const FramePixels& reference);
  void requireReferenceDepth(const FramePixels& frame) const;
  void requireReferenceSize(const velIPL::GImage& image) const;
  // Hands the shifts to the observer, adds the shifted frame (its full
  // values) and steps the progress; acceptPooled adds an 8-bit frame on the
  // pool's threads.
  // raw and smoothed are the profile before the median passes and after the
  // running median, for the measures.
  void accept(int index, const FramePixels& frame, const mathORN::RowVector& raw, const mathORN::RowVector& smoothed,
              const mathORN::RowVector& shifts);
  void acceptPooled(int index, const FramePixels& frame, const mathORN::RowVector& raw,
                    const mathORN::RowVector& smoothed, const mathORN::RowVector& shifts, WorkerPool& pool);
  void measure(int index, const FramePixels& frame, const mathORN::RowVector& raw, const mathORN::RowVector& smoothed,
               const mathORN::RowVector& shifts);
  // The merged 8-bit image: an 8-bit series' average rounded literally
  // (result) or on the pool (resultPooled), a 16-bit series' through the
  // view.
  velIPL::GImage result() const;
  velIPL::GImage resultPooled(WorkerPool& pool) const;

  int width_ = 0;
  int height_ = 0;
  velIPL::DImage accumulator_;
  std::vector<MergeFrame> frames_;
  int imageCount_;
  int bitsPerSample_ = 8;
  std::unique_ptr<EightBitView> view_;
  MergeProgress* progress_;
  ShiftObserver observer_;
  QualityObserver qualityObserver_;
  QualityOptions qualityOptions_;
  // The divisor of the sum: the frame count, the frames kept, or 1 once the
  // sum has been divided column by column.
  int divisor_ = 1;
  bool measuring_ = false;
  bool measured_ = false;
  std::unique_ptr<FrameQualityMeter> meter_;
  // The peak ratios the fast correlator gives the meter, while it runs.
  const std::vector<double>* peakRatios_ = nullptr;
  // The reference frame's pixels (8-bit or 16-bit, as the sum holds them),
  // which the figures compare the average with.
  velIPL::GImage referenceGrey_;
  velIPL::G16Image referenceFull_;
  std::vector<FrameQuality> qualities_;
  int referenceIndex_ = 0;
  ImageQuality imageQuality_;
  const SpeckleFilter* speckleFilter_ = nullptr;
  double speckleStrength_ = 0.0;
  std::unique_ptr<FrameFilter> frameFilter_;
  std::unique_ptr<WorkerPool> filterPool_;
  // The frame being handed to the filter, moved, and the pixels it covers.
  velIPL::DImage filterFrame_;
  std::vector<std::uint8_t> filterCovered_;
  FilterFigures filterFigures_;
  int currentImage_ = -1;
  Implementation implementation_ = Implementation::Fast;
  int threads_ = 0;
};

}  // namespace lumifold
