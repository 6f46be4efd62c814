#include "ipl/bmp_info.h"

#include "ipl/bmp_header.h"
#include "ipl/input_file.h"

namespace velIPL {

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
  message = probeMessageFor(fault);
  return false;
}

}  // namespace velIPL
