#include "merge/accumulation.h"

#include <cstdint>
#include <vector>

#include "ipl/ipl_exception.h"
#include "math/math_exception.h"
#include "math/rounding.h"

namespace lumifold {

namespace {

void requireSize(const velIPL::DImage& accumulator, int width, int height, const mathORN::RowVector& s) {
  if (width != accumulator.width() || height != accumulator.height()) {
    throw velIPL::IPLException("Image has not same dimensions as reference image");
  }
  if (s.size() != accumulator.width()) throw mathORN::MathException("Incompatible vector size");
}

template <typename Image>
void addShifted(velIPL::DImage& accumulator, const Image& image, const mathORN::RowVector& s) {
  requireSize(accumulator, image.width(), image.height(), s);
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

}  // namespace

void requireShiftable(const velIPL::DImage& accumulator, const velIPL::GImage& image, const mathORN::RowVector& s) {
  requireSize(accumulator, image.width(), image.height(), s);
}

void accumulateShifted(velIPL::DImage& accumulator, const velIPL::GImage& image,
                       const mathORN::RowVector& s) {
  addShifted(accumulator, image, s);
}

void accumulateShifted(velIPL::DImage& accumulator, const velIPL::G16Image& image,
                       const mathORN::RowVector& s) {
  addShifted(accumulator, image, s);
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

velIPL::G16Image averageResult16(const velIPL::DImage& accumulator, int imageCount) {
  velIPL::G16Image result(accumulator.width(), accumulator.height(), 0);
  for (int y = 0; y < accumulator.height(); ++y) {
    const double* sum = accumulator.row(y);
    std::uint16_t* out = result.row(y);
    for (int x = 0; x < accumulator.width(); ++x) {
      const double v = mathORN::round(sum[x] / imageCount);
      out[x] = static_cast<std::uint16_t>(v > 65535.0 ? 65535.0 : v);
    }
  }
  return result;
}

}  // namespace lumifold
