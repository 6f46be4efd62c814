#include "merge/eight_bit_view.h"

#include "math/rounding.h"

namespace lumifold {

EightBitView::EightBitView(const velIPL::G16Image& reference) {
  int brightest = 0;
  for (int y = 0; y < reference.height(); ++y) {
    const std::uint16_t* in = reference.row(y);
    for (int x = 0; x < reference.width(); ++x) brightest = in[x] > brightest ? in[x] : brightest;
  }
  while (depth_ < 16 && brightest > fullScale()) ++depth_;
  // full is odd and so is 255: v * 255 / full never lies exactly halfway,
  // and adding full / 2 before the division rounds to the nearest.
  const long full = fullScale();
  for (long v = 0; v < 65536; ++v) {
    table_[v] = static_cast<unsigned char>(v >= full ? 255 : (v * 255 + full / 2) / full);
  }
}

velIPL::GImage EightBitView::view(const velIPL::G16Image& frame) const {
  velIPL::GImage result(frame.width(), frame.height(), 0);
  for (int y = 0; y < frame.height(); ++y) {
    const std::uint16_t* in = frame.row(y);
    unsigned char* out = result.row(y);
    for (int x = 0; x < frame.width(); ++x) out[x] = table_[in[x]];
  }
  return result;
}

velIPL::GImage EightBitView::averageResult(const velIPL::DImage& sums, int imageCount) const {
  // Both factors are exact integers in a double, so for sums that are 257
  // times an 8-bit sum the quotient is the 8-bit merge's sum / imageCount
  // to the last bit.
  const double divisor = static_cast<double>(fullScale()) * imageCount;
  velIPL::GImage result(sums.width(), sums.height(), 0);
  for (int y = 0; y < sums.height(); ++y) {
    const double* in = sums.row(y);
    unsigned char* out = result.row(y);
    for (int x = 0; x < sums.width(); ++x) {
      const int v = static_cast<int>(mathORN::round(in[x] * 255.0 / divisor));
      out[x] = static_cast<unsigned char>(v > 255 ? 255 : v);
    }
  }
  return result;
}

}  // namespace lumifold
