#include "merge/image_quality.h"

#include <algorithm>
#include <cmath>

namespace lumifold {

namespace {

// Rows smoothed when looking for the edge, so that one bright speckle in
// the vitreous does not count as tissue.
constexpr int kEdgeSmoothing = 5;
constexpr long long kPercentileStep = 7;

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  const std::size_t k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
  return v[k];
}

struct Moments {
  double sum = 0.0, squares = 0.0;
  long long n = 0;
  void add(double v) {
    sum += v;
    squares += v * v;
    ++n;
  }
  double mean() const { return n ? sum / n : 0.0; }
  double variance() const {
    if (!n) return 0.0;
    const double m = mean();
    return std::max(0.0, squares / n - m * m);
  }
};

}  // namespace

QualityRegions findQualityRegions(const velIPL::DImage& image) {
  QualityRegions r;
  const int w = image.width(), h = image.height();
  // The percentiles from every kPercentileStep-th pixel: as exact as the
  // threshold needs, at a fraction of the cost.
  std::vector<double> all;
  for (long long i = 0; i < static_cast<long long>(w) * h; i += kPercentileStep) {
    all.push_back(image.at(static_cast<int>(i % w), static_cast<int>(i / w)));
  }
  const double low = percentile(all, 0.10), high = percentile(all, 0.99);
  r.edgeThreshold = low + 0.5 * (high - low);
  r.backgroundGap = std::max(4, h / 50);
  r.bandRows = std::max(3, h / 80);
  r.edges.assign(static_cast<std::size_t>(w), -1);
  r.tissueTop.assign(static_cast<std::size_t>(w), -1);
  r.homogeneous.assign(static_cast<std::size_t>(w), false);
  if (high <= low) return r;

  std::vector<double> bandMeans(static_cast<std::size_t>(w), 0.0);
  std::vector<double> found;
  for (int x = 0; x < w; ++x) {
    int edge = -1;
    double window = 0.0;
    for (int y = 0; y < h && edge < 0; ++y) {
      window += image.at(x, y);
      if (y >= kEdgeSmoothing) window -= image.at(x, y - kEdgeSmoothing);
      if (y >= kEdgeSmoothing - 1 && window / kEdgeSmoothing >= r.edgeThreshold) edge = y - (kEdgeSmoothing - 1);
    }
    if (edge < r.backgroundGap + 1 || edge + r.bandRows > h) continue;
    r.edges[x] = edge;
    r.backgroundPixels += edge - r.backgroundGap;
    double best = -1.0;
    int top = edge;
    double band = 0.0;
    for (int y = edge; y < h; ++y) {
      band += image.at(x, y);
      if (y - edge >= r.bandRows) band -= image.at(x, y - r.bandRows);
      if (y - edge >= r.bandRows - 1 && band > best) {
        best = band;
        top = y - (r.bandRows - 1);
      }
    }
    r.tissueTop[x] = top;
    r.tissuePixels += r.bandRows;
    bandMeans[x] = best / r.bandRows;
    found.push_back(bandMeans[x]);
  }
  const double q1 = percentile(found, 0.25), q3 = percentile(found, 0.75);
  for (int x = 0; x < w; ++x) {
    if (r.tissueTop[x] >= 0 && bandMeans[x] >= q1 && bandMeans[x] <= q3) {
      r.homogeneous[x] = true;
      r.homogeneousPixels += r.bandRows;
    }
  }
  return r;
}

QualityFigures measureQuality(const velIPL::DImage& image, const QualityRegions& r) {
  Moments tissue, background, homogeneous;
  // The background's noise is its spread about each row's own mean: the
  // rows near the top, which frames moved down leave with fewer
  // contributions, are darker as a whole, and that is no noise.
  const int h = image.height();
  std::vector<Moments> rows(static_cast<std::size_t>(h));
  for (int x = 0; x < image.width() && x < static_cast<int>(r.edges.size()); ++x) {
    if (r.edges[x] < 0) continue;
    for (int y = 0; y < r.edges[x] - r.backgroundGap; ++y) {
      background.add(image.at(x, y));
      rows[static_cast<std::size_t>(y)].add(image.at(x, y));
    }
    for (int k = 0; k < r.bandRows; ++k) {
      const double v = image.at(x, r.tissueTop[x] + k);
      tissue.add(v);
      if (r.homogeneous[x]) homogeneous.add(v);
    }
  }
  QualityFigures f;
  f.tissueMean = tissue.mean();
  f.tissueDeviation = std::sqrt(tissue.variance());
  f.backgroundMean = background.mean();
  double pooled = 0.0;
  long long pooledCount = 0;
  for (const Moments& row : rows) {
    if (row.n < 2) continue;
    pooled += row.variance() * row.n;
    pooledCount += row.n;
  }
  f.backgroundDeviation = pooledCount ? std::sqrt(pooled / pooledCount) : 0.0;
  if (f.backgroundDeviation > 0.0 && f.tissueMean > 0.0) f.snrDb = 20.0 * std::log10(f.tissueMean / f.backgroundDeviation);
  const double noise = std::sqrt(tissue.variance() + background.variance());
  if (noise > 0.0) f.cnr = (f.tissueMean - f.backgroundMean) / noise;
  if (homogeneous.variance() > 0.0) f.enl = homogeneous.mean() * homogeneous.mean() / homogeneous.variance();
  return f;
}

ImageQuality assessMerge(const velIPL::DImage& average, const velIPL::DImage& reference) {
  ImageQuality q;
  q.regions = findQualityRegions(average);
  q.average = measureQuality(average, q.regions);
  q.reference = measureQuality(reference, q.regions);
  q.snrGainDb = q.average.snrDb - q.reference.snrDb;
  return q;
}

}  // namespace lumifold
