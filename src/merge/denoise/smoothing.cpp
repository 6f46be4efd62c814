#include "merge/denoise/smoothing.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "merge/fast/worker_pool.h"

namespace lumifold {

namespace {

constexpr int kBandRows = 32;

int clampIndex(long long i, int n) { return static_cast<int>(i < 0 ? 0 : (i >= n ? n - 1 : i)); }

// out(x, y) = sum over k of taps[k] * in(x + k - r, y) along the rows, then
// the same down the columns with columnTaps.
// An image of w x h zeros, reusing image's memory when it has that size.
void zeros(velIPL::DImage& image, int w, int h) {
  if (image.width() != w || image.height() != h) {
    image = velIPL::DImage(w, h, 0.0);
    return;
  }
  for (int y = 0; y < h; ++y) std::fill(image.row(y), image.row(y) + w, 0.0);
}

void separable(const velIPL::DImage& in, const std::vector<double>& rowTaps, const std::vector<double>& columnTaps,
               velIPL::DImage& result, velIPL::DImage& across, WorkerPool& pool) {
  const int w = in.width();
  const int h = in.height();
  zeros(across, w, h);
  zeros(result, w, h);
  if (w == 0 || h == 0) return;
  const int rx = static_cast<int>(rowTaps.size() / 2);
  const int ry = static_cast<int>(columnTaps.size() / 2);
  const int bands = (h + kBandRows - 1) / kBandRows;
  std::vector<std::vector<double>> padding(static_cast<std::size_t>(pool.size()));
  pool.run(bands, [&](int band, int worker) {
    std::vector<double>& padded = padding[static_cast<std::size_t>(worker)];
    padded.resize(static_cast<std::size_t>(w) + 2 * static_cast<std::size_t>(rx));
    for (int y = band * kBandRows; y < std::min(h, (band + 1) * kBandRows); ++y) {
      const double* src = in.row(y);
      for (std::size_t i = 0; i < padded.size(); ++i) padded[i] = src[clampIndex(static_cast<long long>(i) - rx, w)];
      // Tap by tap over the whole row, which runs in vector lanes; each
      // pixel still sums its taps in the same order.
      double* out = across.row(y);
      for (int k = 0; k <= 2 * rx; ++k) {
        const double t = rowTaps[static_cast<std::size_t>(k)];
        const double* p = padded.data() + k;
        for (int x = 0; x < w; ++x) out[x] += t * p[x];
      }
    }
  });
  pool.run(bands, [&](int band, int) {
    for (int y = band * kBandRows; y < std::min(h, (band + 1) * kBandRows); ++y) {
      double* out = result.row(y);
      for (int k = 0; k <= 2 * ry; ++k) {
        const double t = columnTaps[static_cast<std::size_t>(k)];
        const double* src = across.row(clampIndex(static_cast<long long>(y) + k - ry, h));
        for (int x = 0; x < w; ++x) out[x] += t * src[x];
      }
    }
  });
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

void gaussianSmooth(const velIPL::DImage& image, double sigmaY, double sigmaX, velIPL::DImage& out,
                    velIPL::DImage& scratch, WorkerPool& pool) {
  separable(image, gaussianTaps(sigmaX), gaussianTaps(sigmaY), out, scratch, pool);
}

void boxMean(const velIPL::DImage& image, int radiusY, int radiusX, velIPL::DImage& out, velIPL::DImage& scratch,
             WorkerPool& pool) {
  separable(image, boxTaps(radiusX), boxTaps(radiusY), out, scratch, pool);
}

}  // namespace lumifold
