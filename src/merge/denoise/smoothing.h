// Separable smoothing of images of doubles, for the speckle filter: a
// Gaussian and a running box mean, both with replicated borders (a pixel
// outside the image takes the value of the nearest pixel inside), so that
// a flat image stays flat up to its edges. Every output pixel is the same
// fixed-order sum whatever the image size, so results repeat bit for bit.
// Any size is accepted, an empty image included; nothing throws but
// std::bad_alloc.
#pragma once

#include "ipl/images.h"

namespace lumifold {

// Gaussian of deviation sigmaY down the columns and sigmaX along the rows,
// each cut at three deviations; a deviation of 0 leaves that direction.
velIPL::DImage gaussianSmooth(const velIPL::DImage& image, double sigmaY, double sigmaX);

// Mean over the (2 radiusY + 1) x (2 radiusX + 1) box around each pixel.
velIPL::DImage boxMean(const velIPL::DImage& image, int radiusY, int radiusX);

}  // namespace lumifold
