#include "merge/denoise/smoothing.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace lumifold {

namespace {

int clampIndex(long long i, int n) { return static_cast<int>(i < 0 ? 0 : (i >= n ? n - 1 : i)); }

// out(x, y) = sum over k of taps[k] * in(x + k - r, y) along the rows, then
// the same down the columns with columnTaps.
velIPL::DImage separable(const velIPL::DImage& in, const std::vector<double>& rowTaps,
                         const std::vector<double>& columnTaps) {
  const int w = in.width();
  const int h = in.height();
  if (w == 0 || h == 0) return in;
  const int rx = static_cast<int>(rowTaps.size() / 2);
  const int ry = static_cast<int>(columnTaps.size() / 2);
  velIPL::DImage across(w, h, 0.0);
  std::vector<double> padded(static_cast<std::size_t>(w) + 2 * static_cast<std::size_t>(rx));
  for (int y = 0; y < h; ++y) {
    const double* src = in.row(y);
    for (int i = 0; i < static_cast<int>(padded.size()); ++i) padded[static_cast<std::size_t>(i)] = src[clampIndex(i - rx, w)];
    double* out = across.row(y);
    for (int x = 0; x < w; ++x) {
      double s = 0.0;
      for (int k = 0; k <= 2 * rx; ++k) s += rowTaps[static_cast<std::size_t>(k)] * padded[static_cast<std::size_t>(x + k)];
      out[x] = s;
    }
  }
  velIPL::DImage result(w, h, 0.0);
  for (int y = 0; y < h; ++y) {
    double* out = result.row(y);
    for (int k = 0; k <= 2 * ry; ++k) {
      const double t = columnTaps[static_cast<std::size_t>(k)];
      const double* src = across.row(clampIndex(static_cast<long long>(y) + k - ry, h));
      for (int x = 0; x < w; ++x) out[x] += t * src[x];
    }
  }
  return result;
}

std::vector<double> gaussianTaps(double sigma) {
  if (!(sigma > 0.0)) return {1.0};
  const int r = static_cast<int>(std::ceil(3.0 * std::min(sigma, 1000.0)));
  std::vector<double> taps(2 * static_cast<std::size_t>(r) + 1);
  double total = 0.0;
  for (int k = -r; k <= r; ++k) {
    const double v = std::exp(-0.5 * k * k / (sigma * sigma));
    taps[static_cast<std::size_t>(k + r)] = v;
    total += v;
  }
  for (double& t : taps) t /= total;
  return taps;
}

std::vector<double> boxTaps(int radius) {
  const int r = std::max(radius, 0);
  return std::vector<double>(2 * static_cast<std::size_t>(r) + 1, 1.0 / (2 * r + 1));
}

}  // namespace

velIPL::DImage gaussianSmooth(const velIPL::DImage& image, double sigmaY, double sigmaX) {
  return separable(image, gaussianTaps(sigmaX), gaussianTaps(sigmaY));
}

velIPL::DImage boxMean(const velIPL::DImage& image, int radiusY, int radiusX) {
  return separable(image, boxTaps(radiusX), boxTaps(radiusY));
}

}  // namespace lumifold
