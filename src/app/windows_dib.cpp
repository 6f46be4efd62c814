#include "app/windows_dib.h"

#include <cstddef>
#include <cstring>
#include <optional>
#include <sstream>

#include "ipl/bmp_header.h"
#include "ipl/bmp_writer.h"
#include "ipl/byte_io.h"
#include "ipl/images.h"
#include "ipl/ipl_exception.h"

namespace velIPL {

namespace {

// Where an info header keeps its image size.
constexpr std::size_t kImageSizeField = 20;

void take(std::istream& stream, std::uint8_t* target, std::size_t n) {
  if (!readBytes(stream, target, n)) throw IPLException("Premature end of stream");
}

}  // namespace

WindowsDIB::WindowsDIB(const RGBImage& image) {
  std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
  BmpWriter().writeImage(stream, image);

  // The shared parse checks the headers and the colour table against the
  // pixel data offset; the parts are then taken back as stored.
  BmpHeader header;
  const BmpFault fault = header.read(stream);
  if (fault != BmpFault::none) throw IPLException(readerMessageFor(fault));
  // Only plain rows can go into a bitmap as they are; bit-field masks or
  // run-length codes would need decoding first.
  if (header.compression != 0) throw IPLException("Unsupported compression");

  stream.clear();
  stream.seekg(0);
  take(stream, fileHeader_.data(), BmpHeader::fileHeaderSize);
  std::uint64_t consumed = BmpHeader::fileHeaderSize;
  infoHeader_.resize(header.headerSize);
  take(stream, infoHeader_.data(), infoHeader_.size());
  consumed += header.headerSize;

  // The parse has seen the whole table before the pixel data offset, so its
  // size is bounded by bytes that exist.
  colourCount_ = header.colourCount;
  const bool core = header.headerSize == BmpHeader::coreHeaderSize;
  palette_.assign(std::size_t{colourCount_} * 4, 0);
  for (std::uint32_t i = 0; i < colourCount_; ++i) {
    take(stream, palette_.data() + std::size_t{i} * 4, core ? 3 : 4);
    if (core) palette_[std::size_t{i} * 4 + 3] = 0;
  }
  consumed += std::uint64_t{colourCount_} * (core ? 3 : 4);
  if (!skipBytes(stream, header.pixelOffset - consumed)) throw IPLException("Premature end of stream");

  std::uint64_t imageSize =
      header.headerSize >= BmpHeader::infoHeaderSize ? loadLE32(infoHeader_.data() + kImageSizeField) : 0;
  if (imageSize == 0) {
    // A plain image may leave the field 0; its rows say how long it is.
    const std::int64_t rows = header.height < 0 ? -std::int64_t{header.height} : header.height;
    imageSize = BmpHeader::rowStride(static_cast<std::uint64_t>(header.width), header.bitCount) *
                static_cast<std::uint64_t>(rows);
  }
  const std::optional<std::uint64_t> left = remainingBytes(stream);
  if (!left || *left < imageSize) throw IPLException("Premature end of stream");
  bits_.resize(static_cast<std::size_t>(imageSize));
  take(stream, bits_.data(), bits_.size());
}

QImage WindowsDIB::createBitmap() const {
  if (infoHeader_.size() < BmpHeader::infoHeaderSize) throw IPLException("Unsupported compression");
  const std::uint8_t* info = infoHeader_.data();
  const auto width = static_cast<std::int32_t>(loadLE32(info + 4));
  const auto height = static_cast<std::int32_t>(loadLE32(info + 8));
  const std::uint32_t bitCount = loadLE16(info + 14);
  const std::uint32_t compression = loadLE32(info + 16);
  if (bitCount != 24 || compression != 0) throw IPLException("Unsupported compression");

  const bool bottomUp = height > 0;
  const int rows = bottomUp ? height : -height;
  const std::uint64_t stride = BmpHeader::rowStride(static_cast<std::uint64_t>(width), bitCount);
  if (stride * static_cast<std::uint64_t>(rows) > bits_.size()) throw IPLException("Premature end of stream");

  // Qt's BGR888 holds each pixel as the file does: blue, green, red. Only
  // the row order differs, since a QImage is always stored top-down.
  QImage bitmap(width, rows, QImage::Format_BGR888);
  if (bitmap.isNull()) throw IPLException("Cannot create bitmap");
  const std::size_t rowLength = 3 * static_cast<std::size_t>(width);
  for (int y = 0; y < rows; ++y) {
    const int stored = bottomUp ? rows - 1 - y : y;
    std::memcpy(bitmap.scanLine(y), bits_.data() + static_cast<std::size_t>(stored) * stride, rowLength);
  }
  return bitmap;
}

}  // namespace velIPL
