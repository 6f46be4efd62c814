// BmpReader: decodes a Windows bitmap into an 8-bit grey image.
//
// Reads core (12-byte) and info (40 bytes and more) headers; 1-, 2-, 4- and
// 8-bit colour table images, 8- and 4-bit run-length images, 16- and 32-bit
// bit-field images and 24-bit images, stored bottom-up or top-down. Each
// pixel becomes grey = (77 red + 151 green + 28 blue) >> 8.
//
// Every failure throws IPLException with a fixed message; the target is then
// left as it was (the image is built aside and handed over only when
// complete). Hostile files are refused before anything is allocated for
// them: an uncompressed pixel array must fit in what the stream still holds
// ("Premature end of stream"), a run-length image may have at most
// max(rleMinPixelBudget, rleBudgetPerByte x bytes left) pixels, and a side
// may be at most BmpHeader::maxSide ("Image too large"). A pixel index past
// the colour table gives black. A reader serves one read.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

#include "ipl/bmp_header.h"

namespace velIPL {

class GImage;

class BmpReader {
public:
  // A run-length image may always have this many pixels, however short its
  // data: 16 megapixels, 16 MB of grey image.
  static constexpr std::uint64_t rleMinPixelBudget = std::uint64_t{1} << 24;
  // Beyond that, each byte of run-length data may account for this many
  // pixels: an encoded run spends 2 bytes on at most 255 pixels.
  static constexpr std::uint64_t rleBudgetPerByte = 256;

  // Reads the regular file fileName. Throws "Can't open image file" for a
  // path that is missing, unreadable or not a regular file.
  void readImage(const std::string& fileName, GImage& target);

  // Reads a BMP starting at the stream's position.
  void readImage(std::istream& stream, GImage& target);

private:
  using Sink = void (BmpReader::*)(int x, int y, unsigned red, unsigned green, unsigned blue);

  void readHeader(std::istream& stream);
  void checkBeforeAllocating(std::istream& stream);
  void decodePixels(std::istream& stream);
  void decodeIndexed(std::istream& stream);
  void decode24(std::istream& stream);
  void decodeBitFields(std::istream& stream);
  void decodeRunLength(std::istream& stream, bool fourBit);
  void putGrey(int x, int y, unsigned red, unsigned green, unsigned blue);
  void put(int x, int y, unsigned red, unsigned green, unsigned blue) { (this->*sink_)(x, y, red, green, blue); }
  void putIndex(int x, int y, unsigned index);
  std::uint64_t paddedRowLength() const;

  // Sizes, depth, compression, colour table and masks of the file.
  BmpHeader header_;
  Sink sink_ = nullptr;
  GImage* target_ = nullptr;
};

}  // namespace velIPL
