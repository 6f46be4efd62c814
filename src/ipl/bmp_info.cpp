#include "ipl/bmp_info.h"

#include "ipl/bmp_header.h"
#include "ipl/input_file.h"

namespace velIPL {

namespace {

const char* messageFor(BmpFault fault) {
  switch (fault) {
    case BmpFault::truncated: return "Bitmap file not complete";
    case BmpFault::notBmp: return "File is not a bitmap image";
    case BmpFault::badHeaderSize: return "Bitmap file is not complete";
    case BmpFault::unsupported: return "Unsupported compression";
    case BmpFault::negativeWidth: return "Bitmap width is negative";
    case BmpFault::corrupt: return "Bitmap file is corrupt";
    case BmpFault::tooLarge: return "Bitmap image is too large";
    case BmpFault::none: break;
  }
  return "";
}

}  // namespace

void BmpInfo::clear() { *this = BmpInfo(); }

bool BmpInfo::probeFile(const std::string& fileName, int& width, int& height, std::string& message) {
  InputFile file(fileName);
  if (!file.isOpen()) return false;
  const bool accepted = probeStream(file.stream(), message);
  width = width_;
  height = height_;
  return accepted;
}

bool BmpInfo::probeStream(std::istream& stream, std::string& message) {
  clear();
  BmpHeader header;
  const BmpFault fault = header.read(stream);
  bitCount_ = header.bitCount;
  compression_ = header.compression;
  colourCount_ = header.colourCount;
  width_ = header.width;
  height_ = header.height;
  if (fault == BmpFault::none) return true;
  message = messageFor(fault);
  return false;
}

}  // namespace velIPL
