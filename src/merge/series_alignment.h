// What a merge with frame quality does beyond registering each frame to a
// fixed reference: finding a frame's whole-pixel sideways slip against the
// reference, moving the frame by it, and choosing as reference the frame
// most like the others. docs/quality.md says how each works.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "ipl/image_decoder.h"
#include "ipl/images.h"

namespace lumifold {

// The largest sideways slip looked for in a frame of that width: an eighth
// of it, at least 1 and at most 64 columns.
int lateralRange(int width);

// The frame's depth-summed profile, one value per column, with its slow
// trend (a running mean of 31 columns) removed: what a sideways slip moves
// and an axial shift does not change.
std::vector<double> lateralProfile(const velIPL::GImage& image);
// The same in two steps, for a caller that reads the image row by row
// anyway: each column's grey summed over rows first .. end - 1, added into
// sums (one per column); and the profile from sums over every row.
void addColumnSums(const velIPL::GImage& image, int first, int end, std::vector<std::int32_t>& sums);
std::vector<double> lateralProfileOfSums(const std::vector<std::int32_t>& sums);

// The slip t in -range .. range that best lines frame's profile up with the
// reference's, by normalised correlation over their overlap: column x - t of
// the frame shows what column x of the reference shows. Ties go to the
// smallest |t|, then to the negative one.
int estimateLateralShift(const std::vector<double>& reference, const std::vector<double>& frame, int range);

// The normalised correlation of the profiles with the frame slipped by t
// (as estimateLateralShift compares them), over their overlap.
double slippedProfileCorrelation(const std::vector<double>& reference, const std::vector<double>& frame, int t);

// The normalised correlation of two profiles over columns first .. end - 1.
double profileCorrelation(const std::vector<double>& a, const std::vector<double>& b, int first, int end);

// The least gain in block correlation over no slip for which a merge moves
// a frame sideways: real repeats that were not slipped reach 0.009.
inline constexpr double kSlipEvidence = 0.0125;
// The least correlation of the lateral profiles at which their slip is
// believed: simulated sections with vessel shadows reach 0.8, real foveal
// scans 0.15 at most.
inline constexpr double kProfileEvidence = 0.3;

// Frames matched to a reference by their 2-D structure: the means of 4 x 4
// blocks, which see the layers through the speckle, compared by normalised
// correlation while the frame is moved by a whole-column sideways slip, a
// whole-row axial offset and a tilt across the width. Real repeats of a
// section agree this way to 0.85 or more, another eye's B-scan to 0.75 at
// most; a slip moves the structure of both axes, not just a depth-summed
// profile that real scans have nearly flat.
class StructureMatcher {
public:
  // reference: 8-bit, at least one block of 4 x 4.
  explicit StructureMatcher(const velIPL::GImage& reference);

  struct Match {
    int lateral = 0;  // column x - lateral of the frame against column x of the reference
    int axial = 0;    // row y - axial of the frame against row y, at the middle column
    int tilt = 0;     // extra rows from the first column to the last
    double correlation = -1.0;  // -1: no candidate had enough blocks in common
    // With the frame so placed, the correlation of the detail of wide
    // blocks (means of width / 14 columns, at most 64, by 4 rows, less the
    // mean of the 5 x 5 blocks about each): the fine shape of each layer
    // boundary, which another eye's B-scan does not share even where its
    // layers line up (in a real series, repeats reach 0.85 of the best
    // frame's, another eye 0.72 at most; narrower blocks see more speckle
    // and part the two by less). NaN when the frame is too small for 5 x 5
    // blocks.
    double detail = std::numeric_limits<double>::quiet_NaN();
  };

  // The best match without a slip: axial offsets up to an eighth of the
  // height, tilts up to a sixteenth of it either way.
  // detail: when not null, receives the frame's detail grid so placed, for
  // comparing frames with each other (detailCorrelation).
  // blocks: when not null, receives the frame's sum over each 4 x 4 block
  // of the reference's grid (row-major, width / 4 blocks a row, height / 4
  // rows) with the frame so placed; -1 where the block lies outside it.
  Match rigid(const velIPL::GImage& frame, std::vector<double>* detail = nullptr,
              std::vector<std::int32_t>* blocks = nullptr) const;

