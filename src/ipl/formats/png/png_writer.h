// PngWriter: writes one image as a PNG through libpng: 8-bit grey, 16-bit
// grey or 8-bit RGB, not interlaced, with a pHYs chunk (pixels per metre)
// when a pixel spacing is given. As in the decoder, every libpng call runs
// in a plain function that sets its own jump point and holds nothing with a
// destructor, so libpng's longjmp on an error never crosses C++ frames.
//
// The file is encoded into memory and saved through OutputFile, so a
// failure never leaves a broken target behind. Throws IPLException: "Empty
// image" for an image without pixels, "Cannot write image" when libpng
// fails (with its reason), and OutputFile's messages.
#pragma once

#include <string>
#include <vector>

#include "ipl/image_decoder.h"
#include "ipl/images.h"

namespace velIPL {

struct PngWriteOptions {
  double pixelSpacingX = 0.0;  // millimetres per column; 0 writes no pHYs
  double pixelSpacingY = 0.0;  // millimetres per row
  std::string software;        // a "Software" text chunk when not empty
};

class PngWriter {
public:
  explicit PngWriter(const PngWriteOptions& options = {}) : options_(options) {}

  std::vector<unsigned char> encode(const GImage& image) const;
  std::vector<unsigned char> encode(const G16Image& image) const;
  std::vector<unsigned char> encode(const RGBImage& image) const;

  template <typename Image>
  void writeFile(const std::string& fileName, const Image& image) const {
    const std::vector<unsigned char> bytes = encode(image);
    save(fileName, bytes);
  }

private:
  std::vector<unsigned char> encodeRows(int width, int height, int bitDepth, bool colour,
                                        const std::vector<const unsigned char*>& rows) const;
  static void save(const std::string& fileName, const std::vector<unsigned char>& bytes);

  PngWriteOptions options_;
};

}  // namespace velIPL
