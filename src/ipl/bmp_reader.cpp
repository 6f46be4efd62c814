#include "ipl/bmp_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#include "ipl/byte_io.h"
#include "ipl/images.h"
#include "ipl/input_file.h"
#include "ipl/ipl_exception.h"

namespace velIPL {

namespace {

// Where one component sits in a pixel word.
struct Field {
  std::uint32_t mask;
  int shift;   // zero bits below the lowest set bit; 32 for an empty mask
  int length;  // consecutive set bits from there upwards

  explicit Field(std::uint32_t m) : mask(m), shift(std::countr_zero(m)), length(shift < 32 ? std::countr_one(m >> shift) : 0) {}

  // The component on the 0..255 scale: a full field gives 255 and an empty
  // one 0 at every width. Fields of 8 bits or more keep their top 8 bits;
  // narrower ones are scaled with rounding.
  unsigned extract(std::uint32_t pixel) const {
    if (length == 0) return 0;
    const std::uint32_t top = length == 32 ? 0xFFFFFFFFu : (std::uint32_t{1} << length) - 1;
    const std::uint32_t value = ((pixel & mask) >> shift) & top;
    if (length >= 8) return value >> (length - 8);
    return (value * 255 + top / 2) / top;
  }
};

unsigned char greyOf(unsigned red, unsigned green, unsigned blue) {
  return static_cast<unsigned char>((77 * red + 151 * green + 28 * blue) >> 8);
}

}  // namespace

void BmpReader::readImage(const std::string& fileName, GImage& target) {
  InputFile file(fileName);
  if (!file.isOpen()) throw IPLException("Can't open image file");
  readImage(file.stream(), target);
}

void BmpReader::readImage(std::istream& stream, GImage& target) {
  readHeader(stream);
  checkBeforeAllocating(stream);
  GImage image(header_.width, header_.height < 0 ? -header_.height : header_.height, 0);
  target_ = &image;
  sink_ = &BmpReader::putGrey;
  decodePixels(stream);
  target_ = nullptr;
  target.swap(image);
}

void BmpReader::readHeader(std::istream& stream) {
  const BmpFault fault = header_.read(stream);
  if (fault != BmpFault::none) throw IPLException(readerMessageFor(fault));
}

// The decoders' own first checks, run before the image is allocated, then
// the size checks that keep a short file from claiming a huge image.
void BmpReader::checkBeforeAllocating(std::istream& stream) {
  const bool bitFields = header_.bitCount == 16 || header_.bitCount == 32;
  const bool runLength = header_.compression == 1 || header_.compression == 2;
  if (bitFields) {
    const std::uint32_t masks[] = {header_.redMask, header_.greenMask, header_.blueMask, header_.alphaMask};
    std::uint32_t seen = 0;
    for (std::uint32_t m : masks) {
      if (seen & m) throw IPLException("Overlapping component mask");
      seen |= m;
    }
  }
  if (runLength && header_.height < 0) throw IPLException("Negative height not allowed in an RLE image");

  // Sides are at most BmpHeader::maxSide (2^20), so none of these overflow.
  const auto rows = static_cast<std::uint64_t>(header_.height < 0 ? -std::int64_t{header_.height} : header_.height);
  const auto pixels = static_cast<std::uint64_t>(header_.width) * rows;
  const std::optional<std::uint64_t> left = remainingBytes(stream);
  if (runLength) {
    const std::uint64_t budget = std::max(rleMinPixelBudget, left ? *left * rleBudgetPerByte : 0);
    if (pixels > budget) throw IPLException("Image too large");
  } else if (left) {
    if (paddedRowLength() * rows > *left) throw IPLException("Premature end of stream");
  } else if (pixels > rleMinPixelBudget) {
    // A stream that cannot tell its length gets the fixed budget only.
    throw IPLException("Image too large");
  }
}

std::uint64_t BmpReader::paddedRowLength() const {
  return BmpHeader::rowStride(static_cast<std::uint64_t>(header_.width), header_.bitCount);
}

void BmpReader::decodePixels(std::istream& stream) {
  switch (header_.bitCount) {
    case 1:
    case 2: decodeIndexed(stream); break;
    case 4: header_.compression == 2 ? decodeRunLength(stream, true) : decodeIndexed(stream); break;
    case 8: header_.compression == 1 ? decodeRunLength(stream, false) : decodeIndexed(stream); break;
    case 16:
    case 32: decodeBitFields(stream); break;
    case 24: decode24(stream); break;
    default: throw IPLException("Unsupported compression");
  }
}

namespace {

// Calls decodeRow(y, bytes) for each stored row in file order, y counted
// from the top; "Premature end of stream" for a short row.
template <typename DecodeRow>
void forEachRow(std::istream& stream, std::int32_t height, std::uint64_t rowLength, DecodeRow decodeRow) {
  const int rows = height < 0 ? -height : height;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(rowLength));
  for (int i = 0; i < rows; ++i) {
    if (!readBytes(stream, row.data(), row.size())) throw IPLException("Premature end of stream");
    decodeRow(height > 0 ? height - 1 - i : i, row.data());
  }
}

}  // namespace