  // The correlation of two detail grids (0 when either is flat, NaN when
  // they share fewer than two blocks).
  static double detailCorrelation(const std::vector<double>& a, const std::vector<double>& b);

  // The slip in -range .. range with the best match over axial offsets, and
  // how far its correlation beats the best without a slip (confidence).
  // candidate: a slip found otherwise (the lateral profile's, sharp where
  // vessel shadows mark the columns), with its own evidence (the profiles'
  // correlation there): taken when that evidence is strong and its block
  // match no worse than no slip's.
  // estimate: the best slip whatever its evidence; shift: the same, or the
  // candidate when that was taken; 0 when neither beats no slip.
  struct Slip {
    int shift = 0;
    double confidence = 0.0;
    int estimate = 0;
  };
  Slip slip(const velIPL::GImage& frame, int range, int candidate, double candidateEvidence) const;

private:
  struct Frame;
  // Reference blocks [first, end) in each direction.
  struct Window {
    int firstBlockColumn = 0, endBlockColumn = 0, firstBlockRow = 0, endBlockRow = 0;
  };
  // As correlationAt, without tilt, over the window's blocks only, every one
  // of which the caller keeps inside the frame for the slip and offset.
  double correlationWithin(const Frame& f, int lateral, int axial, const Window& window, int step) const;
  Frame prepare(const velIPL::GImage& frame) const;
  // The correlation of the candidate over the blocks (every step-th in each
  // direction) that lie inside both images.
  double correlationAt(const Frame& f, int lateral, int axial, int tilt, int step) const;
  Match refine(const Frame& f, Match m, bool tilts, bool laterals) const;
  // Rows the frame is moved down at block column bx: the axial offset and
  // the tilt's share at the block's centre, rounded to the nearest.
  int blockOffset(int bx, int axial, int tilt) const;

  // The detail grid of image placed by axial and tilt (NaN where it lies
  // outside the frame).
  std::vector<double> detailOf(const velIPL::GImage& image, int axial, int tilt) const;

  int width_ = 0, height_ = 0, blockColumns_ = 0, blockRows_ = 0;
  std::vector<std::int32_t> blocks_;  // the reference's block sums, row-major
  int detailWidth_ = 0, detailColumns_ = 0, detailRows_ = 0;
  std::vector<double> referenceDetail_;
};

// image moved sideways by t: column x of the result is column x - t of the
// image, the nearest edge column where that lies outside.
template <typename Image>
Image shiftSideways(const Image& image, int t) {
  Image moved(image.width(), image.height(), 0);
  const int w = image.width();
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < w; ++x) {
      const int source = x - t < 0 ? 0 : (x - t >= w ? w - 1 : x - t);
      moved.at(x, y) = image.at(source, y);
    }
  }
  return moved;
}

// A small picture of a frame for comparing frames: block means of at most
// kThumbnailColumns x kThumbnailRows blocks.
inline constexpr int kThumbnailColumns = 64;
inline constexpr int kThumbnailRows = 64;
struct Thumbnail {
  int width = 0;
  int height = 0;
  std::vector<double> values;  // row-major
};
Thumbnail makeThumbnail(const velIPL::GImage& image);
Thumbnail makeThumbnail(const velIPL::G16Image& image);

// How alike two thumbnails of one size are: the largest normalised
// correlation over whole-row axial offsets up to an eighth of the height.
double thumbnailSimilarity(const Thumbnail& a, const Thumbnail& b);

// Of the thumbnails, the index of the one whose median similarity to the
// others is highest (the first of equals).
int mostTypical(const std::vector<Thumbnail>& thumbnails);

// The frames of a series of frameCount frames whose thumbnails the choice
// compares: every frame up to kReferenceCandidates, otherwise that many
// spread evenly from frame 0 to the last.
inline constexpr int kReferenceCandidates = 32;
std::vector<int> referenceCandidates(int frameCount);

}  // namespace lumifold
