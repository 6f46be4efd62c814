// How close a grey image is to a reference image, for judging a merge
// against a simulator's noise-free section.
#pragma once

#include "ipl/images.h"

namespace lumifold {

// Peak signal-to-noise ratio in dB: 10 log10(255^2 / mean squared
// difference) over all pixels. +infinity for identical images. The images
// must have the same, non-zero size: the caller checks.
double peakSignalToNoise(const velIPL::GImage& image, const velIPL::GImage& reference);

}  // namespace lumifold
