#include "merge/denoise/nonlocal_means.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "merge/fast/worker_pool.h"

namespace lumifold {

namespace {

constexpr int kBandRows = 32;
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
  // Offsets come in pairs o and -o: the distance between the patches at p
  // and p + o serves p (candidate p + o) and p + o (candidate p), so each
  // pair's distances are worked out once, over the band's rows and the
  // rows dy above them, and the columns dx beside them.
  const int rowsMax = kBandRows + sry;           // distances per band
  const int widthMax = w + srx;
  const int diffRowsMax = rowsMax + 2 * pry;
  const int diffWidthMax = widthMax + 2 * prx;
  std::vector<std::vector<float>> scratch(static_cast<std::size_t>(pool.size()));
  std::vector<std::vector<int>> steps(static_cast<std::size_t>(pool.size()));
  pool.run(bands, [&](int band, int worker) {
    std::vector<float>& s = scratch[static_cast<std::size_t>(worker)];
    const int y0 = band * kBandRows;
    const int rows = std::min(kBandRows, h - y0);
    s.assign(static_cast<std::size_t>(diffRowsMax) * diffWidthMax + static_cast<std::size_t>(rowsMax) * diffWidthMax +
                 static_cast<std::size_t>(rowsMax) * widthMax + 2 * static_cast<std::size_t>(kBandRows) * w,
             0.0f);
    float* diff = s.data();
    float* column = diff + static_cast<std::size_t>(diffRowsMax) * diffWidthMax;
    float* weight = column + static_cast<std::size_t>(rowsMax) * diffWidthMax;
    float* num = weight + static_cast<std::size_t>(rowsMax) * widthMax;
    float* den = num + static_cast<std::size_t>(kBandRows) * w;
    std::vector<int>& step = steps[static_cast<std::size_t>(worker)];
    step.resize(static_cast<std::size_t>(widthMax));
    // The centre's own weight is 1, so the sum of weights is never 0.
    for (int r = 0; r < rows; ++r) {
      const float* centre = at(v, y0 + r + padY, padX);
      for (int x = 0; x < w; ++x) {
        num[static_cast<std::size_t>(r) * w + x] = centre[x];
        den[static_cast<std::size_t>(r) * w + x] = 1.0f;
      }
    }
    for (int dy = 0; dy <= sry; ++dy) {
      for (int dx = dy == 0 ? 1 : -srx; dx <= srx; ++dx) {
        // Distances for p in rows y0 - dy .. y0 + rows - 1 and columns
        // xa .. xa + span - 1, where p and p + o reach the band.
        const int xa = std::min(0, -dx);
        const int span = w + std::abs(dx);
        const int distRows = rows + dy;
        const int cw = span + 2 * prx;
        for (int r = 0; r < distRows + 2 * pry; ++r) {
          const int y = y0 - dy - pry + r;
          const float* a = at(g, y + padY, padX + xa - prx);
          const float* b = at(g, y + dy + padY, padX + xa - prx + dx);
          float* d = diff + static_cast<std::size_t>(r) * cw;
          for (int x = 0; x < cw; ++x) {
            const float e = a[x] - b[x];
            d[x] = e * e;
          }
        }
        for (int r = 0; r < distRows; ++r) {
          float* c = column + static_cast<std::size_t>(r) * cw;
          const float* d = diff + static_cast<std::size_t>(r) * cw;
          for (int x = 0; x < cw; ++x) c[x] = d[x];
          for (int k = 1; k <= 2 * pry; ++k) {
            const float* dk = d + static_cast<std::size_t>(k) * cw;
            for (int x = 0; x < cw; ++x) c[x] += dk[x];
          }
        }
        // Two passes, so that the first runs in vector lanes: the patch
        // sums and their table steps, then the weights.
        for (int r = 0; r < distRows; ++r) {
          const float* c = column + static_cast<std::size_t>(r) * cw;
          for (int x = 0; x < span; ++x) {
            float d = c[x];
            for (int k = 1; k <= 2 * prx; ++k) d += c[x + k];
            float t = d * scale;
            if (!(t < limit)) t = limit;  // NaN included
            step[static_cast<std::size_t>(x)] = static_cast<int>(t);
          }
          float* wr = weight + static_cast<std::size_t>(r) * span;
          for (int x = 0; x < span; ++x) wr[x] = table[static_cast<std::size_t>(step[static_cast<std::size_t>(x)])];
        }
        for (int r = 0; r < rows; ++r) {
          // q = (y0 + r, x): o's weight sits at distance row r + dy,
          // column x - xa; -o's at row r, column x - dx - xa.
          const float* forward = weight + static_cast<std::size_t>(r + dy) * span - xa;
          const float* backward = weight + static_cast<std::size_t>(r) * span - xa - dx;
          const float* ahead = at(v, y0 + r + dy + padY, padX + dx);
          const float* behind = at(v, y0 + r - dy + padY, padX - dx);
          float* nr = num + static_cast<std::size_t>(r) * w;
          float* dr = den + static_cast<std::size_t>(r) * w;
          for (int x = 0; x < w; ++x) {
            nr[x] += forward[x] * ahead[x];
            dr[x] += forward[x];
            nr[x] += backward[x] * behind[x];
            dr[x] += backward[x];
          }
        }
      }
    }
    for (int r = 0; r < rows; ++r) {
      double* out = result.row(y0 + r);
      const float* nr = num + static_cast<std::size_t>(r) * w;
      const float* dr = den + static_cast<std::size_t>(r) * w;
      for (int x = 0; x < w; ++x) out[x] = static_cast<double>(nr[x]) / static_cast<double>(dr[x]);
    }
  });
  return result;
}

}  // namespace lumifold
