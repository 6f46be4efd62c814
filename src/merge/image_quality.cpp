#include "merge/image_quality.h"

#include <algorithm>
#include <cmath>

namespace lumifold {

namespace {

// Rows smoothed when looking for the edge, so that one bright speckle in
// the vitreous does not count as tissue.
constexpr int kEdgeSmoothing = 5;
constexpr long long kPercentileStep = 7;
// How far above the background's level, in deviations of a kEdgeSmoothing-row
// mean, a column has clearly left the background.
constexpr double kRiseDeviations = 4.0;

// The values at fractions p <= q of the way through v sorted (index
// floor(fraction * (n - 1))), from one copy of v: the k-th smallest value
// is the same whichever way it is found.
void percentiles(std::vector<double> v, double p, double q, double& atP, double& atQ) {
  if (v.empty()) {
    atP = atQ = 0.0;
    return;
  }
  const std::size_t k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
  const std::size_t l = static_cast<std::size_t>(q * static_cast<double>(v.size() - 1));
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
  atP = v[k];
  // Everything after k is at least v[k]: the l-th lies among it.
  if (l > k) std::nth_element(v.begin() + static_cast<std::ptrdiff_t>(k) + 1, v.begin() + static_cast<std::ptrdiff_t>(l), v.end());
  atQ = v[l];
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

// The values the figures read, as doubles: an image's own, or a running
// sum's divided by the frames (the value Merger::average() gives).
template <typename Image>
struct ValuesOf {
  const Image& image;
  int width() const { return image.width(); }
  int height() const { return image.height(); }
  double at(int x, int y) const { return image.at(x, y); }
};

struct MeanOf {
  const velIPL::DImage& sum;
  int divisor;
  int width() const { return sum.width(); }
  int height() const { return sum.height(); }
  double at(int x, int y) const { return sum.at(x, y) / divisor; }
};

// The last few rows of values, each worked out once (a mean divides every
// value), for the searches that go down every column a row at a time.
template <typename Values>
class RecentRows {
public:
  RecentRows(const Values& image, int depth)
      : image_(image), depth_(depth), rows_(static_cast<std::size_t>(depth) * image.width()),
        held_(static_cast<std::size_t>(depth), -1) {}
  // Row y, which must be one of the last depth rows asked for, or newer.
  const double* row(int y) {
    const std::size_t slot = static_cast<std::size_t>(y % depth_);
    double* values = rows_.data() + slot * image_.width();
    if (held_[slot] != y) {
      for (int x = 0; x < image_.width(); ++x) values[x] = image_.at(x, y);
      held_[slot] = y;
    }
    return values;
  }

private:
  const Values& image_;
  int depth_;
  std::vector<double> rows_;
  std::vector<int> held_;
};

// Where a column's inner layers stay below the edge threshold, its edge
// falls to a deeper, brighter layer, and the rows above that edge hold
// tissue: the background would keep its structure however many frames are
// averaged. So each column's background also ends gap rows above where the
// column first rises clearly above the background's level: each row's mean
// over the background above the edges, and a deviation robust to the tissue
// that background may hold (the median absolute one, from every
// kDeviationRowStep-th row, each about its own mean).
constexpr int kDeviationRowStep = 8;

template <typename Values>
void endBackgrounds(const Values& image, QualityRegions& r, const std::vector<int>& columns) {
  const int h = image.height();
  const std::vector<int> above = r.backgroundEnd;  // rows above the edges
  int deepest = 0, lowest = 0;
  for (const int x : columns) {
    deepest = std::max(deepest, above[x]);
    lowest = std::max(lowest, r.edges[x]);
  }
  std::vector<double> residuals, values;
  for (int y = 0; y < deepest; y += kDeviationRowStep) {
    values.clear();
    double sum = 0.0;
    for (const int x : columns) {
      if (y >= above[x]) continue;
      values.push_back(image.at(x, y));
      sum += values.back();
    }
    if (values.size() < 2) continue;
    const double mean = sum / static_cast<double>(values.size());
    for (const double v : values) residuals.push_back(std::fabs(v - mean));
  }
  double deviation = 0.0, unused = 0.0;
  percentiles(std::move(residuals), 0.5, 0.5, deviation, unused);
  // A flat background has no deviation: anything above its level rises.
  const double rise = std::max(kRiseDeviations * 1.4826 * deviation / std::sqrt(double(kEdgeSmoothing)), 1e-9);

  // Down all columns a row at a time, each row's level taken as it is read
  // (rows without background keep the level above).
  std::vector<double> window(static_cast<std::size_t>(image.width()), 0.0);
  std::vector<bool> open(static_cast<std::size_t>(image.width()), false);
  for (const int x : columns) open[x] = true;
  int searching = static_cast<int>(columns.size());
  double levels[kEdgeSmoothing] = {}, level = 0.0, levelWindow = 0.0;
  RecentRows<Values> rows(image, kEdgeSmoothing + 1);
  for (int y = 0; y < lowest + kEdgeSmoothing - 1 && y < h && searching > 0; ++y) {
    const double* row = rows.row(y);
    const double* leaving = y >= kEdgeSmoothing ? rows.row(y - kEdgeSmoothing) : nullptr;
    if (y < deepest) {
      double sum = 0.0;
      long long n = 0;
      for (const int x : columns) {
        if (y >= above[x]) continue;
        sum += row[x];
        ++n;
      }
      if (n) level = sum / static_cast<double>(n);
    }
    double& slot = levels[y % kEdgeSmoothing];
    levelWindow += level - (y >= kEdgeSmoothing ? slot : 0.0);
    slot = level;
    const int top = y - (kEdgeSmoothing - 1);
    for (const int x : columns) {
      if (!open[x]) continue;
      window[x] += row[x];
      if (leaving) window[x] -= leaving[x];
      if (top < 0) continue;
      if (top >= r.edges[x]) {
        open[x] = false;
        --searching;
      } else if ((window[x] - levelWindow) / kEdgeSmoothing > rise) {
        r.backgroundEnd[x] = std::min(r.backgroundEnd[x], std::max(0, top - r.backgroundGap));
        open[x] = false;
        --searching;
      }
    }
  }
}

template <typename Values>
QualityRegions findRegions(const Values& image) {
  QualityRegions r;
  const int w = image.width(), h = image.height();
  // The percentiles from every kPercentileStep-th pixel: as exact as the
  // threshold needs, at a fraction of the cost.
  std::vector<double> all;
  all.reserve(static_cast<std::size_t>(static_cast<long long>(w) * h / kPercentileStep + 1));
  // Pixel i of the image in storage order is (i % w, i / w), stepped along
  // without dividing.
  for (int x = 0, y = 0; w > 0 && y < h;) {
    all.push_back(image.at(x, y));
    x += kPercentileStep;
    while (x >= w) {
      x -= w;
      ++y;
    }
  }
  double low = 0.0, high = 0.0;
  percentiles(all, 0.10, 0.99, low, high);
  r.edgeThreshold = low + 0.5 * (high - low);
  r.backgroundGap = std::max(4, h / 50);
  r.bandRows = std::max(3, h / 80);
  r.edges.assign(static_cast<std::size_t>(w), -1);
  r.backgroundEnd.assign(static_cast<std::size_t>(w), 0);
  r.tissueTop.assign(static_cast<std::size_t>(w), -1);
  r.homogeneous.assign(static_cast<std::size_t>(w), false);
  if (high <= low) return r;

  // Every column is searched on its own, as a walk down it would, but all
  // columns a row at a time: the image is read in storage order, and the
  // columns' running sums, independent of each other, do not wait on one
  // another. Each column's sums take the same values in the same order.
  std::vector<int> edges(static_cast<std::size_t>(w), -1);
  {
    std::vector<double> window(static_cast<std::size_t>(w), 0.0);
    int missing = w;
    RecentRows<Values> rows(image, kEdgeSmoothing + 1);
    for (int y = 0; y < h && missing > 0; ++y) {
      const double* row = rows.row(y);
      const double* leaving = y >= kEdgeSmoothing ? rows.row(y - kEdgeSmoothing) : nullptr;
      for (int x = 0; x < w; ++x) {
        if (edges[x] >= 0) continue;
        window[x] += row[x];
        if (leaving) window[x] -= leaving[x];
        if (y >= kEdgeSmoothing - 1 && window[x] / kEdgeSmoothing >= r.edgeThreshold) {
          edges[x] = y - (kEdgeSmoothing - 1);
          --missing;
        }
      }
    }
  }
  std::vector<int> columns;
  int firstEdge = h;
  for (int x = 0; x < w; ++x) {
    const int edge = edges[x];
    if (edge < r.backgroundGap + 1 || edge + r.bandRows > h) continue;
    r.edges[x] = edge;
    r.backgroundEnd[x] = edge - r.backgroundGap;
    columns.push_back(x);
    firstEdge = std::min(firstEdge, edge);
  }
  endBackgrounds(image, r, columns);
  for (const int x : columns) r.backgroundPixels += r.backgroundEnd[x];
  std::vector<double> best(static_cast<std::size_t>(w), -1.0), band(static_cast<std::size_t>(w), 0.0);
  std::vector<int> top(edges);
  RecentRows<Values> rows(image, r.bandRows + 1);
  for (int y = firstEdge; y < h; ++y) {
    const double* row = rows.row(y);
    const double* leaving = y >= r.bandRows ? rows.row(y - r.bandRows) : nullptr;
    for (const int x : columns) {
      const int edge = r.edges[x];
      if (y < edge) continue;
      band[x] += row[x];
      if (y - edge >= r.bandRows) band[x] -= leaving[x];
      if (y - edge >= r.bandRows - 1 && band[x] > best[x]) {
        best[x] = band[x];
        top[x] = y - (r.bandRows - 1);
      }
    }
  }
  std::vector<double> bandMeans(static_cast<std::size_t>(w), 0.0);
  std::vector<double> found;
  for (const int x : columns) {
    r.tissueTop[x] = top[x];
    r.tissuePixels += r.bandRows;
    bandMeans[x] = best[x] / r.bandRows;
    found.push_back(bandMeans[x]);
  }
  double q1 = 0.0, q3 = 0.0;
  percentiles(found, 0.25, 0.75, q1, q3);
  for (int x = 0; x < w; ++x) {
    if (r.tissueTop[x] >= 0 && bandMeans[x] >= q1 && bandMeans[x] <= q3) {
      r.homogeneous[x] = true;
      r.homogeneousPixels += r.bandRows;
    }
  }
  return r;
}

template <typename Values>
QualityFigures measureValues(const Values& image, const QualityRegions& r) {
  Moments tissue, background, homogeneous;
  // The background's noise is its spread about each row's own mean: the
  // rows near the top, which frames moved down leave with fewer
  // contributions, are darker as a whole, and that is no noise.
  const int h = image.height();
  std::vector<Moments> rows(static_cast<std::size_t>(h));
  for (int x = 0; x < image.width() && x < static_cast<int>(r.edges.size()); ++x) {
    if (r.edges[x] < 0) continue;
    for (int y = 0; y < r.backgroundEnd[x]; ++y) {
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
  // The background's part of the noise is the same pooled deviation as
  // SNR's: its raw spread would count the darker top rows as noise.
  const double noise = std::sqrt(tissue.variance() + f.backgroundDeviation * f.backgroundDeviation);
  if (noise > 0.0) f.cnr = (f.tissueMean - f.backgroundMean) / noise;
  if (homogeneous.variance() > 0.0) f.enl = homogeneous.mean() * homogeneous.mean() / homogeneous.variance();
  return f;
}

template <typename Average, typename Reference>
ImageQuality assess(const Average& average, const Reference& reference) {
  ImageQuality q;
  q.regions = findRegions(average);
  q.average = measureValues(average, q.regions);
  q.reference = measureValues(reference, q.regions);
  q.snrGainDb = q.average.snrDb - q.reference.snrDb;
  return q;
}

}  // namespace

QualityRegions findQualityRegions(const velIPL::DImage& image) {
  return findRegions(ValuesOf<velIPL::DImage>{image});
}

QualityFigures measureQuality(const velIPL::DImage& image, const QualityRegions& regions) {
  return measureValues(ValuesOf<velIPL::DImage>{image}, regions);
}

ImageQuality assessMerge(const velIPL::DImage& average, const velIPL::DImage& reference) {
  return assess(ValuesOf<velIPL::DImage>{average}, ValuesOf<velIPL::DImage>{reference});
}

ImageQuality assessMerge(const velIPL::DImage& sum, int divisor, const velIPL::GImage& reference) {
  return assess(MeanOf{sum, divisor}, ValuesOf<velIPL::GImage>{reference});
}

ImageQuality assessMerge(const velIPL::DImage& sum, int divisor, const velIPL::G16Image& reference) {
  return assess(MeanOf{sum, divisor}, ValuesOf<velIPL::G16Image>{reference});
}

}  // namespace lumifold
