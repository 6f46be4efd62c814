// Non-local means with a separate guide: each pixel of the result is the
// weighted mean of the image's pixels in a search window around it, each
// weighted by how alike the guide's patches around the two pixels are,
// exp(-(mean squared difference over the patch) / h^2). The guide is the
// image itself or a smoothed copy, whose patch distances are less noisy.
// Windows are rectangles (radii down and across): retinal layers run
// across a B-scan, so similar patches lie mostly beside each other.
//
// Borders are replicated. The result is a convex combination of the
// image's pixels, so it stays within their range, and it is the same bit
// for bit for any number of threads: the rows are cut into bands, each
// band computed whole by one task in a fixed order. Any size is accepted,
// one row or one column included; image and guide must have one size
// (std::invalid_argument otherwise).
#pragma once

#include "ipl/images.h"

namespace lumifold {

class WorkerPool;

struct NonLocalMeansParameters {
  int patchRadiusY = 2, patchRadiusX = 3;
  int searchRadiusY = 4, searchRadiusX = 10;
  // In the guide's units; 0 or less returns the image unchanged.
  double h = 0.0;
};

velIPL::DImage nonLocalMeans(const velIPL::DImage& image, const velIPL::DImage& guide,
                             const NonLocalMeansParameters& parameters, WorkerPool& pool);

}  // namespace lumifold
