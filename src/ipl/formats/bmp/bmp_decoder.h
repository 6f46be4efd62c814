// The BMP entry of the decoder table: BmpHeader, BmpInfo and BmpReader
// behind the ImageDecoder interface, with their own messages unchanged.
//
// probe() reports the header probe's reasons ("Bitmap file not complete",
// "File is not a bitmap image", ...); open() and readFrame() the reader's
// ("Premature end of stream", "Not a bmp image", ...). A BMP holds one
// 8-bit frame; a top-down file reports its rows in height with topDown set.
#pragma once

#include "ipl/image_decoder.h"

namespace velIPL {

class BmpDecoder : public ImageDecoder {
public:
  std::string_view key() const override { return "bmp"; }
  std::string_view name() const override { return "BMP"; }
  std::vector<std::string_view> extensions() const override { return {".bmp"}; }

  // The file type "BM" in the first two bytes.
  bool recognises(std::span<const unsigned char> head) const override;

  // Throws IPLException with the header probe's message for a refused file,
  // "Can't open image file" for one that cannot be opened.
  ImageFileInfo probe(const std::string& fileName) const override;

  // Parses the headers, throwing the reader's message for a refused file.
  std::unique_ptr<ImageFile> open(const std::string& fileName) const override;
};

// The one shared instance, for the decoder table.
const ImageDecoder& bmpDecoder();

}  // namespace velIPL
