#include "merge/frame_quality.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "math/col_vector.h"
#include "merge/accumulation.h"
#include "merge/anterior_edge.h"
#include "merge/column_transform.h"
#include "merge/median_filters.h"
#include "merge/series_alignment.h"

namespace lumifold {

using mathORN::CplxVector;
using mathORN::RowVector;
using velIPL::GImage;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Columns whose correlation peak is measured: enough for a stable median,
// few enough that measuring stays a small part of a fast merge.
constexpr int kPeakColumns = 6;
// The side of the blocks whose means the correlation compares.
constexpr int kBlock = 4;
// The fewest columns whose lateral profile is compared.
constexpr int kMinimumProfileColumns = 64;
// The bands of columns whose intensities are compared.
constexpr int kBands = 16;

double share(int count, int of) { return of > 0 ? static_cast<double>(count) / of : 0.0; }

}  // namespace

CplxVector FrameQualityMeter::columnSpectrum(const GImage& image, int x) const {
  // The signal columnSpectra makes of an interior column, for this one
  // column alone.
  const int m = static_cast<int>(source_.size());
  const double third = 1.0 / 3.0;
  CplxVector signal(m);
  for (int i = 0; i < m; ++i) {
    const int r = source_[i];
    const int sum = image.at(x - 1, r) + image.at(x, r) + image.at(x + 1, r);
    signal[i] = mathORN::Complex(sum * third * window_[i], 0.0);
  }
  return fft(signal, forward_);
}

FrameQualityMeter::FrameQualityMeter(const GImage& reference, RegistrationKind kind, bool thorough)
    : reference_(reference), kind_(kind), thorough_(thorough), referenceProfile_(lateralProfile(reference)) {
  if (thorough_ && reference.width() >= 4 && reference.height() >= 4) matcher_.emplace(reference);
  {
    // The reference's sum over every whole block the measures sample.
    const int w = reference.width(), h = reference.height();
    const int sampledColumns = ((w + kBlock - 1) / kBlock + 1) / 2;
    const int sampledRows = ((h + kBlock - 1) / kBlock + 1) / 2;
    referenceBlocks_.assign(static_cast<std::size_t>(sampledColumns) * sampledRows, 0);
    for (int by = 0; by * kBlock + kBlock <= h; by += 2) {
      for (int bx = 0; bx * kBlock + kBlock <= w; bx += 2) {
        std::int32_t sum = 0;
        for (int y = by * kBlock; y < (by + 1) * kBlock; ++y) {
          for (int x = bx * kBlock; x < (bx + 1) * kBlock; ++x) sum += reference.at(x, y);
        }
        referenceBlocks_[static_cast<std::size_t>(by / 2) * sampledColumns + bx / 2] = sum;
      }
    }
  }
  if (kind_ == RegistrationKind::AnteriorEdge) {
    referenceEdges_ = anteriorEdges(reference);
    return;
  }
  const int w = reference.width();
  if (w < 3 || reference.height() < 2) return;
  const int m = transformLength(reference.height());
  columnWindow(reference.height(), source_, window_);
  forward_ = CplxVector(m);
  forwardTwiddles(forward_);
  const int count = std::min(kPeakColumns, w - 2);
  for (int i = 0; i < count; ++i) {
    // Evenly over the interior columns, centred in their share.
    const int x = 1 + static_cast<int>((static_cast<long long>(2 * i + 1) * (w - 2)) / (2 * count));
    sampleColumns_.push_back(x);
    referenceSpectra_.push_back(columnSpectrum(reference, x));
  }
  weights_ = frequencyWeights(m);
  inverse_ = CplxVector(m);
  inverseTwiddles(inverse_);
}

namespace {

// Columns at each side that the running median of 15 leaves as they were.
constexpr int kUnfilteredBorder = 7;
// The fewest whole blocks a band's correlation is taken over.
constexpr int kMinimumBandBlocks = 8;
// Sampled block rows (8 pixel rows each) a band may sit off its place.
constexpr int kBandSlackRows = 2;

double correlationOfSums(double n, double sa, double sb, double saa, double sbb, double sab) {
  const double va = saa - sa * sa / n, vb = sbb - sb * sb / n, cov = sab - sa * sb / n;
  return va > 0.0 && vb > 0.0 ? cov / std::sqrt(va * vb) : 0.0;
}

// The sum of the four bytes of v, as 16-bit halves first.
inline std::uint32_t pairSums(std::uint32_t v) { return (v & 0x00FF00FFu) + ((v >> 8) & 0x00FF00FFu); }

}  // namespace

