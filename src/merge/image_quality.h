// Image-quality figures that need no ground truth: the signal-to-noise
// ratio, the contrast-to-noise ratio and the equivalent number of looks of
// a B-scan, over regions found from its anterior edge. docs/quality.md gives
// the formulas.
#pragma once

#include <vector>

#include "ipl/image_decoder.h"
#include "ipl/images.h"

namespace lumifold {

// The regions, found once (on the average) and applied to every image of
// the series, so that figures of the average and of the reference compare.
struct QualityRegions {
  // The grey at which a column's edge is found, and the edge row of every
  // column (-1 where the column has none).
  double edgeThreshold = 0.0;
  std::vector<int> edges;
  // Background: rows 0 .. backgroundEnd - 1 of each column with an edge,
  // ending gap rows above the edge, or above where the column first rises
  // clearly from the background's level if that is higher (0: none).
  int backgroundGap = 0;
  std::vector<int> backgroundEnd;
  long long backgroundPixels = 0;
  // Tissue: in each column with an edge, the band of bandRows rows below
  // the edge whose mean is highest; tissueTop[x] its first row (-1: none).
  int bandRows = 0;
  std::vector<int> tissueTop;
  long long tissuePixels = 0;
  // Homogeneous region (for the equivalent number of looks): the tissue
  // band of the columns whose band mean lies between the quartiles.
  std::vector<bool> homogeneous;
  long long homogeneousPixels = 0;
};

struct QualityFigures {
  double tissueMean = 0.0, tissueDeviation = 0.0;
  double backgroundMean = 0.0, backgroundDeviation = 0.0;
  double snrDb = 0.0;  // 20 log10(tissue mean / background deviation)
  double cnr = 0.0;    // (tissue mean - background mean) / sqrt(tissue var + background deviation^2)
  double enl = 0.0;    // homogeneous mean^2 / homogeneous variance
};

// Finds the regions on image (any units). Columns with no edge, or too
// near the top for a background, take no part.
QualityRegions findQualityRegions(const velIPL::DImage& image);

// The figures of image over regions; zeros where a region is empty.
QualityFigures measureQuality(const velIPL::DImage& image, const QualityRegions& regions);

// The figures of a merge: the average's and the reference's over the
// regions found on the average, and the gain from one to the other.
struct ImageQuality {
  QualityRegions regions;
  QualityFigures average;
  QualityFigures reference;
  double snrGainDb = 0.0;
};
ImageQuality assessMerge(const velIPL::DImage& average, const velIPL::DImage& reference);
// The same from a merge's running sum, whose average is sum / divisor (as
// Merger::average() divides it), and its reference frame's own pixels:
// the same figures, without making either image of doubles.
ImageQuality assessMerge(const velIPL::DImage& sum, int divisor, const velIPL::GImage& reference);
ImageQuality assessMerge(const velIPL::DImage& sum, int divisor, const velIPL::G16Image& reference);

}  // namespace lumifold
