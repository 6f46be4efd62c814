#include "merge/series_alignment.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "merge/paired_sums.h"

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

double slippedProfileCorrelation(const std::vector<double>& reference, const std::vector<double>& frame, int t) {
  const int w = static_cast<int>(std::min(reference.size(), frame.size()));
  const int x0 = std::max(0, t), x1 = std::min(w, w + t);
  if (x1 - x0 < 2) return 0.0;
  return correlationOf(reference.data() + x0, frame.data() + x0 - t, x1 - x0, 1, 1);
}

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

namespace {

constexpr int kMatchBlock = 4;
// Candidates are first taken every kCoarseStep columns and rows over every
// other block in each direction, then the best refined one by one.
constexpr int kCoarseStep = 2;
// The fewest blocks in common a correlation is believed over: a quarter of
// the frame's.
constexpr int kMinimumShare = 4;

// The slips either side of the best that the estimate's parabola is fitted
// through.
constexpr int kFitReach = 15;

// The detail's blocks: this many across the width.
constexpr int kDetailColumns = 14;

}  // namespace

struct StructureMatcher::Frame {
  // Per row, the sum of 4 columns starting at each column, summed over
  // the rows above: sums[(y) * stride + x] is rows 0 .. y - 1.
  std::vector<std::int32_t> sums;
  int stride = 0;
};

StructureMatcher::StructureMatcher(const velIPL::GImage& reference)
    : width_(reference.width()), height_(reference.height()), blockColumns_(reference.width() / kMatchBlock),
      blockRows_(reference.height() / kMatchBlock) {
  detailWidth_ = std::clamp(width_ / kDetailColumns, 1, 64);
  detailColumns_ = width_ / detailWidth_;
  detailRows_ = height_ / kMatchBlock;
  if (detailColumns_ >= 5 && detailRows_ >= 5) referenceDetail_ = detailOf(reference, 0, 0);
  blocks_.assign(static_cast<std::size_t>(blockColumns_) * blockRows_, 0);
  for (int by = 0; by < blockRows_; ++by) {
    for (int y = by * kMatchBlock; y < (by + 1) * kMatchBlock; ++y) {
      const unsigned char* row = reference.row(y);
      for (int bx = 0; bx < blockColumns_; ++bx) {
        std::int32_t s = 0;
        for (int x = bx * kMatchBlock; x < (bx + 1) * kMatchBlock; ++x) s += row[x];
        blocks_[static_cast<std::size_t>(by) * blockColumns_ + bx] += s;
      }
    }
  }
}

std::vector<double> StructureMatcher::detailOf(const velIPL::GImage& image, int axial, int tilt) const {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const int cw = detailColumns_, ch = detailRows_;
  std::vector<double> means(static_cast<std::size_t>(cw) * ch, nan);
  for (int bx = 0; bx < cw; ++bx) {
    const double u = (bx * detailWidth_ + 0.5 * detailWidth_) / width_ - 0.5;
    const int d = axial + static_cast<int>(std::floor(tilt * u + 0.5));
    for (int by = 0; by < ch; ++by) {
      const int y0 = by * kMatchBlock - d;
      if (y0 < 0 || y0 + kMatchBlock > height_) continue;
      int sum = 0;
      for (int y = y0; y < y0 + kMatchBlock; ++y) {
        const unsigned char* row = image.row(y) + bx * detailWidth_;
        for (int x = 0; x < detailWidth_; ++x) sum += row[x];
      }
      means[static_cast<std::size_t>(by) * cw + bx] = sum;
    }
  }
  std::vector<double> detail(means.size(), nan);
  constexpr int r = 2;
  for (int by = 0; by < ch; ++by) {
    for (int bx = 0; bx < cw; ++bx) {
      const double v = means[static_cast<std::size_t>(by) * cw + bx];
      if (std::isnan(v)) continue;
      double s = 0;
      int n = 0;
      for (int y = std::max(0, by - r); y <= std::min(ch - 1, by + r); ++y) {
        for (int x = std::max(0, bx - r); x <= std::min(cw - 1, bx + r); ++x) {
          const double q = means[static_cast<std::size_t>(y) * cw + x];
          if (std::isnan(q)) continue;
          s += q;
          ++n;
        }
      }
      detail[static_cast<std::size_t>(by) * cw + bx] = v - s / n;
    }
  }
  return detail;
}

StructureMatcher::Frame StructureMatcher::prepare(const velIPL::GImage& frame) const {
  Frame f;
  f.stride = std::max(0, width_ - kMatchBlock + 1);
  f.sums.assign(static_cast<std::size_t>(height_ + 1) * f.stride, 0);
  for (int y = 0; y < height_; ++y) {
    const unsigned char* row = frame.row(y);
    std::int32_t* above = f.sums.data() + static_cast<std::size_t>(y) * f.stride;
    std::int32_t* out = above + f.stride;
    for (int x = 0; x < f.stride; ++x) {
      out[x] = above[x] + row[x] + row[x + 1] + row[x + 2] + row[x + 3];
    }
  }
  return f;
}

