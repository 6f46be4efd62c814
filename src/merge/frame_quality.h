// Frame quality: how far each registered frame of a merge can be trusted,
// measured from what both implementations already have (the frame, the
// reference, the shift profile before and after the median passes), so the
// two give the same measures to the bit; and the robust-outlier rule that
// drops the frames a series does not agree with. docs/quality.md gives the
// definitions and the reasons for every threshold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "ipl/images.h"
#include "math/cplx_vector.h"
#include "math/row_vector.h"
#include "merge/series_alignment.h"

namespace lumifold {

// Which registration the shifts came from; the agreement measures differ.
enum class RegistrationKind { Correlation, AnteriorEdge };

// The measures of one frame. A measure the registration does not have is
// NaN (the report writes null).
struct FrameQuality {
  int frame = 0;  // index in the merge's list
  // Share of columns whose raw shift the running median kept.
  double keptShare = 1.0;
  // Correlation: median over sampled columns of the correlation peak
  // divided by the mean magnitude of the correlation.
  double peakRatio = 0.0;
  // Anterior edge: share of columns with an edge, and share the outlier
  // pass replaced.
  double edgeShare = 0.0;
  double replacedShare = 0.0;
  // Mean grey of the frame over the pixels it shares with the reference
  // after its shifts, divided by the reference's over the same pixels.
  double relativeIntensity = 1.0;
  // The same ratio in the darkest of 16 bands of columns: a dropout darkens
  // one band and hardly the whole frame.
  double weakestBand = 1.0;
  // Normalised cross-correlation with the reference over those pixels, of
  // their means in blocks of 4 x 4 pixels.
  double correlation = 1.0;
  // Normalised correlation of the frame's depth-summed lateral profile with
  // the reference's (series_alignment.h): what no axial shift can make
  // agree, such as vessel shadows of another section.
  double profileCorrelation = 1.0;
  // The whole-pixel sideways shift applied before the axial registration.
  int lateralShift = 0;
  // Measured only in a merge with frame-quality options (NaN otherwise),
  // with the border columns the running median leaves unfiltered taking
  // their nearest filtered neighbour's shift:
  // the correlation of the fine shape of the layers with the frame held to
  // a rigid axial offset and tilt (StructureMatcher::Match::detail), which
  // no column-by-column bending of another section can raise;
  double structureCorrelation = std::numeric_limits<double>::quiet_NaN();
  // the lowest block correlation in one of 16 bands of columns: a dropout
  // leaves one band without structure;
  double weakestBandCorrelation = std::numeric_limits<double>::quiet_NaN();
  // with --lateral, how far the chosen slip's evidence beats no slip (the
  // gain in block correlation; 0 when no slip was chosen).
  double lateralConfidence = std::numeric_limits<double>::quiet_NaN();
  // with --lateral, the slip the structure suggests whether or not it was
  // believed: what a frame would move by with all the evidence it has.
  int lateralEstimate = 0;
  // Filled by the rejection: dropped, and why.
  bool dropped = false;
  std::string reason;
};

class FrameQualityMeter {
public:
  // reference: the 8-bit reference the frames are registered to.
  // thorough: also the measures a merge with frame-quality options takes
  // (structureCorrelation, weakestBandCorrelation), and every block measure
  // with the border columns' shifts replaced by their nearest filtered
  // neighbour's; a plain merge's measures stay as they were.
  FrameQualityMeter(const velIPL::GImage& reference, RegistrationKind kind, bool thorough = false);

  // The measures of frame index (8-bit, of the reference's size) from its
  // raw shifts, the shifts after the running median (smoothed) and the
  // final ones. Only columns firstColumn .. endColumn - 1 are compared
  // (a frame moved sideways covers no more).
  // peakRatios: the correlation's peak ratio in each of peakColumns(), when
  // the registration has them already (the fast correlator gives the same
  // values); measured here when null.
  FrameQuality measure(int index, const velIPL::GImage& frame, const mathORN::RowVector& raw,
                       const mathORN::RowVector& smoothed, const mathORN::RowVector& final, int firstColumn,
                       int endColumn, const std::vector<double>* peakRatios = nullptr,
                       std::vector<double>* detail = nullptr) const;

  // The columns whose correlation peak ratio the correlation's measures
  // take (none for the anterior edge).
  const std::vector<int>& peakColumns() const { return sampleColumns_; }

private:
  double weakestBandCorrelation(const std::vector<std::int32_t>& blockA, const std::vector<std::int32_t>& blockB,
                                const std::vector<int>& blockN, int sampledColumns, int firstColumn, int endColumn) const;
  // The spectrum columnSpectra gives column x of image, 1 <= x <= width - 2.
  mathORN::CplxVector columnSpectrum(const velIPL::GImage& image, int x) const;

  const velIPL::GImage& reference_;
  RegistrationKind kind_;
  bool thorough_;
  std::optional<StructureMatcher> matcher_;
  // The reference's sum over each whole block the measures sample (every
  // other block of every other row of blocks, in row order).
  std::vector<std::int32_t> referenceBlocks_;
  mathORN::RowVector referenceEdges_;
  std::vector<double> referenceProfile_;
  // The correlation's sampled columns and the reference's spectra there.
  std::vector<int> sampleColumns_;
  std::vector<mathORN::CplxVector> referenceSpectra_;
  std::vector<int> source_;
  std::vector<double> window_;
  mathORN::CplxVector forward_;
  mathORN::CplxVector weights_;
  mathORN::CplxVector inverse_;
};

// The rejection: marks every frame of the series (the reference is not in
// the list) that is a robust outlier or below an absolute floor, with its
// reason. docs/quality.md lists the rule.
// thorough: the frames were measured thoroughly, and the rule adds the
// criteria of those measures. details: the frames' detail grids
// (FrameQualityMeter::measure), in the order of frames; when given, each
// frame's structureCorrelation becomes the median of its correlation with
// the reference and with up to 32 other frames spread over the series, so
// that a frame is judged by the series, not by the reference alone.
void rejectOutliers(std::vector<FrameQuality>& frames, RegistrationKind kind, bool thorough = false,
                    const std::vector<std::vector<double>>* details = nullptr);

}  // namespace lumifold
