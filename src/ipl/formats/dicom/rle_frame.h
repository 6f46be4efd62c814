// RleFrame: decodes one frame of DICOM's RLE Lossless transfer syntax, a
// 64-byte header of segment offsets followed by one PackBits segment per
// byte of every sample (most significant byte first, colour planes in
// order). Decoded here rather than by GDCM, whose codec trusts the header's
// offsets and reads past the fragment when they are forged.
//
// Encoded here too: GDCM's encoder aborts on some frame sizes (a single
// 37 x 23 frame, for one).
//
// Every offset is checked against the fragment before a byte is read; a
// segment that ends before its plane is full is refused, bytes past a full
// plane (encoders pad odd planes) are ignored.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace velIPL {

struct RleFrame {
  int width = 0;
  int height = 0;
  int components = 1;      // 1 grey, 3 colour
  int bytesPerSample = 1;  // 1 or 2

  // Decodes size bytes into out, planar (one plane per component),
  // little-endian for 2 bytes; false with why set when the frame is broken.
  bool decode(const unsigned char* data, std::size_t size, unsigned char* out, std::string& why) const;

  // The frame held planar in samples (as decode writes it), encoded with
  // its header; an even number of bytes, as a fragment must be.
  std::vector<unsigned char> encode(const unsigned char* samples) const;
};

}  // namespace velIPL