double StructureMatcher::correlationAt(const Frame& f, int lateral, int axial, int tilt, int step) const {
  PairedSums sums;
  int total = 0;
  for (int bx = 0; bx < blockColumns_; bx += step) {
    const int x0 = bx * kMatchBlock - lateral;
    if (x0 < 0 || x0 + kMatchBlock > width_) continue;
    const int d = blockOffset(bx, axial, tilt);
    for (int by = 0; by < blockRows_; by += step) {
      ++total;
      const int y0 = by * kMatchBlock - d;
      if (y0 < 0 || y0 + kMatchBlock > height_) continue;
      const double a = blocks_[static_cast<std::size_t>(by) * blockColumns_ + bx];
      const double b = f.sums[static_cast<std::size_t>(y0 + kMatchBlock) * f.stride + x0] -
                       f.sums[static_cast<std::size_t>(y0) * f.stride + x0];
      sums.add(a, b);
    }
  }
  if (sums.n < 2 || sums.n * kMinimumShare < total) return -1.0;
  return sums.correlation();
}

StructureMatcher::Match StructureMatcher::refine(const Frame& f, Match m, bool tilts, bool laterals) const {
  // Every candidate within a coarse step of the coarse best, one by one.
  const Match start = m;
  const int lateralReach = laterals ? kCoarseStep : 0, tiltReach = tilts ? 2 * kCoarseStep : 0;
  for (int t = start.lateral - lateralReach; t <= start.lateral + lateralReach; ++t) {
    for (int d = start.axial - kCoarseStep; d <= start.axial + kCoarseStep; ++d) {
      for (int k = start.tilt - tiltReach; k <= start.tilt + tiltReach; ++k) {
        const double c = correlationAt(f, t, d, k, 1);
        if (c > m.correlation) m = {t, d, k, c};
      }
    }
  }
  return m;
}

double StructureMatcher::detailCorrelation(const std::vector<double>& a, const std::vector<double>& b) {
  PairedSums sums;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    if (!std::isnan(a[i]) && !std::isnan(b[i])) sums.add(a[i], b[i]);
  }
  return sums.n < 2 ? std::numeric_limits<double>::quiet_NaN() : sums.correlation();
}

int StructureMatcher::blockOffset(int bx, int axial, int tilt) const {
  const double u = (bx * kMatchBlock + 0.5 * kMatchBlock) / width_ - 0.5;
  return axial + static_cast<int>(std::floor(tilt * u + 0.5));
}

StructureMatcher::Match StructureMatcher::rigid(const velIPL::GImage& frame, std::vector<double>* detailOut,
                                                std::vector<std::int32_t>* blocksOut) const {
  const Frame f = prepare(frame);
  const int reach = height_ / 8, tiltReach = height_ / 16;
  const int tiltStep = std::max(1, 2 * kCoarseStep);
  Match best;
  for (int k = -tiltReach / tiltStep * tiltStep; k <= tiltReach; k += tiltStep) {
    for (int d = -reach / kCoarseStep * kCoarseStep; d <= reach; d += kCoarseStep) {
      const double c = correlationAt(f, 0, d, k, kCoarseStep);
      if (c > best.correlation) best = {0, d, k, c};
    }
  }
  best.correlation = correlationAt(f, 0, best.axial, best.tilt, 1);
  best = refine(f, best, true, false);
  if (!referenceDetail_.empty()) {
    std::vector<double> detail = detailOf(frame, best.axial, best.tilt);
    best.detail = detailCorrelation(referenceDetail_, detail);
    if (detailOut) *detailOut = std::move(detail);
  }
  if (blocksOut) {
    blocksOut->assign(blocks_.size(), -1);
    for (int bx = 0; bx < blockColumns_; ++bx) {
      const int d = blockOffset(bx, best.axial, best.tilt);
      for (int by = 0; by < blockRows_; ++by) {
        const int y0 = by * kMatchBlock - d;
        if (y0 < 0 || y0 + kMatchBlock > height_) continue;
        (*blocksOut)[static_cast<std::size_t>(by) * blockColumns_ + bx] =
            f.sums[static_cast<std::size_t>(y0 + kMatchBlock) * f.stride + bx * kMatchBlock] -
            f.sums[static_cast<std::size_t>(y0) * f.stride + bx * kMatchBlock];
      }
    }
  }
  return best;
}

double StructureMatcher::correlationWithin(const Frame& f, int lateral, int axial, const Window& window, int step) const {
  PairedSums sums;
  for (int bx = window.firstBlockColumn; bx < window.endBlockColumn; bx += step) {
    const int x0 = bx * kMatchBlock - lateral;
    for (int by = window.firstBlockRow; by < window.endBlockRow; by += step) {
      const int y0 = by * kMatchBlock - axial;
      const double a = blocks_[static_cast<std::size_t>(by) * blockColumns_ + bx];
      const double b = f.sums[static_cast<std::size_t>(y0 + kMatchBlock) * f.stride + x0] -
                       f.sums[static_cast<std::size_t>(y0) * f.stride + x0];
      sums.add(a, b);
    }
  }
  return sums.n < 2 ? -1.0 : sums.correlation();
}