double FrameQualityMeter::weakestBandCorrelation(const std::vector<std::int32_t>& blockA,
                                                 const std::vector<std::int32_t>& blockB, const std::vector<int>& blockN,
                                                 int sampledColumns, int firstColumn, int endColumn) const {
  const int span = endColumn - firstColumn;
  if (span <= 0) return kNaN;
  struct Sums {
    double n = 0, a = 0, b = 0, aa = 0, bb = 0, ab = 0;
  };
  // Each band is judged at its best of a few axial offsets of whole sampled
  // block rows: a band the registration misplaced by some rows still holds
  // the section's layers, and only a band without them is a fault of the
  // frame.
  constexpr int kSlack = kBandSlackRows;
  Sums bands[kBands][2 * kSlack + 1];
  const std::size_t stride = static_cast<std::size_t>(sampledColumns);
  const long long rowsOfBlocks = static_cast<long long>(blockA.size() / stride);
  for (std::size_t at = 0; at < blockA.size(); ++at) {
    if (blockN[at] != kBlock * kBlock) continue;
    const int c = static_cast<int>(at % stride);
    const long long r = static_cast<long long>(at / stride);
    const int centre = std::min(std::max(2 * c * kBlock, firstColumn), endColumn - 1) - firstColumn;
    const int band = static_cast<int>(static_cast<long long>(centre) * kBands / span);
    for (int k = -kSlack; k <= kSlack; ++k) {
      if (r + k < 0 || r + k >= rowsOfBlocks) continue;
      const std::size_t other = static_cast<std::size_t>((r + k) * static_cast<long long>(stride) + c);
      if (blockN[other] != kBlock * kBlock) continue;
      Sums& s = bands[band][k + kSlack];
      const double a = blockA[at], b = blockB[other];
      s.n += 1;
      s.a += a;
      s.b += b;
      s.aa += a * a;
      s.bb += b * b;
      s.ab += a * b;
    }
  }
  double weakest = kNaN;
  for (const auto& offsets : bands) {
    double best = kNaN;
    for (const Sums& s : offsets) {
      if (s.n < kMinimumBandBlocks) continue;
      const double c = correlationOfSums(s.n, s.a, s.b, s.aa, s.bb, s.ab);
      if (std::isnan(best) || c > best) best = c;
    }
    if (!std::isnan(best) && (std::isnan(weakest) || best < weakest)) weakest = best;
  }
  return weakest;
}

