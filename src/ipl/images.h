// The four kinds of image the system computes with:
//   GImage   - 8-bit grey: input B-scans and the merged result;
//   DImage   - double: the merge accumulator;
//   RGBImage - 8-bit, channel 0 red, 1 green, 2 blue: coloured pictures and
//              colour tables;
//   CImage   - complex double: column spectra.
// GImage reads image files through the decoder table (image_decoder.h) and
// RGBImage writes BMP files (BmpWriter); both throw IPLException on failure.
#pragma once

#include <complex>
#include <string>

#include "ipl/image_base.h"

namespace velIPL {

class GImage : public ImageBase<unsigned char, 1> {
public:
  using ImageBase::ImageBase;
  GImage() = default;

  // Reads the first frame of an 8-bit image file through its decoder, each
  // pixel turned to grey; throws IPLException.
  explicit GImage(const std::string& fileName);
};

class DImage : public ImageBase<double, 1> {
public:
  using ImageBase::ImageBase;
};

class RGBImage : public ImageBase<unsigned char, 3> {
public:
  using ImageBase::ImageBase;

  // Writes the image as a 24-bit BMP file; throws IPLException. An existing
  // file is replaced only once the new one is complete, where the system
  // allows (see OutputFile); one the user may not write is left alone.
  void save(const std::string& fileName) const;
};

using CImage = ImageBase<std::complex<double>, 1>;

}  // namespace velIPL
