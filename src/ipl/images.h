// The four kinds of image the system computes with:
//   GImage   - 8-bit grey: input B-scans and the merged result;
//   DImage   - double: the merge accumulator;
//   RGBImage - 8-bit, channel 0 red, 1 green, 2 blue: coloured pictures and
//              colour tables;
//   CImage   - complex double: column spectra.
#pragma once

#include <complex>

#include "ipl/image_base.h"

namespace velIPL {

class GImage : public ImageBase<unsigned char, 1> {
public:
  using ImageBase::ImageBase;
};

class DImage : public ImageBase<double, 1> {
public:
  using ImageBase::ImageBase;
};

class RGBImage : public ImageBase<unsigned char, 3> {
public:
  using ImageBase::ImageBase;
};

using CImage = ImageBase<std::complex<double>, 1>;

}  // namespace velIPL
