// EightBitView: the 8-bit picture a 16-bit series is registered on.
//
// Registration works on 8-bit grey (the anterior edge's threshold of 200,
// the correlation's samples), while the sums keep every frame's full 16-bit
// values. One mapping serves the whole series, fixed by the reference frame:
// its brightest value decides the depth b, from 8 to 16, the series is taken
// to be stored at (the smallest whose full scale 2^b - 1 holds that value),
// and every value v maps to round(v * 255 / (2^b - 1)), values above the
// full scale to 255. So:
//   - 12-bit data in 16-bit samples spans the whole 8-bit range, and the
//     anterior edge's 200 means what it means for an 8-bit frame of the
//     same device: about 78 % of full scale;
//   - a series of 8-bit values widened by 257 (v * 65535 / 255, the way
//     image converters widen 8 to 16 bits) maps back to exactly those
//     values whenever its reference reaches 128 * 257, which any series
//     with an anterior edge (200 * 257) does;
//   - a series whose values all lie below 256 maps to itself.
// The mapping is not stretched to the reference's darkest value: an offset
// would move the edge threshold with the noise floor of one frame.
#pragma once

#include <array>
#include <cstdint>

#include "ipl/image_decoder.h"
#include "ipl/images.h"

namespace lumifold {

class EightBitView {
public:
  // The mapping that reference fixes. Never throws beyond allocation.
  explicit EightBitView(const velIPL::G16Image& reference);

  // b, and the full scale 2^b - 1.
  int depth() const { return depth_; }
  int fullScale() const { return (1 << depth_) - 1; }

  unsigned char operator()(std::uint16_t value) const { return table_[value]; }

  // The view of a whole frame.
  velIPL::GImage view(const velIPL::G16Image& frame) const;

  // The 8-bit grey of a merged 16-bit series: the mapping applied to the
  // unrounded mean, round(sum * 255 / (2^b - 1) / imageCount) with halves
  // away from zero, clamped at 255. For a series widened by 257 this is the
  // 8-bit merge's own rounding of the same mean.
  velIPL::GImage averageResult(const velIPL::DImage& sums, int imageCount) const;

private:
  int depth_ = 8;
  std::array<unsigned char, 65536> table_{};
};

}  // namespace lumifold