FrameQuality FrameQualityMeter::measure(int index, const GImage& frame, const RowVector& raw,
                                        const RowVector& smoothed, const RowVector& final, int firstColumn,
                                        int endColumn, const std::vector<double>* peakRatios,
                                        std::vector<double>* detail) const {
  FrameQuality q;
  q.frame = index;
  const int w = frame.width();
  const int h = frame.height();

  int kept = 0;
  int replaced = 0;
  int withEdge = 0;
  for (int x = 0; x < w; ++x) {
    if (kind_ == RegistrationKind::Correlation) {
      if (raw[x] == final[x]) ++kept;
    } else {
      if (raw[x] == smoothed[x]) ++kept;
      if (final[x] != smoothed[x]) ++replaced;
      // The raw shift is the reference's edge minus the frame's.
      const double edge = referenceEdges_[x] - raw[x];
      if (edge > 0.0 || frame.at(x, 0) >= kEdgeGrey) ++withEdge;
    }
  }
  q.keptShare = share(kept, w);
  if (kind_ == RegistrationKind::Correlation) {
    q.edgeShare = kNaN;
    q.replacedShare = kNaN;
    std::vector<double> ratios;
    if (peakRatios && peakRatios->size() == sampleColumns_.size()) ratios = *peakRatios;
    for (std::size_t i = ratios.size(); i < sampleColumns_.size(); ++i) {
      const mathORN::ColVector c =
          crossCorrelate(referenceSpectra_[i], columnSpectrum(frame, sampleColumns_[i]), weights_, inverse_);
      double peak = 0.0;
      double sum = 0.0;
      for (int k = 0; k < c.size(); ++k) {
        peak = std::max(peak, c[k]);
        sum += c[k];
      }
      ratios.push_back(sum > 0.0 ? peak / (sum / c.size()) : 0.0);
    }
    q.peakRatio = medianOf(ratios);
  } else {
    q.peakRatio = kNaN;
    q.edgeShare = share(withEdge, w);
    q.replacedShare = share(replaced, w);
  }

  // Sums over blocks of kBlock x kBlock pixels of what the shifted frame
  // shares with the reference: the correlation of block means sees the
  // section's structure through the speckle, which limits a pixel-wise
  // correlation of single frames to about 0.75 however well they agree.
  // Every other row of blocks and every other block in it: a quarter of the
  // pixels tell the correlation as well, at a quarter of the cost. Only
  // those blocks are kept, in row order. Integer sums, so exact and the
  // same in any order.
  firstColumn = std::max(firstColumn, 0);
  endColumn = std::min(endColumn, w);
  const int bw = (w + kBlock - 1) / kBlock, bh = (h + kBlock - 1) / kBlock;
  const int sampledColumns = (bw + 1) / 2, sampledRows = (bh + 1) / 2;
  const std::size_t sampled = static_cast<std::size_t>(sampledColumns) * sampledRows;
  // At most 16 x 255 per block.
  std::vector<std::int32_t> blockA(sampled, 0), blockB(sampled, 0);
  std::vector<int> blockN(sampled, 0);
  std::vector<int> shift(static_cast<std::size_t>(w), 0);
  for (int x = firstColumn; x < endColumn; ++x) shift[x] = static_cast<int>(clampedShift(final[x], h));
  if (thorough_ && w > 2 * kUnfilteredBorder) {
    // The running median leaves these columns' raw shifts, which on real
    // scans reach a third of the frame's height: measured, they would
    // judge the border, not the frame.
    for (int x = 0; x < kUnfilteredBorder; ++x) {
      shift[x] = shift[kUnfilteredBorder];
      shift[w - 1 - x] = shift[w - 1 - kUnfilteredBorder];
    }
    for (int x = 0; x < firstColumn; ++x) shift[x] = 0;
    for (int x = endColumn; x < w; ++x) shift[x] = 0;
  }
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(frame.rowStride());
  // Each sampled column of blocks, worked out once: its columns and the rows of the reference all its columns
  // meet inside the frame (row y meets row y - shift, inside it for y in
  // [shift, h + shift)).
  struct BlockColumn {
    int bx, x0, x1;
    int sharedFirst, sharedEnd;
  };
  std::vector<BlockColumn> blockColumns;
  for (int bx = (firstColumn / kBlock + 1) / 2 * 2; bx * kBlock < endColumn; bx += 2) {
    BlockColumn c{bx, std::max(firstColumn, bx * kBlock), std::min(endColumn, (bx + 1) * kBlock), 0, h};
    for (int x = c.x0; x < c.x1; ++x) {
      c.sharedFirst = std::max(c.sharedFirst, shift[x]);
      c.sharedEnd = std::min(c.sharedEnd, h + shift[x]);
    }
    blockColumns.push_back(c);
  }
  // The frame's column sums for its lateral profile are taken along the
  // way, a few rows ahead of the blocks, so that the rows the blocks read
  // are still in the cache.
  int lowestShift = 0;
  for (int x = firstColumn; x < endColumn; ++x) lowestShift = std::min(lowestShift, shift[x]);
  std::vector<std::int32_t> columnSums(static_cast<std::size_t>(w), 0);
  int summed = 0;
  for (int by = 0; by < bh; by += 2) {
    const int y0 = by * kBlock, y1 = std::min(h, y0 + kBlock);
    // Rows up to y1 - lowestShift - 1 are read by this row of blocks.
    const int needed = std::min(h, y1 - lowestShift);
    if (needed > summed) {
      const int next = std::min(h, std::max(needed, summed + 32));
      addColumnSums(frame, summed, next, columnSums);
      summed = next;
    }
    const std::size_t rowBlock = static_cast<std::size_t>(by / 2) * sampledColumns;
    for (const BlockColumn& c : blockColumns) {
      const std::size_t at = rowBlock + static_cast<std::size_t>(c.bx / 2);
      std::int64_t rb = 0;
      if (y1 - y0 == kBlock && c.x1 - c.x0 == kBlock && y0 >= c.sharedFirst && y1 <= c.sharedEnd) {
        // A whole block the frame covers: its reference sum is known. Each
        // run of its columns with one shift reads the block's four bytes
        // from four rows of the frame, keeping only the run's bytes (byte i
        // of the word is column x0 + i).
        std::uint32_t halves = 0;
        for (int xa = c.x0; xa < c.x1;) {
          int xb = xa + 1;
          while (xb < c.x1 && shift[xb] == shift[xa]) ++xb;
          const std::uint32_t keep = static_cast<std::uint32_t>(((std::uint64_t{1} << (8 * (xb - c.x0))) - 1) &
                                                                ~((std::uint64_t{1} << (8 * (xa - c.x0))) - 1));
          const unsigned char* p = frame.row(y0 - shift[xa]) + c.x0;
          for (int k = 0; k < kBlock; ++k) {
            std::uint32_t v;
            std::memcpy(&v, p + k * stride, sizeof v);
            halves += pairSums(v & keep);
          }
          xa = xb;
        }
        rb = (halves & 0xFFFFu) + (halves >> 16);
        blockA[at] = referenceBlocks_[at];
        blockB[at] = static_cast<std::int32_t>(rb);
        blockN[at] = kBlock * kBlock;
        continue;
      }
      std::int64_t ra = 0;
      int rn = 0;
      for (int y = y0; y < y1; ++y) {
        const unsigned char* a = reference_.row(y);
        for (int x = c.x0; x < c.x1; ++x) {
          const int src = y - shift[x];
          if (src < 0 || src >= h) continue;
          ra += a[x];
          rb += frame.row(src)[x];
          ++rn;
        }
      }
      blockA[at] = static_cast<std::int32_t>(ra);
      blockB[at] = static_cast<std::int32_t>(rb);
      blockN[at] = rn;
    }
  }
  if (summed < h) addColumnSums(frame, summed, h, columnSums);
  // One pass over the blocks for the totals, the bands and the means of
  // the whole blocks (only whole blocks, so that every block mean averages
  // as many pixels); each sum takes its terms in the blocks' order.
  std::int64_t sa = 0, sb = 0;
  std::int64_t bandA[kBands] = {}, bandB[kBands] = {};
  double n = 0, ma = 0, mb = 0;
  {
    const int span = endColumn - firstColumn;
    // Each sampled column of blocks' band, worked out once.
    std::vector<int> bandOf(static_cast<std::size_t>(sampledColumns), 0);
    for (int c = 0; c < sampledColumns && span > 0; ++c) {
      const int centre = std::min(std::max(2 * c * kBlock, firstColumn), endColumn - 1) - firstColumn;
      bandOf[static_cast<std::size_t>(c)] = static_cast<int>(static_cast<long long>(centre) * kBands / span);
    }
    for (std::size_t row = 0; row < sampled; row += static_cast<std::size_t>(sampledColumns)) {
      for (int c = 0; c < sampledColumns; ++c) {
        const std::size_t at = row + static_cast<std::size_t>(c);
        if (blockN[at] == 0) continue;
        const std::int64_t ba = blockA[at], bb = blockB[at];
        sa += ba;
        sb += bb;
        const int band = bandOf[static_cast<std::size_t>(c)];
        bandA[band] += ba;
        bandB[band] += bb;
        if (blockN[at] != kBlock * kBlock) continue;
        n += 1;
        ma += static_cast<double>(ba);
        mb += static_cast<double>(bb);
      }
    }
  }
  q.relativeIntensity = sa > 0 ? static_cast<double>(sb) / static_cast<double>(sa) : kNaN;
  double weakest = kNaN;
  for (int b = 0; b < kBands; ++b) {
    if (bandA[b] == 0) continue;
    const double ratio = static_cast<double>(bandB[b]) / static_cast<double>(bandA[b]);
    if (std::isnan(weakest) || ratio < weakest) weakest = ratio;
  }
  q.weakestBand = weakest;
  double va = 0, vb = 0, cov = 0;
  if (n > 0) {
    ma /= n;
    mb /= n;
    for (std::size_t i = 0; i < sampled; ++i) {
      if (blockN[i] != kBlock * kBlock) continue;
      const double da = static_cast<double>(blockA[i]) - ma, db = static_cast<double>(blockB[i]) - mb;
      va += da * da;
      vb += db * db;
      cov += da * db;
    }
  }
  q.correlation = n == 0 ? kNaN : ((va > 0.0 && vb > 0.0) ? cov / std::sqrt(va * vb) : 0.0);
  if (thorough_ && matcher_) {
    // The bands are judged with the frame at the structure's rigid
    // placement, not at the registration's shifts: the anterior edge's take
    // each column's from one threshold crossing and misplace whole bands of
    // good frames, and what a band should tell is whether the frame holds
    // the layers. The matcher's grid has every block; these, every other.
    std::vector<std::int32_t> placed;
    q.structureCorrelation = matcher_->rigid(frame, detail, &placed).detail;
    const int gridColumns = w / kBlock, gridRows = h / kBlock;
    std::vector<std::int32_t> frameBlocks(sampled, 0);
    std::vector<int> frameN(sampled, 0);
    for (int by = 0; by < gridRows; by += 2) {
      for (int bx = 0; bx < gridColumns; bx += 2) {
        const std::int32_t sum = placed[static_cast<std::size_t>(by) * gridColumns + bx];
        if (sum < 0 || bx * kBlock < firstColumn || bx * kBlock + kBlock > endColumn) continue;
        const std::size_t at = static_cast<std::size_t>(by / 2) * sampledColumns + static_cast<std::size_t>(bx / 2);
        frameBlocks[at] = sum;
        frameN[at] = kBlock * kBlock;
      }
    }
    q.weakestBandCorrelation =
        weakestBandCorrelation(referenceBlocks_, frameBlocks, frameN, sampledColumns, firstColumn, endColumn);
  }
  // Narrower than two trend windows, a profile is mostly noise.
  q.profileCorrelation = endColumn - firstColumn < kMinimumProfileColumns
                             ? kNaN
                             : profileCorrelation(referenceProfile_, lateralProfileOfSums(columnSums), firstColumn, endColumn);
  return q;
}

