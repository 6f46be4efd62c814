// WindowsDIB: a coloured picture held as the parts of a BMP file (file
// header, info header, colour table, pixel array), from which the viewer's
// bitmap is made.
//
// The constructor writes the image with the core's BMP writer into memory
// and parses the bytes back with the core's header parse, so the bitmap
// shows exactly what a saved file holds. It throws velIPL::IPLException:
// "Empty image" for a width or height of 0 (nothing is made), and the BMP
// reader's messages should the bytes not parse ("Premature end of stream"
// for a pixel array shorter than the info header's image size). The object
// owns its parts; it is complete once constructed and independent of the
// image it came from.
//
// createBitmap() makes a new QImage from those bytes on each call: same
// pixels, row 0 of the image at the top. The caller owns it; it shares
// nothing with this object or with an earlier bitmap, so it stays valid
// after the WindowsDIB is gone.
#pragma once

#include <QImage>

#include <array>
#include <cstdint>
#include <vector>

namespace velIPL {

class RGBImage;

class WindowsDIB {
public:
  explicit WindowsDIB(const RGBImage& image);

  // Throws IPLException "Unsupported compression" for a pixel layout other
  // than the writer's 24-bit uncompressed rows, "Premature end of stream"
  // when the pixel array is shorter than the rows it must hold, and
  // "Cannot create bitmap" when the image memory cannot be had.
  QImage createBitmap() const;

  // The 14-byte file header as stored.
  const std::array<std::uint8_t, 14>& fileHeader() const { return fileHeader_; }
  // The info header as stored, its size word first.
  const std::vector<std::uint8_t>& infoHeader() const { return infoHeader_; }
  // The colour table: 4-byte entries blue, green, red, unused; empty when
  // there is none.
  const std::vector<std::uint8_t>& palette() const { return palette_; }
  std::uint32_t colourCount() const { return colourCount_; }
  // The pixel array as stored in the file: image-size bytes.
  const std::vector<std::uint8_t>& bits() const { return bits_; }

private:
  std::array<std::uint8_t, 14> fileHeader_{};
  std::vector<std::uint8_t> infoHeader_;
  std::vector<std::uint8_t> palette_;
  std::uint32_t colourCount_ = 0;
  std::vector<std::uint8_t> bits_;
};

}  // namespace velIPL
