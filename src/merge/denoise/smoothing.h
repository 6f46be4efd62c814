// Separable smoothing of images of doubles, for the speckle filter: a
// Gaussian and a running box mean, both with replicated borders (a pixel
// outside the image takes the value of the nearest pixel inside), so that
// a flat image stays flat up to its edges. Every output pixel is the same
// fixed-order sum whatever the image size, so results repeat bit for bit.
// Any size is accepted, an empty image included; nothing throws but
// std::bad_alloc. The rows are shared out among the pool's threads, which
// changes no value.
#pragma once

#include "ipl/images.h"

namespace lumifold {

class WorkerPool;

// Gaussian of deviation sigmaY down the columns and sigmaX along the rows,
// each cut at three deviations; a deviation of 0 leaves that direction.
// out and scratch are reused when they have the image's size (a filter
// smoothing frame after frame then touches no fresh memory); out must not
// be image.
void gaussianSmooth(const velIPL::DImage& image, double sigmaY, double sigmaX, velIPL::DImage& out,
                    velIPL::DImage& scratch, WorkerPool& pool);

// Mean over the (2 radiusY + 1) x (2 radiusX + 1) box around each pixel.
void boxMean(const velIPL::DImage& image, int radiusY, int radiusX, velIPL::DImage& out, velIPL::DImage& scratch,
             WorkerPool& pool);

}  // namespace lumifold
