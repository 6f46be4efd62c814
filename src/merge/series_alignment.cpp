#include "merge/series_alignment.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace lumifold {

namespace {

// The window of the trend removed from a lateral profile: wide enough to
// keep vessel shadows and layer texture, narrow enough to drop the
// section's curvature and the fall-off towards its edges.
constexpr int kTrendWindow = 31;

double correlationOf(const double* a, const double* b, int n, int strideA, int strideB) {
  double sa = 0, sb = 0;
  for (int i = 0; i < n; ++i) {
    sa += a[i * strideA];
    sb += b[i * strideB];
  }
  const double ma = sa / n, mb = sb / n;
  double aa = 0, bb = 0, ab = 0;
  for (int i = 0; i < n; ++i) {
    const double da = a[i * strideA] - ma, db = b[i * strideB] - mb;
    aa += da * da;
    bb += db * db;
    ab += da * db;
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

template <typename Image>
Thumbnail thumbnailOf(const Image& image) {
  Thumbnail t;
  const int w = image.width(), h = image.height();
  t.width = std::min(w, kThumbnailColumns);
  t.height = std::min(h, kThumbnailRows);
  t.values.assign(static_cast<std::size_t>(t.width) * t.height, 0.0);
  std::vector<int> count(t.values.size(), 0);
  for (int y = 0; y < h; ++y) {
    const int ty = static_cast<int>(static_cast<long long>(y) * t.height / h);
    for (int x = 0; x < w; ++x) {
      const int tx = static_cast<int>(static_cast<long long>(x) * t.width / w);
      const std::size_t at = static_cast<std::size_t>(ty) * t.width + tx;
      t.values[at] += image.at(x, y);
      ++count[at];
    }
  }
  for (std::size_t i = 0; i < t.values.size(); ++i) t.values[i] /= count[i];
  return t;
}

}  // namespace

double profileCorrelation(const std::vector<double>& a, const std::vector<double>& b, int first, int end) {
  if (end - first < 2) return 0.0;
  return correlationOf(a.data() + first, b.data() + first, end - first, 1, 1);
}

int lateralRange(int width) { return std::clamp(width / 8, 1, 64); }

namespace {

// Adds rows first .. end - 1 (at most 257 of them, so that 16-bit sums of
// grey cannot overflow) of image into sum, column by column, built for the
// widest vector instructions the processor has.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__)
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif
void addRows(const velIPL::GImage& image, int first, int end, std::uint16_t* sum) {
  const int w = image.width();
  for (int y = first; y < end; ++y) {
    const unsigned char* row = image.row(y);
    for (int x = 0; x < w; ++x) sum[x] = static_cast<std::uint16_t>(sum[x] + row[x]);
  }
}

}  // namespace

void addColumnSums(const velIPL::GImage& image, int first, int end, std::vector<std::int32_t>& sums) {
  const int w = image.width();
  // Integer sums (at most 4096 rows of 255) are exact. 16-bit partial sums
  // add twice the columns per instruction.
  constexpr int kPartialRows = 257;
  std::vector<std::uint16_t> partial(static_cast<std::size_t>(w));
  for (int y0 = first; y0 < end; y0 += kPartialRows) {
    std::fill(partial.begin(), partial.end(), std::uint16_t{0});
    addRows(image, y0, std::min(end, y0 + kPartialRows), partial.data());
    for (int x = 0; x < w; ++x) sums[x] += partial[x];
  }
}

std::vector<double> lateralProfileOfSums(const std::vector<std::int32_t>& counts) {
  const int w = static_cast<int>(counts.size());
  std::vector<double> profile(static_cast<std::size_t>(w));
  const int half = kTrendWindow / 2;
  // The trend's window sums as integers: every partial sum of whole numbers
  // below 2^53 is exact, so this is the value a sum of doubles in any order
  // gives.
  std::int64_t window = 0;
  int a = 0, b = -1;
  for (int x = 0; x < w; ++x) {
    const int first = std::max(0, x - half), last = std::min(w - 1, x + half);
    while (b < last) window += counts[++b];
    while (a < first) window -= counts[a++];
    const double mean = static_cast<double>(window);
    profile[x] = static_cast<double>(counts[x]) - mean / (last - first + 1);
  }
  return profile;
}

std::vector<double> lateralProfile(const velIPL::GImage& image) {
  std::vector<std::int32_t> counts(static_cast<std::size_t>(image.width()), 0);
  addColumnSums(image, 0, image.height(), counts);
  return lateralProfileOfSums(counts);
}

int estimateLateralShift(const std::vector<double>& reference, const std::vector<double>& frame, int range) {
  const int w = static_cast<int>(reference.size());
  int best = 0;
  double bestValue = -2.0;
  // 0, -1, 1, -2, 2, ...: a strictly larger value is needed to move away
  // from the smaller slip.
  for (int k = 0; k <= 2 * range; ++k) {
    const int t = k % 2 ? -(k + 1) / 2 : k / 2;
    // Reference column x against frame column x - t, for x in [x0, x1).
    const int x0 = std::max(0, t), x1 = std::min(w, w + t);
    if (x1 - x0 < 2) continue;
    const double c = correlationOf(reference.data() + x0, frame.data() + x0 - t, x1 - x0, 1, 1);
    if (c > bestValue) {
      bestValue = c;
      best = t;
    }
  }
  return best;
}

Thumbnail makeThumbnail(const velIPL::GImage& image) { return thumbnailOf(image); }
Thumbnail makeThumbnail(const velIPL::G16Image& image) { return thumbnailOf(image); }

double thumbnailSimilarity(const Thumbnail& a, const Thumbnail& b) {
  const int w = a.width, h = a.height;
  const int reach = h / 8;
  double best = -1.0;
  for (int d = -reach; d <= reach; ++d) {
    // Row y of a against row y - d of b.
    const int y0 = std::max(0, d), y1 = std::min(h, h + d);
    if (y1 <= y0) continue;
    const int n = (y1 - y0) * w;
    const double c = correlationOf(a.values.data() + static_cast<std::size_t>(y0) * w,
                                   b.values.data() + static_cast<std::size_t>(y0 - d) * w, n, 1, 1);
    best = std::max(best, c);
  }
  return best;
}

int mostTypical(const std::vector<Thumbnail>& thumbnails) {
  const int n = static_cast<int>(thumbnails.size());
  if (n < 3) return 0;
  std::vector<std::vector<double>> similarity(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) similarity[i][j] = similarity[j][i] = thumbnailSimilarity(thumbnails[i], thumbnails[j]);
  }
  int best = 0;
  double bestValue = -2.0;
  for (int i = 0; i < n; ++i) {
    std::vector<double> others;
    for (int j = 0; j < n; ++j) {
      if (j != i) others.push_back(similarity[i][j]);
    }
    std::sort(others.begin(), others.end());
    const std::size_t m = others.size();
    const double med = m % 2 ? others[m / 2] : 0.5 * (others[m / 2 - 1] + others[m / 2]);
    if (med > bestValue) {
      bestValue = med;
      best = i;
    }
  }
  return best;
}

std::vector<int> referenceCandidates(int frameCount) {
  std::vector<int> frames;
  if (frameCount <= kReferenceCandidates) {
    for (int i = 0; i < frameCount; ++i) frames.push_back(i);
    return frames;
  }
  for (int i = 0; i < kReferenceCandidates; ++i) {
    frames.push_back(static_cast<int>(static_cast<long long>(i) * (frameCount - 1) / (kReferenceCandidates - 1)));
  }
  return frames;
}

}  // namespace lumifold
