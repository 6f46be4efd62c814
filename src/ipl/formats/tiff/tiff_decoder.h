// The TIFF entry of the decoder table, through libtiff.
//
// Takes grey (black or white is zero), palette and RGB pages of 1, 2, 4, 8
// or 16 bits per sample (palette up to 8, RGB 8 or 16), with or without
// extra samples such as alpha (ignored), in strips or tiles, contiguous or
// planar, in either byte order, classic or BigTIFF, under every compression
// libtiff was built to decode (JPEG pages in YCbCr are decoded as RGB).
// Pages of up to 8 bits are read as 8-bit grey (1, 2 and 4 bits scaled to
// 0..255); 16-bit pages as 16-bit grey, 12-bit data in 16 bits unchanged.
// Colour becomes grey by greyOf at the sample depth (a 16-bit colour map's
// entries are taken as their high bytes, or whole when every entry is below
// 256, as old writers stored them). Reduced-resolution pages (thumbnails)
// are skipped; every other page is a frame, in file order.
//
// Refused with IPLException: "Unsupported TIFF: floating-point samples",
// "... signed samples", "... N bits per sample", "... N samples per pixel
// that are not colour", "... colour model", "... compression", "... pages of
// different sizes", "... pages of different depths"; "TIFF page chain
// loops"; "Corrupt TIFF file: " with libtiff's own reason; and the limits of
// frame_rules.h. A tile may be at most 1024 pixels or its image's side
// (rounded up to 16), whichever is more, so a tiny image cannot claim a
// gigantic tile buffer, and a page whose strips or tiles would expand
// beyond plausibleExpansion() is corrupt. Resolution in centimetres or inches gives the pixel
// spacing; without a unit it is not known.
#pragma once

#include <istream>
#include <memory>

#include "ipl/formats/frame_rules.h"
#include "ipl/image_decoder.h"

namespace velIPL {

class TiffDecoder : public StreamDecoder {
public:
  std::string_view key() const override { return "tiff"; }
  std::string_view name() const override { return "TIFF"; }
  std::vector<std::string_view> extensions() const override { return {".tif", ".tiff"}; }

  // "II" or "MM" followed by 42 (classic) or 43 (BigTIFF) in that order.
  bool recognises(std::span<const unsigned char> head) const override;

  std::unique_ptr<ImageFile> openStream(std::unique_ptr<std::istream> stream) const override;
};

// The one shared instance, for the decoder table.
const ImageDecoder& tiffDecoder();

}  // namespace velIPL
