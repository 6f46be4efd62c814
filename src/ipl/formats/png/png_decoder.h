// The PNG entry of the decoder table, through libpng.
//
// Takes every PNG: grey, grey with alpha, palette, RGB and RGBA, 1 to 16
// bits per sample, interlaced or not. A PNG holds one frame. Up to 8 bits
// it is read as 8-bit grey (1, 2 and 4-bit grey scaled to 0..255, palette
// entries looked up), 16 bits as 16-bit grey; colour becomes grey by
// greyOf at the sample depth, alpha is ignored, and no gamma or colour
// profile is applied: the stored values are the values. sBIT gives the
// significant bits, pHYs in metres the pixel spacing.
//
// libpng reports errors by longjmp. Every libpng call therefore runs inside
// one of a few plain functions (png_decoder.cpp) that set the jump point
// themselves and hold no object with a destructor, and the callbacks hold
// none either; the jump never crosses a C++ frame that would need
// unwinding. Those functions return failure, and C++ code outside them
// throws "Corrupt PNG file: " with libpng's reason. Warnings are dropped,
// nothing is printed. Sizes are checked against frame_rules.h before the
// rows are allocated.
#pragma once

#include <istream>
#include <memory>

#include "ipl/formats/frame_rules.h"
#include "ipl/image_decoder.h"

namespace velIPL {

class PngDecoder : public StreamDecoder {
public:
  std::string_view key() const override { return "png"; }
  std::string_view name() const override { return "PNG"; }
  std::vector<std::string_view> extensions() const override { return {".png"}; }

  // The eight-byte PNG signature.
  bool recognises(std::span<const unsigned char> head) const override;

  std::unique_ptr<ImageFile> openStream(std::unique_ptr<std::istream> stream) const override;
};

// The one shared instance, for the decoder table.
const ImageDecoder& pngDecoder();

}  // namespace velIPL
