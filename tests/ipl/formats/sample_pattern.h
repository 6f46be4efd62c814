// The pixel pattern the format tests write with each codec library and
// expect back: every row, column and sample differs.
#pragma once

#include <cstdint>

namespace testutil {

// Sample s of pixel (x, y), within bits.
inline std::uint32_t sampleAt(int x, int y, int s, int bits) {
  const std::uint32_t v = (static_cast<std::uint32_t>(x * 7 + y * 131 + s * 1009) * 2654435761u) >> 9;
  return v & ((1u << bits) - 1);
}

// Entry i of colour c (0 red, 1 green, 2 blue) of an 8-bit palette.
inline std::uint8_t paletteEntry(int i, int c) { return static_cast<std::uint8_t>((i * 37 + c * 80) & 0xFF); }

}  // namespace testutil