StructureMatcher::Slip StructureMatcher::slip(const velIPL::GImage& frame, int range, int candidate,
                                              double candidateEvidence) const {
  Slip s;
  range = std::clamp(range, 0, std::max(0, (width_ - kMatchBlock) / 2 - 1));
  const int reach = std::max(0, std::min(height_ / 8, (height_ - kMatchBlock) / 2 - 1));
  // The reference's blocks that every candidate's frame block lies inside:
  // every slip and offset is judged on the same blocks, so a frame slipped
  // by s is judged exactly as the unslipped one moved by s, and the columns
  // a slip brings in from beyond the edge never count.
  Window window;
  window.firstBlockColumn = (range + kMatchBlock - 1) / kMatchBlock;
  window.endBlockColumn = (width_ - range - kMatchBlock) / kMatchBlock + 1;
  window.firstBlockRow = (reach + kMatchBlock - 1) / kMatchBlock;
  window.endBlockRow = (height_ - reach - kMatchBlock) / kMatchBlock + 1;
  if (window.endBlockColumn - window.firstBlockColumn < 2 || window.endBlockRow - window.firstBlockRow < 2) return s;
  const Frame f = prepare(frame);

  // Every slip over axial offsets every kCoarseStep rows and every other
  // block; then the best slip and no slip refined row by row.
  struct Candidate {
    int lateral = 0, axial = 0;
    double correlation = -2.0;
  };
  const auto bestAxial = [&](int t, int from, int to, int axialStep, int blockStep) {
    Candidate c{t, 0, -2.0};
    for (int d = from; d <= to; d += axialStep) {
      const double v = correlationWithin(f, t, d, window, blockStep);
      if (v > c.correlation) c = {t, d, v};
    }
    return c;
  };
  const int coarseReach = reach / kCoarseStep * kCoarseStep;
  std::vector<Candidate> coarse;
  for (int t = -range; t <= range; ++t) coarse.push_back(bestAxial(t, -coarseReach, coarseReach, kCoarseStep, kCoarseStep));
  const auto refined = [&](const Candidate& c) {
    return bestAxial(c.lateral, std::max(-reach, c.axial - kCoarseStep), std::min(reach, c.axial + kCoarseStep), 1, 1);
  };
  // Ties go to the smaller slip, then the negative one.
  const auto better = [](const Candidate& a, const Candidate& b) {
    if (a.correlation != b.correlation) return a.correlation > b.correlation;
    if (std::abs(a.lateral) != std::abs(b.lateral)) return std::abs(a.lateral) < std::abs(b.lateral);
    return a.lateral < b.lateral;
  };
  Candidate best = coarse.front();
  for (const Candidate& c : coarse) {
    if (better(c, best)) best = c;
  }
  const Candidate still = refined(coarse[static_cast<std::size_t>(range)]);
  // On real scans the correlation over slips is a broad hump whose highest
  // point wanders by several columns with the speckle; the vertex of a
  // parabola through the hump's kFitReach slips either side is steadier
  // (between real repeats, half the disagreement of the highest point).
  const int t0 = best.lateral;
  const int from = std::max(-range, t0 - kFitReach), to = std::min(range, t0 + kFitReach);
  int vertex = t0;
  if (to - from >= 2) {
    // Least squares of c = a u^2 + b u + k over u = t - t0.
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0, c0 = 0, c1 = 0, c2 = 0;
    for (int t = from; t <= to; ++t) {
      const double u = t - t0, c = coarse[static_cast<std::size_t>(t + range)].correlation;
      s0 += 1;
      s1 += u;
      s2 += u * u;
      s3 += u * u * u;
      s4 += u * u * u * u;
      c0 += c;
      c1 += u * c;
      c2 += u * u * c;
    }
    // Cramer's rule on the normal equations.
    const auto det3 = [](double a, double b, double c, double d, double e, double f, double g, double h, double i) {
      return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    };
    const double det = det3(s4, s3, s2, s3, s2, s1, s2, s1, s0);
    if (det != 0) {
      const double qa = det3(c2, s3, s2, c1, s2, s1, c0, s1, s0) / det;
      const double qb = det3(s4, c2, s2, s3, c1, s1, s2, c0, s0) / det;
      if (qa < 0) vertex = t0 + static_cast<int>(std::lround(std::clamp(-qb / (2 * qa), double(from - t0), double(to - t0))));
    }
  }
  const Candidate top = refined(coarse[static_cast<std::size_t>(vertex + range)]);
  // No slip is not refined into the estimate: a frame slipped by s is then
  // judged exactly as the same frame unslipped, moved by s.
  s.estimate = top.lateral;
  if (candidateEvidence >= kProfileEvidence && std::abs(candidate) <= range) {
    const Candidate other = refined(coarse[static_cast<std::size_t>(candidate + range)]);
    if (other.correlation >= still.correlation - kSlipEvidence) {
      s.shift = s.estimate = candidate;
      s.confidence = candidate == 0 ? 0.0 : std::max(kSlipEvidence, other.correlation - still.correlation);
      return s;
    }
  }
  if (top.lateral != 0 && top.correlation > still.correlation) {
    s.shift = top.lateral;
    s.confidence = top.correlation - still.correlation;
  }
  return s;
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
