// What a merge with frame quality does beyond registering each frame to a
// fixed reference: finding a frame's whole-pixel sideways slip against the
// reference, moving the frame by it, and choosing as reference the frame
// most like the others. docs/quality.md says how each works.
#pragma once

#include <cstdint>
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

// The normalised correlation of two profiles over columns first .. end - 1.
double profileCorrelation(const std::vector<double>& a, const std::vector<double>& b, int first, int end);

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