namespace {

// One measure the rule looks at: its value, the least distance below the
// series' median that makes a frame an outlier, and its absolute floor.
struct Criterion {
  const char* name;
  double (*value)(const FrameQuality&);
  // A clean series can agree so closely that its median absolute deviation
  // alone would call ordinary differences outliers; below this gap no
  // frame is one.
  double minimumGap;
  // How many scaled median absolute deviations below the median a frame
  // must lie; 0: the gap alone decides.
  double deviations;
  double floor;
};

// A frame is an outlier when it lies further below the median than both
// the criterion's gap and its number of scaled median absolute deviations:
// 8, beyond what the good frames of the simulated series reach (their
// spread has long tails: a frame whose motion carries part of the section
// out of view).
constexpr double kOutlierDeviations = 8.0;
// Fewer registered frames than this give no median worth trusting: only the
// floors apply.
constexpr int kMinimumForSpread = 4;

// Each kind of bad frame has a measure that sets it far apart: the
// weakest band blinks and dropouts, the profile correlation another section
// and a slip (which an axial registration bends into place, so that the
// block correlation hardly sees them), the edge share the frames the
// anterior edge cannot register. The intensity and the block correlation
// are a second net, with wider limits. Gaps and floors lie between the
// largest distance of a good frame from the median and the smallest of a
// bad one on simulated series (docs/quality.md). The kept shares and the
// peak ratio vary too much between good frames and are only reported.
// Spreads between good frames of a small series are wide and unrelated to
// how far a bad frame falls: the band and profile criteria use the gap
// alone.
#define LUMIFOLD_COMMON_CRITERIA                                                                              \
  {"weakest band", [](const FrameQuality& q) { return q.weakestBand; }, 0.25, 0.0, 0.3},                     \
      {"profile correlation", [](const FrameQuality& q) { return q.profileCorrelation; }, 0.25, 0.0, -1.0},  \
      {"relative intensity", [](const FrameQuality& q) { return q.relativeIntensity; }, 0.05,               \
       kOutlierDeviations, 0.5},                                                                             \
      {"correlation", [](const FrameQuality& q) { return q.correlation; }, 0.08, 1.5 * kOutlierDeviations, 0.2}

const Criterion kCorrelationCriteria[] = {LUMIFOLD_COMMON_CRITERIA};

const Criterion kEdgeCriteria[] = {
    LUMIFOLD_COMMON_CRITERIA,
    {"edge share", [](const FrameQuality& q) { return q.edgeShare; }, 0.2, 0.0, 0.5},
};

#undef LUMIFOLD_COMMON_CRITERIA

// The criteria of the thorough measures. Their anchor is the best frame of
// the series, not its median: three bad frames among eight leave the best
// one good, and a frame of the section lies within a few hundredths of
// it, while another section or a blink, held to smooth motion, or a band
// without light, falls far below (docs/quality.md gives the margins on
// real scans).
struct AnchoredCriterion {
  const char* name;
  double (*value)(const FrameQuality&);
  // A frame is dropped below this share of the best frame's value.
  double share;
  double floor;
};

// A band that lost its light keeps the noise floor, which darkens with
// depth as the tissue does on the whole: it still correlates at up to half
// the best frame's, and the band limit must sit above that.
const AnchoredCriterion kAnchoredCriteria[] = {
    {"structure correlation", [](const FrameQuality& q) { return q.structureCorrelation; }, 0.73, 0.1},
    {"weakest band correlation", [](const FrameQuality& q) { return q.weakestBandCorrelation; }, 0.65, 0.2},
};

std::string describe(const char* name, double value, const char* relation, double limit) {
  char text[160];
  std::snprintf(text, sizeof text, "%s %.4g %s %.4g", name, value, relation, limit);
  return text;
}

}  // namespace

