// BmpInfo: checks a BMP file's headers without decoding its pixels, for
// validating files as they are added. It runs the reader's own header parse
// (BmpHeader), so a file it accepts is one the reader accepts as far as the
// headers go; the pixel data is not examined.
//
// Reports failures as a false result and a one-line message; never throws
// for a bad file. A successful probe leaves the message untouched, and so
// does a file that cannot be opened (missing, unreadable, or not a regular
// file), so the caller fills it beforehand with its own default text. Each
// probe starts from cleared values.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace velIPL {

class BmpInfo {
public:
  // Probes the file; width and height receive the header's values (height
  // negative for a top-down file) whenever the file could be opened, also
  // after a failed probe, 0 where the parse did not get to them.
  bool probeFile(const std::string& fileName, int& width, int& height, std::string& message);

  // Probes a BMP starting at the stream's position.
  bool probeStream(std::istream& stream, std::string& message);

  void clear();

  std::uint32_t bitCount() const { return bitCount_; }
  std::uint32_t compression() const { return compression_; }
  std::uint32_t colourCount() const { return colourCount_; }
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }

private:
  std::uint32_t bitCount_ = 0;
  std::uint32_t compression_ = 0;
  std::uint32_t colourCount_ = 0;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
};

}  // namespace velIPL
