// The pixel pattern the format tests write with each codec library and
// expect back: every row, column and sample differs.
#pragma once

#include <cstdint>

#include "ipl/image_decoder.h"
#include "ipl/images.h"

namespace testutil {

// Sample s of pixel (x, y), within bits.
inline std::uint32_t sampleAt(int x, int y, int s, int bits) {
  const std::uint32_t v = (static_cast<std::uint32_t>(x * 7 + y * 131 + s * 1009) * 2654435761u) >> 9;
  return v & ((1u << bits) - 1);
}

// Entry i of colour c (0 red, 1 green, 2 blue) of an 8-bit palette.
inline std::uint8_t paletteEntry(int i, int c) { return static_cast<std::uint8_t>((i * 37 + c * 80) & 0xFF); }

// An image of the pattern at its sample depth: channel c holds sample c
// (8 bits for unsigned char, 16 for wider samples).
template <typename Image>
Image patterned(int width, int height) {
  using T = typename Image::value_type;
  Image image(width, height, T{});
  for (int c = 0; c < Image::channels; ++c) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) image.at(x, y, c) = static_cast<T>(sampleAt(x, y, c, sizeof(T) == 1 ? 8 : 16));
    }
  }
  return image;
}

}  // namespace testutil
