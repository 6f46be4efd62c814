// The public real data set the frame-quality and filter evaluations are
// judged on: repeated SD-OCT B-scans of 18 eyes, laid out as in the public
// repository that holds them,
//
//   Datasets/dt1_Bioptigen_SDOCT/N/test.tif, 1.tif .. 4.tif, average.tif
//   Metrics/rois_for_dt1/NN.mat   (variable pos: one [x y w h] per region,
//                                  region 1 the background)
//
// and the figures that set's papers compute on it, computed the same way
// (PSNR and SSIM against average.tif; MSR, CNR, ENL and EP in the drawn
// regions). Nothing here is committed data: the files are read from a copy
// the user names. Every reader throws velIPL::IPLException with a fixed
// message on a missing or damaged file; the MAT reader treats its input as
// hostile (sizes checked before allocation, inflation bounded).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ipl/images.h"

namespace lumifold {

// Where the set lies: the folder of the eyes' folders, and the folder of
// the region files (empty when the copy has none).
struct RealDataLocation {
  std::string eyes;
  std::string regions;
};

// dir: a copy of the repository, or its Datasets/dt1_Bioptigen_SDOCT
// folder (the regions are then looked for two levels up, under
// Metrics/rois_for_dt1). Throws when no eye folder 1 is found.
RealDataLocation locateRealData(const std::string& dir);

// "1-9", "1,3,5", "2-4,8": eye numbers in the order given, each once.
// Throws on anything else, or on a number outside 1 .. 18.
std::vector<int> parseEyeSelection(const std::string& text);

// A drawn region in pixels: columns x .. x + width - 1, rows
// y .. y + height - 1, already rounded as the set's scripts round (to the
// nearest whole number, as 16-bit unsigned) and clipped to the image.
struct Region {
  int x = 0, y = 0, width = 0, height = 0;
};

struct RealEye {
  int number = 0;
  // test.tif, 1.tif, 2.tif, 3.tif, 4.tif, in that order.
  std::vector<velIPL::GImage> frames;
  velIPL::GImage average;
  // Region 0 is the background; empty when the copy has no region file.
  std::vector<Region> regions;
};

// Loads eye number (1 .. 18); the frames must all have one size.
RealEye loadRealEye(const RealDataLocation& location, int number);

// The regions of a MAT v5 file's variable pos (a cell of 1 x 4 rows or an
// N x 4 matrix), from its bytes.
std::vector<Region> parseRegionFile(const std::vector<std::uint8_t>& bytes);

// The figures, on images of doubles (grey 0 .. 255); toDouble converts a
// merge's 8-bit result.
velIPL::DImage toDouble(const velIPL::GImage& image);

// PSNR (dB, peak 255) and SSIM of result against reference, both cut to
// the even size within their common size as the set's scripts cut them.
// SSIM as the usual toolbox computes it: an 11-tap Gaussian window of
// sigma 1.5 with replicated borders, K1 0.01, K2 0.03, L 255, the mean of
// the whole map.
double protocolPsnr(const velIPL::DImage& result, const velIPL::DImage& reference);
double protocolSsim(const velIPL::DImage& result, const velIPL::DImage& reference);

// MSR: mean over the foreground regions (all but region 0) of mean / SD;
// CNR: |mean of the foreground means - background mean| /
//      sqrt((mean foreground SD^2 + background SD^2) / 2);
// ENL: background mean^2 / background SD^2. SDs with n - 1. NaN where
// there are not two regions.
struct RegionFigures {
  double msr = 0.0, cnr = 0.0, enl = 0.0;
};
RegionFigures regionFigures(const velIPL::DImage& image, const std::vector<Region>& regions);

// Edge preservation: mean over the foreground regions of the correlation,
// over the whole image, of the Laplacians (3 x 3, alpha 0.2, zeros outside)
// of result and of noisy each masked to the region. NaN without regions.
double edgePreservation(const velIPL::DImage& result, const velIPL::DImage& noisy,
                        const std::vector<Region>& regions);

}  // namespace lumifold