void BmpReader::putIndex(int x, int y, unsigned index) {
  const BmpColour& c = header_.palette[index];
  put(x, y, c.red, c.green, c.blue);
}

void BmpReader::decodeIndexed(std::istream& stream) {
  if (header_.bitCount == 8 && sink_ == &BmpReader::putGrey) {
    // The common grey export: one table lookup per pixel, straight into the row.
    std::array<unsigned char, BmpHeader::paletteCapacity> grey;
    for (std::size_t i = 0; i < grey.size(); ++i) {
      const BmpColour& c = header_.palette[i];
      grey[i] = greyOf(c.red, c.green, c.blue);
    }
    const int width = header_.width;
    forEachRow(stream, header_.height, paddedRowLength(), [&](int y, const std::uint8_t* row) {
      unsigned char* out = target_->row(y);
      for (int x = 0; x < width; ++x) out[x] = grey[row[x]];
    });
    return;
  }
  const unsigned bits = header_.bitCount;
  const unsigned perByte = 8 / bits;
  const unsigned indexMask = (1u << bits) - 1;
  forEachRow(stream, header_.height, paddedRowLength(), [&](int y, const std::uint8_t* row) {
    for (int x = 0; x < header_.width; ++x) {
      const unsigned byte = row[x / perByte];
      const unsigned shift = (perByte - 1 - x % perByte) * bits;
      putIndex(x, y, (byte >> shift) & indexMask);
    }
  });
}

void BmpReader::decode24(std::istream& stream) {
  if (sink_ == &BmpReader::putGrey) {
    // Straight into the row: a call per pixel costs more than reading the file.
    const int width = header_.width;
    forEachRow(stream, header_.height, paddedRowLength(), [&](int y, const std::uint8_t* row) {
      unsigned char* out = target_->row(y);
      for (int x = 0; x < width; ++x) out[x] = greyOf(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    });
    return;
  }
  forEachRow(stream, header_.height, paddedRowLength(), [&](int y, const std::uint8_t* row) {
    for (int x = 0; x < header_.width; ++x) {
      const std::uint8_t* p = row + 3 * x;
      put(x, y, p[2], p[1], p[0]);
    }
  });
}

void BmpReader::decodeBitFields(std::istream& stream) {
  const Field red(header_.redMask), green(header_.greenMask), blue(header_.blueMask);
  if (header_.bitCount == 32) {
    forEachRow(stream, header_.height, paddedRowLength(), [&](int y, const std::uint8_t* row) {
      for (int x = 0; x < header_.width; ++x) {
        const std::uint32_t pixel = loadLE32(row + 4 * x);
        put(x, y, red.extract(pixel), green.extract(pixel), blue.extract(pixel));
      }
    });
  } else {
    forEachRow(stream, header_.height, paddedRowLength(), [&](int y, const std::uint8_t* row) {
      for (int x = 0; x < header_.width; ++x) {
        const std::uint32_t pixel = loadLE16(row + 2 * x);
        put(x, y, red.extract(pixel), green.extract(pixel), blue.extract(pixel));
      }
    });
  }
}

void BmpReader::decodeRunLength(std::istream& stream, bool fourBit) {
  // 64-bit positions: deltas and ends of line may push them far outside
  // the image, and they are only checked when a run is drawn.
  std::int64_t x = 0;
  std::int64_t y = std::int64_t{header_.height} - 1;
  const auto next = [&stream]() -> unsigned {
    const std::istream::int_type c = stream.get();
    if (c == std::istream::traits_type::eof()) throw IPLException("Corrupt data");
    return static_cast<unsigned>(c) & 0xFFu;
  };
  const auto checkRun = [&](unsigned count) {
    if (y < 0 || y >= header_.height || x + count > header_.width) throw IPLException("Corrupt data");
  };
  for (;;) {
    if (stream.peek() == std::istream::traits_type::eof()) throw IPLException("Corrupt data");
    const unsigned first = next();
    const unsigned second = next();
    if (first > 0) {
      checkRun(first);
      for (unsigned i = 0; i < first; ++i, ++x) {
        const unsigned index = !fourBit ? second : (i % 2 == 0 ? second >> 4 : second & 0x0F);
        putIndex(static_cast<int>(x), static_cast<int>(y), index);
      }
    } else if (second == 0) {
      --y;
      x = 0;
    } else if (second == 1) {
      return;
    } else if (second == 2) {
      x += next();
      y -= next();
    } else {
      checkRun(second);
      unsigned byte = 0;
      for (unsigned i = 0; i < second; ++i, ++x) {
        unsigned index;
        if (!fourBit) {
          index = next();
        } else {
          if (i % 2 == 0) byte = next();
          index = i % 2 == 0 ? byte >> 4 : byte & 0x0F;
        }
        putIndex(static_cast<int>(x), static_cast<int>(y), index);
      }
      // Absolute runs occupy an even number of bytes.
      const unsigned used = fourBit ? (second + 1) / 2 : second;
      if (used % 2 == 1) next();
    }
  }
}

void BmpReader::putGrey(int x, int y, unsigned red, unsigned green, unsigned blue) {
  target_->at(x, y) = greyOf(red, green, blue);
}

}  // namespace velIPL
