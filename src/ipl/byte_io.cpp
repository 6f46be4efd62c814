#include "ipl/byte_io.h"

#include <algorithm>

namespace velIPL {

bool readBytes(std::istream& stream, std::uint8_t* target, std::size_t n) {
  if (n == 0) return true;
  stream.read(reinterpret_cast<char*>(target), static_cast<std::streamsize>(n));
  return static_cast<std::size_t>(stream.gcount()) == n;
}

bool skipBytes(std::istream& stream, std::uint64_t n) {
  constexpr std::uint64_t chunk = std::uint64_t{1} << 30;
  while (n > 0) {
    const auto step = static_cast<std::streamsize>(std::min(n, chunk));
    stream.ignore(step);
    if (stream.gcount() != step) return false;
    n -= static_cast<std::uint64_t>(step);
  }
  return true;
}

std::optional<std::uint64_t> remainingBytes(std::istream& stream) {
  if (stream.fail()) return std::nullopt;
  // A read that ended exactly at the end may have set eofbit alone; the
  // stream still knows its position.
  stream.clear();
  const std::istream::pos_type here = stream.tellg();
  if (here == std::istream::pos_type(-1)) return std::nullopt;
  stream.seekg(0, std::ios_base::end);
  const std::istream::pos_type end = stream.tellg();
  stream.clear();
  stream.seekg(here);
  if (!stream.good() || end == std::istream::pos_type(-1) || end < here) {
    stream.clear();
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(end - here);
}

}  // namespace velIPL
