#include "merge/denoise/speckle_filter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "merge/denoise/nonlocal_means.h"
#include "merge/denoise/smoothing.h"

namespace lumifold {

namespace {

// The scales below were chosen on the development eyes of the public
// real data set (docs/denoise.md) and are fixed for every series.
// The agreement of a frame with the reference is judged on both smoothed
// this much (rows, columns: speckle grains are wider than tall) and
// compared over this box.
constexpr double kAgreementSigmaY = 2.0, kAgreementSigmaX = 4.0;
constexpr int kAgreementBoxY = 2, kAgreementBoxX = 4;
// A frame's weight is exp(-(mean squared difference) / (width * noise)^2).
constexpr double kAgreementWidth = 0.75;
// The final non-local means: its patch and search radii, and the
// smoothing of its guide.
constexpr NonLocalMeansParameters kMeansWindows{3, 5, 4, 10, 0.0};
constexpr double kGuideSigma = 0.7;
// The share of the reference frame itself kept in the result: the one
// frame whose edges lie exactly where the registration put the others',
// so that the filter does not smooth away all the fine detail it alone
// holds in place (on the development eyes this keeps the edges'
// correlation with a single frame above 0.5 for 0.01 dB of PSNR).
constexpr double kReferenceShare = 0.03;

// A robust deviation of the noise of one frame: the median absolute
// deviation of differences two columns apart (past the speckle's grain,
// which is about one pixel), divided by sqrt 2. Pairs where both pixels
// sit at the frame's lowest or highest value are left out, so that a
// clipped background does not make the noise look like none.
double frameNoiseOf(const velIPL::DImage& f) {
  const int w = f.width();
  const int h = f.height();
  double lo = 0.0, hi = 0.0;
  bool first = true;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double v = f.at(x, y);
      if (first || v < lo) lo = v;
      if (first || v > hi) hi = v;
      first = false;
    }
  }
  auto clipped = [lo, hi](double a, double b) { return (a == lo && b == lo) || (a == hi && b == hi); };
  std::vector<double> d;
  const bool across = w > 2;
  const int lag = 2;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int x2 = across ? x + lag : x;
      const int y2 = across ? y : y + lag;
      if (x2 >= w || y2 >= h) continue;
      const double a = f.at(x, y), b = f.at(x2, y2);
      if (!clipped(a, b)) d.push_back(a - b);
    }
  }
  if (d.empty()) return 0.0;
  auto median = [](std::vector<double>& v) {
    const std::size_t k = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
  };
  const double m = median(d);
  for (double& v : d) v = std::fabs(v - m);
  const double mad = median(d);
  return std::isfinite(mad) ? 1.4826 * mad / std::sqrt(2.0) : 0.0;
}

class FrameNonLocalMeans : public FrameFilter {
public:
  explicit FrameNonLocalMeans(double strength) : strength_(std::clamp(strength, 0.0, kMaxStrength)) {}

  void start(const velIPL::DImage& reference, WorkerPool& pool) override {
    reference_ = reference;
    gaussianSmooth(reference, kAgreementSigmaY, kAgreementSigmaX, guide_, scratch_, pool);
    sum_ = reference;
    weights_ = velIPL::DImage(reference.width(), reference.height(), 1.0);
    noise_ = frameNoiseOf(reference);
  }

  void add(const velIPL::DImage& frame, const std::vector<std::uint8_t>& covered, WorkerPool& pool) override {
    const int w = reference_.width();
    const int h = reference_.height();
    if (frame.width() != w || frame.height() != h ||
        covered.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {
      throw std::invalid_argument("Frame and reference differ in size");
    }
    // Where the frame has nothing, it is judged on the reference's pixels
    // (and counts nothing there), so that its edge does not look unlike.
    if (filled_.width() != w || filled_.height() != h) filled_ = velIPL::DImage(w, h, 0.0);
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* c = covered.data() + static_cast<std::size_t>(y) * w;
      const double* f = frame.row(y);
      const double* r = reference_.row(y);
      double* out = filled_.row(y);
      for (int x = 0; x < w; ++x) out[x] = c[x] ? f[x] : r[x];
    }
    gaussianSmooth(filled_, kAgreementSigmaY, kAgreementSigmaX, smoothed_, scratch_, pool);
    for (int y = 0; y < h; ++y) {
      const double* g = guide_.row(y);
      double* d = smoothed_.row(y);
      for (int x = 0; x < w; ++x) d[x] = (d[x] - g[x]) * (d[x] - g[x]);
    }
    boxMean(smoothed_, kAgreementBoxY, kAgreementBoxX, filled_, scratch_, pool);
    const velIPL::DImage& d = filled_;
    const double width = kAgreementWidth * noise_;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        if (!covered[static_cast<std::size_t>(y) * w + x]) continue;
        // A noiseless series (width 0) weighs every frame alike.
        const double weight = width > 0.0 ? std::exp(-d.at(x, y) / (width * width)) : 1.0;
        if (!(weight > 0.0)) continue;
        sum_.at(x, y) += weight * frame.at(x, y);
        weights_.at(x, y) += weight;
      }
    }
  }

  velIPL::DImage finish(WorkerPool& pool) override {
    const int w = sum_.width();
    const int h = sum_.height();
    velIPL::DImage mean(w, h, 0.0);
    double total = 0.0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        mean.at(x, y) = sum_.at(x, y) / weights_.at(x, y);
        total += weights_.at(x, y);
      }
    }
    // The weighed mean's noise: one frame's over the root of the frames
    // that count, on the whole.
    const double frames = w > 0 && h > 0 ? total / (static_cast<double>(w) * h) : 1.0;
    NonLocalMeansParameters p = kMeansWindows;
    p.h = strength_ * noise_ / std::sqrt(frames);
    if (!(p.h > 0.0) || !std::isfinite(p.h)) return mean;
    gaussianSmooth(mean, kGuideSigma, kGuideSigma, smoothed_, scratch_, pool);
    velIPL::DImage result = nonLocalMeans(mean, smoothed_, p, pool);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        result.at(x, y) = (1.0 - kReferenceShare) * result.at(x, y) + kReferenceShare * reference_.at(x, y);
      }
    }
    return result;
  }

  double frameNoise() const override { return noise_; }

private:
  double strength_;
  double noise_ = 0.0;
  velIPL::DImage reference_;
  velIPL::DImage guide_;
  velIPL::DImage sum_;
  velIPL::DImage weights_;
  // Reused from frame to frame.
  velIPL::DImage filled_, smoothed_, scratch_;
};

}  // namespace

std::unique_ptr<FrameFilter> makeFrameNonLocalMeans(double strength) {
  return std::make_unique<FrameNonLocalMeans>(strength);
}

const SpeckleFilter* findSpeckleFilter(std::string_view key) {
  for (const SpeckleFilter& filter : kSpeckleFilters) {
    if (key == filter.key) return &filter;
  }
  return nullptr;
}

}  // namespace lumifold
