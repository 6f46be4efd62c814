#include "merge/denoise/nonlocal_means.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "merge/fast/worker_pool.h"

namespace lumifold {

namespace {

constexpr int kBandRows = 16;
// exp(-t) tabulated for t in [0, kWeightRange); beyond it a patch counts
// as unlike (exp(-12) is 6e-6). A table keeps the weights the same on
// every machine, whatever its exp.
constexpr int kWeightSteps = 4096;
constexpr double kWeightRange = 12.0;

int clampIndex(int i, int n) { return i < 0 ? 0 : (i >= n ? n - 1 : i); }

struct WeightTable {
  std::vector<float> w;
  WeightTable() : w(kWeightSteps + 1) {
    for (int i = 0; i < kWeightSteps; ++i) w[static_cast<std::size_t>(i)] = static_cast<float>(std::exp(-kWeightRange * i / kWeightSteps));
    w[kWeightSteps] = 0.0f;
  }
};

const WeightTable& weightTable() {
  static const WeightTable table;
  return table;
}

}  // namespace

velIPL::DImage nonLocalMeans(const velIPL::DImage& image, const velIPL::DImage& guide,
                             const NonLocalMeansParameters& p, WorkerPool& pool) {
  const int w = image.width();
  const int h = image.height();
  if (guide.width() != w || guide.height() != h) throw std::invalid_argument("Guide and image differ in size");
  if (w == 0 || h == 0 || !(p.h > 0.0)) return image;
  const int pry = std::max(p.patchRadiusY, 0);
  const int prx = std::max(p.patchRadiusX, 0);
  const int sry = std::max(p.searchRadiusY, 0);
  const int srx = std::max(p.searchRadiusX, 0);
  const double patchPixels = static_cast<double>((2 * pry + 1) * (2 * prx + 1));
  // A patch distance (sum of squares over the patch) d gives table index
  // d * scale, that is (d / patchPixels / h^2) steps of the table.
  const float scale = static_cast<float>(kWeightSteps / (kWeightRange * patchPixels * p.h * p.h));
  const float limit = static_cast<float>(kWeightSteps);
  const std::vector<float>& table = weightTable().w;

  // Guide and image as floats, padded by replication so that the inner
  // loops need no clamping: rows -sry-pry .. h+sry+pry, columns likewise.
  const int padY = sry + pry;
  const int padX = srx + prx;
  const int pw = w + 2 * padX;
  const int ph = h + 2 * padY;
  std::vector<float> g(static_cast<std::size_t>(pw) * ph);
  std::vector<float> v(static_cast<std::size_t>(pw) * ph);
  for (int y = 0; y < ph; ++y) {
    const double* gs = guide.row(clampIndex(y - padY, h));
    const double* is = image.row(clampIndex(y - padY, h));
    for (int x = 0; x < pw; ++x) {
      const int sx = clampIndex(x - padX, w);
      g[static_cast<std::size_t>(y) * pw + x] = static_cast<float>(gs[sx]);
      v[static_cast<std::size_t>(y) * pw + x] = static_cast<float>(is[sx]);
    }
  }
  auto at = [pw](std::vector<float>& a, int y, int x) { return a.data() + static_cast<std::size_t>(y) * pw + x; };

  velIPL::DImage result(w, h, 0.0);
  const int bands = (h + kBandRows - 1) / kBandRows;
  // Per worker: squared differences of the band's rows plus the patch's
  // rows above and below, their column sums, and the band's sums.
  const int rowsMax = kBandRows + 2 * pry;
  const int cw = w + 2 * prx;
  std::vector<std::vector<float>> scratch(static_cast<std::size_t>(pool.size()));
  std::vector<std::vector<int>> steps(static_cast<std::size_t>(pool.size()));
  pool.run(bands, [&](int band, int worker) {
    std::vector<float>& s = scratch[static_cast<std::size_t>(worker)];
    const int y0 = band * kBandRows;
    const int rows = std::min(kBandRows, h - y0);
    s.assign(static_cast<std::size_t>(rowsMax) * cw + static_cast<std::size_t>(kBandRows) * (cw + 2 * w) + w, 0.0f);
    float* diff = s.data();
    float* column = diff + static_cast<std::size_t>(rowsMax) * cw;
    float* num = column + static_cast<std::size_t>(kBandRows) * cw;
    float* den = num + static_cast<std::size_t>(kBandRows) * w;
    float* weight = den + static_cast<std::size_t>(kBandRows) * w;
    std::vector<int>& step = steps[static_cast<std::size_t>(worker)];
    step.resize(static_cast<std::size_t>(w));
    for (int dy = -sry; dy <= sry; ++dy) {
      for (int dx = -srx; dx <= srx; ++dx) {
        // diff row r holds image row y0 - pry + r, columns -prx .. w + prx - 1.
        for (int r = 0; r < rows + 2 * pry; ++r) {
          const float* a = at(g, y0 - pry + r + padY, padX - prx);
          const float* b = at(g, y0 - pry + r + dy + padY, padX - prx + dx);
          float* d = diff + static_cast<std::size_t>(r) * cw;
          for (int x = 0; x < cw; ++x) {
            const float e = a[x] - b[x];
            d[x] = e * e;
          }
        }
        for (int r = 0; r < rows; ++r) {
          float* c = column + static_cast<std::size_t>(r) * cw;
          const float* d = diff + static_cast<std::size_t>(r) * cw;
          for (int x = 0; x < cw; ++x) c[x] = d[x];
          for (int k = 1; k <= 2 * pry; ++k) {
            const float* dk = d + static_cast<std::size_t>(k) * cw;
            for (int x = 0; x < cw; ++x) c[x] += dk[x];
          }
        }
        for (int r = 0; r < rows; ++r) {
          const float* c = column + static_cast<std::size_t>(r) * cw;
          const float* candidate = at(v, y0 + r + dy + padY, padX + dx);
          float* nr = num + static_cast<std::size_t>(r) * w;
          float* dr = den + static_cast<std::size_t>(r) * w;
          // Three passes, so that the first and last run in vector lanes:
          // the patch sums and their table steps, the weights, the sums.
          for (int x = 0; x < w; ++x) {
            float d = c[x];
            for (int k = 1; k <= 2 * prx; ++k) d += c[x + k];
            float t = d * scale;
            if (!(t < limit)) t = limit;  // NaN included
            step[x] = static_cast<int>(t);
          }
          for (int x = 0; x < w; ++x) weight[x] = table[static_cast<std::size_t>(step[x])];
          for (int x = 0; x < w; ++x) {
            nr[x] += weight[x] * candidate[x];
            dr[x] += weight[x];
          }
        }
      }
    }
    for (int r = 0; r < rows; ++r) {
      double* out = result.row(y0 + r);
      const float* nr = num + static_cast<std::size_t>(r) * w;
      const float* dr = den + static_cast<std::size_t>(r) * w;
      // The centre's own weight is 1, so the sum of weights is never 0.
      for (int x = 0; x < w; ++x) out[x] = static_cast<double>(nr[x]) / static_cast<double>(dr[x]);
    }
  });
  return result;
}

}  // namespace lumifold
