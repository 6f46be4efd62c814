// BmpWriter: writes an RGBImage as a 24-bit uncompressed bottom-up BMP file:
// 14-byte file header, 40-byte info header, no colour table, rows of
// 3 x width bytes (blue, green, red) padded with zeros to a multiple of 4.
//
// Throws IPLException: "Empty image" for a width or height of 0, before
// anything is written; "Image too large" when the sizes do not fit the
// format's 32-bit fields; from writeImage, "Cannot write image" when the
// stream fails; from writeFile, the messages of OutputFile, which also says
// when an existing file is written in place rather than replaced.
#pragma once

#include <ostream>
#include <string>

namespace velIPL {

class RGBImage;

class BmpWriter {
public:
  // Writes the whole file to the stream.
  void writeImage(std::ostream& stream, const RGBImage& image);

  // Writes the file at fileName, replacing an existing one only once every
  // byte is safely on disk where the system allows; see OutputFile.
  void writeFile(const std::string& fileName, const RGBImage& image);

  // Writes the file header and the 40-byte info header for an uncompressed
  // image of the given size and depth (width and height at least 1).
  void writeHeader(std::ostream& stream, int width, int height, int bitCount);

private:
  void checkImage(const RGBImage& image);
  void writePixels(std::ostream& stream, const RGBImage& image);
};

}  // namespace velIPL
