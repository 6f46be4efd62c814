#include "merge/accumulation.h"

#include <vector>

#include "ipl/ipl_exception.h"
#include "math/math_exception.h"
#include "math/rounding.h"

namespace lumifold {

void requireShiftable(const velIPL::DImage& accumulator, const velIPL::GImage& image, const mathORN::RowVector& s) {
  if (image.width() != accumulator.width() || image.height() != accumulator.height()) {
    throw velIPL::IPLException("Image has not same dimensions as reference image");
  }
  if (s.size() != accumulator.width()) throw mathORN::MathException("Incompatible vector size");
}

void accumulateShifted(velIPL::DImage& accumulator, const velIPL::GImage& image,
                       const mathORN::RowVector& s) {
  requireShiftable(accumulator, image, s);
  const int w = accumulator.width();
  const int h = accumulator.height();
  std::vector<double> shift(static_cast<std::size_t>(w));
  for (int x = 0; x < w; ++x) shift[x] = clampedShift(s[x], h);
  // Each pixel receives exactly one addition, so walking rows in storage
  // order gives the same sums as walking columns.
  for (int y = 0; y < h; ++y) {
    double* out = accumulator.row(y);
    for (int x = 0; x < w; ++x) {
      const long long src = static_cast<long long>(y - shift[x]);
      if (src >= 0 && src < h) out[x] += image.at(x, static_cast<int>(src));
    }
  }
}

velIPL::GImage averageResult(const velIPL::DImage& accumulator, int imageCount) {
  const int w = accumulator.width();
  const int h = accumulator.height();
  velIPL::GImage result(w, h, 0);
  for (int y = 0; y < h; ++y) {
    const double* sum = accumulator.row(y);
    unsigned char* out = result.row(y);
    for (int x = 0; x < w; ++x) {
      int v = static_cast<int>(mathORN::round(sum[x] / imageCount));
      if (v > 255) v = 255;
      out[x] = static_cast<unsigned char>(v);
    }
  }
  return result;
}

}  // namespace lumifold
