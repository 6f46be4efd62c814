#include "ipl/bmp_writer.h"

#include <cstdint>
#include <vector>

#include "ipl/bmp_header.h"
#include "ipl/images.h"
#include "ipl/ipl_exception.h"
#include "ipl/output_file.h"

namespace velIPL {

namespace {

constexpr std::uint64_t headersSize = BmpHeader::fileHeaderSize + BmpHeader::infoHeaderSize;

std::uint64_t imageSize(int width, int height, int bitCount) {
  return BmpHeader::rowStride(static_cast<std::uint64_t>(width), static_cast<std::uint32_t>(bitCount)) *
         static_cast<std::uint64_t>(height);
}

void storeLE16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void storeLE32(std::uint8_t* p, std::uint32_t v) {
  storeLE16(p, v);
  storeLE16(p + 2, v >> 16);
}

}  // namespace

void BmpWriter::checkImage(const RGBImage& image) {
  if (image.width() <= 0 || image.height() <= 0) throw IPLException("Empty image");
  if (imageSize(image.width(), image.height(), 24) + headersSize > UINT32_MAX) throw IPLException("Image too large");
}

void BmpWriter::writeHeader(std::ostream& stream, int width, int height, int bitCount) {
  if (width <= 0 || height <= 0 || bitCount <= 0) throw IPLException("Empty image");
  const std::uint64_t size = imageSize(width, height, bitCount);
  if (size + headersSize > UINT32_MAX) throw IPLException("Image too large");
  std::uint8_t h[headersSize] = {};
  h[0] = 'B';
  h[1] = 'M';
  storeLE32(h + 2, static_cast<std::uint32_t>(headersSize + size));
  storeLE32(h + 10, static_cast<std::uint32_t>(headersSize));
  std::uint8_t* info = h + BmpHeader::fileHeaderSize;
  storeLE32(info, BmpHeader::infoHeaderSize);
  storeLE32(info + 4, static_cast<std::uint32_t>(width));
  storeLE32(info + 8, static_cast<std::uint32_t>(height));
  storeLE16(info + 12, 1);
  storeLE16(info + 14, static_cast<std::uint32_t>(bitCount));
  storeLE32(info + 20, static_cast<std::uint32_t>(size));
  stream.write(reinterpret_cast<const char*>(h), sizeof h);
}

void BmpWriter::writePixels(std::ostream& stream, const RGBImage& image) {
  const int width = image.width();
  // Pad bytes are zero; readers ignore them.
  std::vector<char> row(static_cast<std::size_t>(BmpHeader::rowStride(static_cast<std::uint64_t>(width), 24)), 0);
  for (int y = image.height() - 1; y >= 0 && stream.good(); --y) {
    const unsigned char* red = image.row(y, 0);
    const unsigned char* green = image.row(y, 1);
    const unsigned char* blue = image.row(y, 2);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<char>(blue[x]);
      row[3 * x + 1] = static_cast<char>(green[x]);
      row[3 * x + 2] = static_cast<char>(red[x]);
    }
    stream.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
}

void BmpWriter::writeImage(std::ostream& stream, const RGBImage& image) {
  checkImage(image);
  writeHeader(stream, image.width(), image.height(), 24);
  writePixels(stream, image);
  if (!stream.good()) throw IPLException("Cannot write image");
}

void BmpWriter::writeFile(const std::string& fileName, const RGBImage& image) {
  checkImage(image);
  OutputFile file(fileName);
  writeHeader(file.stream(), image.width(), image.height(), 24);
  writePixels(file.stream(), image);
  file.commit();
}

}  // namespace velIPL
