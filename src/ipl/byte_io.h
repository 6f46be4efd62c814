// Bounds-checked byte reading for the BMP codec: a short read reports
// failure and never yields made-up bytes, and multi-byte numbers are taken
// little-endian from buffers the caller has filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>

namespace velIPL {

inline std::uint16_t loadLE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t loadLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// True when all n bytes arrived.
bool readBytes(std::istream& stream, std::uint8_t* target, std::size_t n);

// Reads and discards n bytes; true when all of them were there.
bool skipBytes(std::istream& stream, std::uint64_t n);

// Bytes from the stream's position to its end, or nothing for a stream that
// cannot tell (a pipe). Leaves the position where it was.
std::optional<std::uint64_t> remainingBytes(std::istream& stream);

}  // namespace velIPL
