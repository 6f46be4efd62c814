// Builds small BMP files in memory for the codec tests, so that each test
// shows the bytes it is about instead of relying on committed binaries.
#pragma once

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ipl/bmp_info.h"
#include "ipl/bmp_reader.h"
#include "ipl/images.h"
#include "ipl/ipl_exception.h"

namespace bmptest {

inline void putLE(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Overwrites 4 bytes at pos, for fields the builder fills itself.
inline std::string patchLE32(std::string bytes, std::size_t pos, std::uint32_t value) {
  std::string field;
  putLE(field, value, 4);
  return bytes.replace(pos, 4, field);
}

// Colour table entry as 0xRRGGBB.
using Rgb = std::uint32_t;

struct BmpFile {
  std::uint32_t headerSize = 40;
  std::int32_t width = 1;
  std::int32_t height = 1;
  std::uint32_t bitCount = 8;
  std::uint32_t compression = 0;
  std::uint32_t coloursUsed = 0;
  // Stored at info header offsets 40, 44, 48 (and 52) when the header is
  // long enough, else directly after the header.
  std::vector<std::uint32_t> masks;
  std::vector<Rgb> palette;
  std::string pixels;
  std::optional<std::uint32_t> pixelOffset;  // default: right after the table

  std::string bytes() const {
    std::string info;
    if (headerSize == 12) {
      putLE(info, 12, 4);
      putLE(info, static_cast<std::uint32_t>(width), 2);
      putLE(info, static_cast<std::uint32_t>(height), 2);
      putLE(info, 1, 2);
      putLE(info, bitCount, 2);
    } else {
      putLE(info, headerSize, 4);
      putLE(info, static_cast<std::uint32_t>(width), 4);
      putLE(info, static_cast<std::uint32_t>(height), 4);
      putLE(info, 1, 2);
      putLE(info, bitCount, 2);
      putLE(info, compression, 4);
      putLE(info, pixels.size(), 4);
      putLE(info, 2835, 4);
      putLE(info, 2835, 4);
      putLE(info, coloursUsed, 4);
      putLE(info, 0, 4);
      std::string maskBytes;
      for (std::uint32_t m : masks) putLE(maskBytes, m, 4);
      if (headerSize >= 40 + maskBytes.size()) {
        info += maskBytes;
        maskBytes.clear();
      }
      if (info.size() < headerSize) info.resize(headerSize, '\0');
      info.resize(headerSize);
      info += maskBytes;
    }
    for (Rgb c : palette) {
      putLE(info, c & 0xFF, 1);
      putLE(info, (c >> 8) & 0xFF, 1);
      putLE(info, (c >> 16) & 0xFF, 1);
      if (headerSize != 12) putLE(info, 0, 1);
    }
    const std::uint32_t offset = pixelOffset.value_or(static_cast<std::uint32_t>(14 + info.size()));
    std::string out = "BM";
    putLE(out, 14 + info.size() + pixels.size(), 4);
    putLE(out, 0, 4);
    putLE(out, offset, 4);
    out += info;
    if (out.size() < offset) out.resize(offset, '\0');
    return out + pixels;
  }
};

// Rows given as bytes, each padded with zeros to a multiple of 4 bytes.
inline std::string paddedRows(const std::vector<std::vector<std::uint8_t>>& rows) {
  std::string out;
  for (const auto& row : rows) {
    std::string r(row.begin(), row.end());
    r.resize((r.size() + 3) / 4 * 4, '\0');
    out += r;
  }
  return out;
}

// Raw bytes, for run-length streams.
inline std::string raw(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Entry i = (i, i, i): an indexed image then reads back its indices.
inline std::vector<Rgb> greyRamp(int n) {
  std::vector<Rgb> table;
  for (int i = 0; i < n; ++i) table.push_back(static_cast<Rgb>(i * 0x010101));
  return table;
}

inline velIPL::GImage decode(const std::string& bytes) {
  std::istringstream stream(bytes);
  velIPL::GImage image;
  velIPL::BmpReader().readImage(stream, image);
  return image;
}

// The reader's message, or "" when the file decodes.
inline std::string readerMessage(const std::string& bytes) {
  try {
    decode(bytes);
  } catch (const velIPL::IPLException& e) {
    return e.what();
  }
  return "";
}

// The probe's message, or "" when it accepts the file.
inline std::string probeMessage(const std::string& bytes) {
  std::istringstream stream(bytes);
  std::string message;
  return velIPL::BmpInfo().probeStream(stream, message) ? "" : message;
}

// Row y of the image as a vector, for compact comparisons.
inline std::vector<int> rowOf(const velIPL::GImage& image, int y) {
  std::vector<int> row;
  for (int x = 0; x < image.width(); ++x) row.push_back(image.at(x, y));
  return row;
}

}  // namespace bmptest