void rejectOutliers(std::vector<FrameQuality>& frames, RegistrationKind kind, bool thorough,
                    const std::vector<std::vector<double>>* details) {
  if (details && details->size() == frames.size()) {
    const std::vector<int> others = referenceCandidates(static_cast<int>(frames.size()));
    std::vector<double> consensus(frames.size(), kNaN);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      if (std::isnan(frames[i].structureCorrelation)) continue;
      std::vector<double> values{frames[i].structureCorrelation};
      for (const int j : others) {
        if (static_cast<std::size_t>(j) == i) continue;
        const double c = StructureMatcher::detailCorrelation((*details)[i], (*details)[static_cast<std::size_t>(j)]);
        if (!std::isnan(c)) values.push_back(c);
      }
      consensus[i] = medianOf(values);
    }
    for (std::size_t i = 0; i < frames.size(); ++i) frames[i].structureCorrelation = consensus[i];
  }
  const Criterion* begin = kind == RegistrationKind::Correlation ? std::begin(kCorrelationCriteria)
                                                                 : std::begin(kEdgeCriteria);
  const Criterion* end = kind == RegistrationKind::Correlation ? std::end(kCorrelationCriteria)
                                                               : std::end(kEdgeCriteria);
  const bool robust = static_cast<int>(frames.size()) >= kMinimumForSpread;
  for (const Criterion* c = begin; c != end; ++c) {
    std::vector<double> values;
    for (const FrameQuality& q : frames) {
      const double v = c->value(q);
      if (!std::isnan(v)) values.push_back(v);
    }
    double limit = -std::numeric_limits<double>::infinity();
    if (robust && !values.empty()) {
      const double med = medianOf(values);
      std::vector<double> deviations;
      for (double v : values) deviations.push_back(std::fabs(v - med));
      limit = med - std::max(c->deviations * 1.4826 * medianOf(deviations), c->minimumGap);
    }
    for (FrameQuality& q : frames) {
      const double v = c->value(q);
      if (q.dropped) continue;
      // A measure that cannot be taken (a reference without light, a frame
      // too small for one block) decides nothing.
      if (std::isnan(v)) continue;
      if (v < c->floor) {
        q.dropped = true;
        q.reason = describe(c->name, v, "below the floor", c->floor);
      } else if (v < limit) {
        q.dropped = true;
        q.reason = describe(c->name, v, "below the series' limit", limit);
      }
    }
  }
  if (!thorough) return;
  for (const AnchoredCriterion& c : kAnchoredCriteria) {
    double best = -std::numeric_limits<double>::infinity();
    for (const FrameQuality& q : frames) {
      const double v = c.value(q);
      if (!std::isnan(v)) best = std::max(best, v);
    }
    const double limit = best * c.share;
    for (FrameQuality& q : frames) {
      const double v = c.value(q);
      if (q.dropped || std::isnan(v)) continue;
      if (v < c.floor) {
        q.dropped = true;
        q.reason = describe(c.name, v, "below the floor", c.floor);
      } else if (frames.size() >= 2 && v < limit) {
        q.dropped = true;
        q.reason = describe(c.name, v, "below the series' limit", limit);
      }
    }
  }
}

}  // namespace lumifold
