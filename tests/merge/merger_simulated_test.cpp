// The whole merge on simulated B-scan series: the result must equal a plain,
// independently written computation of the same registration, and the
// shifts must recover the simulator's true motion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "merge/merger.h"
#include "scratch_folder.h"
#include "sim/bscan_simulator.h"
#include "sim/series_writer.h"

using lumifold::BScanSimulator;
using lumifold::Merger;
using lumifold::Motion;
using lumifold::SimulationParameters;
using mathORN::RowVector;
using velIPL::GImage;

namespace plain {

// A direct transcription of the registration, sharing no code with the
// engine: std::vector, std::complex, nth_element for the medians.
using C = std::complex<double>;
using Profile = std::vector<double>;

constexpr double kTwoPi = 6.283185307179586;

std::vector<C> transform(std::vector<C> x, double direction) {
  const int n = static_cast<int>(x.size());
  for (int i = 1, j = 0; i < n; ++i) {
    int bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  const double a = direction * kTwoPi / n;
  for (int m = 1; m < n; m *= 2) {
    for (int start = 0; start < n; start += 2 * m) {
      for (int k = 0; k < m; ++k) {
        const double angle = static_cast<double>(n / 2 / m * k) * a;
        const C t = x[start + k + m] * C(std::cos(angle), std::sin(angle));
        x[start + k + m] = x[start + k] - t;
        x[start + k] = x[start + k] + t;
      }
    }
  }
  return x;
}

std::vector<std::vector<C>> spectra(const GImage& image) {
  const int w = image.width(), h = image.height();
  int m = 2;
  while (m < h) m *= 2;
  const double step = kTwoPi / (h - 1);
  std::vector<std::vector<C>> out(w);
  for (int x = 0; x < w; ++x) {
    std::vector<C> signal(m);
    for (int i = 0; i < m; ++i) {
      const int r = i < h ? i : i - h;
      const double window = (1.0 - std::cos(r * step)) * 0.5;
      const double value = (x == 0 || x == w - 1)
                               ? image.at(x, r)
                               : (image.at(x - 1, r) + image.at(x, r) + image.at(x + 1, r)) * (1.0 / 3.0);
      signal[i] = C(value * window, 0.0);
    }
    out[x] = transform(signal, 1.0);
  }
  return out;
}

int correlationShift(const std::vector<C>& r, const std::vector<C>& im) {
  const int n = static_cast<int>(r.size());
  const int half = n / 2;
  const double den = 2.0 * 20.0 * 20.0 / half / half;
  std::vector<C> p(n);
  for (int k = 0; k < n; ++k) {
    C v = r[k] * std::conj(im[k]);
    v = v / C(std::hypot(v.real(), v.imag()) + 2.2204e-16, 0.0);
    const double f = (k < half ? k : k - n) / static_cast<double>(half);
    p[k] = v * C(std::exp(-f * f / den), 0.0);
  }
  const std::vector<C> c = transform(p, -1.0);
  double best = 0.0;
  int lag = 0;
  for (int k = 0; k < n; ++k) {
    const C v = c[k] / C(n, 0.0);
    const double magnitude = std::hypot(v.real(), v.imag());
    if (magnitude > best) {
      best = magnitude;
      lag = k;
    }
  }
  return lag > n / 2 ? lag - n : lag;
}

double nth(std::vector<double> window, int index) {
  std::nth_element(window.begin(), window.begin() + index, window.end());
  return window[index];
}

void running15(Profile& s) {
  const int n = static_cast<int>(s.size());
  for (int x = 7; x + 7 < n; ++x) s[x] = nth(Profile(s.begin() + x - 7, s.begin() + x + 8), 7);
}

void outliers25(Profile& s) {
  const Profile snapshot = s;
  const int n = static_cast<int>(s.size());
  for (int x = 12; x + 12 < n; ++x) {
    const double m = nth(Profile(snapshot.begin() + x - 12, snapshot.begin() + x + 13), 12);
    if (std::abs(snapshot[x] - m) > 20.0) s[x] = m;
  }
}

Profile edges(const GImage& image) {
  Profile e(image.width(), 0.0);
  for (int x = 0; x < image.width(); ++x) {
    for (int y = 0; y < image.height(); ++y) {
      if (image.at(x, y) >= 200) {
        e[x] = y;
        break;
      }
    }
  }
  return e;
}

struct Result {
  GImage merged;
  std::vector<Profile> shifts;  // per further frame
};

Result merge(const std::vector<GImage>& frames, bool correlation) {
  const GImage& ref = frames[0];
  const int w = ref.width(), h = ref.height();
  std::vector<double> sum(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) sum[y * w + x] = ref.at(x, y);
  }
  const auto refSpectra = correlation ? spectra(ref) : std::vector<std::vector<C>>{};
  const Profile refEdges = edges(ref);
  Result result;
  for (std::size_t j = 1; j < frames.size(); ++j) {
    const GImage& image = frames[j];
    Profile s(w);
    if (correlation) {
      const auto imageSpectra = spectra(image);
      for (int x = 0; x < w; ++x) s[x] = correlationShift(refSpectra[x], imageSpectra[x]);
      running15(s);
    } else {
      const Profile e = edges(image);
      for (int x = 0; x < w; ++x) s[x] = refEdges[x] - e[x];
      running15(s);
      outliers25(s);
    }
    for (int x = 0; x < w; ++x) {
      for (int y = 0; y < h; ++y) {
        const int src = y - static_cast<int>(s[x]);
        if (src >= 0 && src < h) sum[y * w + x] += image.at(x, src);
      }
    }
    result.shifts.push_back(s);
  }
  result.merged = GImage(w, h, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      result.merged.at(x, y) = static_cast<unsigned char>(
          std::min(255.0, std::round(sum[y * w + x] / static_cast<double>(frames.size()))));
    }
  }
  return result;
}

}  // namespace plain

namespace {

struct Series {
  testutil::ScratchFolder folder;
  std::vector<std::string> files;
  std::vector<GImage> frames;
};

// Writes the simulated series to disk the way a user would receive it.
void writeSeries(const BScanSimulator& sim, Series& series) {
  lumifold::writeSeries(sim, series.folder.path().string());
  for (int i = 0; i < sim.parameters().frames; ++i) {
    series.files.push_back(series.folder.file(lumifold::frameFileName(i, sim.parameters().frames)));
    series.frames.push_back(sim.frame(i));
  }
}

struct Observed {
  GImage merged;
  std::map<int, RowVector> shifts;
};

Observed runMerger(const std::vector<std::string>& files, bool correlation) {
  Merger merger(files);
  Observed observed;
  merger.setShiftObserver([&](int index, const RowVector& s) { observed.shifts[index] = s; });
  observed.merged = correlation ? merger.mergeByCorrelation() : merger.mergeByAnteriorEdge();
  return observed;
}

}  // namespace

TEST(MergerSimulated, EqualsPlainComputationOfBothMethods) {
  SimulationParameters p;
  p.width = 150;
  p.height = 120;
  p.frames = 5;
  p.maxShift = 9;
  p.seed = 3;
  p.motion = Motion::Mixed;
  p.section = lumifold::Section::Classic;  // the series this comparison has always run on
  const BScanSimulator sim(p);
  Series series;
  writeSeries(sim, series);

  for (bool correlation : {true, false}) {
    const plain::Result expected = plain::merge(series.frames, correlation);
    const Observed actual = runMerger(series.files, correlation);
    ASSERT_EQ(actual.shifts.size(), 4u);
    for (int j = 1; j < p.frames; ++j) {
      for (int x = 0; x < p.width; ++x) {
        ASSERT_EQ(actual.shifts.at(j)[x], expected.shifts[j - 1][x]) << "frame " << j << " column " << x;
      }
    }
    for (int y = 0; y < p.height; ++y) {
      for (int x = 0; x < p.width; ++x) {
        ASSERT_EQ(actual.merged.at(x, y), expected.merged.at(x, y)) << correlation << " at " << x << "," << y;
      }
    }
  }
}

namespace {

struct RecoveryCase {
  Motion motion;
  // Least share of interior columns whose shift must be exact, and within
  // one row of the truth, for each method; a little under what was measured.
  double correlationExact, correlationWithinOne;
  double edgeExact, edgeWithinOne;
};

void PrintTo(const RecoveryCase& c, std::ostream* os) { *os << lumifold::motionName(c.motion); }

class MergerRecovery : public testing::TestWithParam<RecoveryCase> {};

struct Recovery {
  double exact = 0.0;
  double withinOne = 0.0;
};

// Interior columns lie 12 or more columns from either side, where both
// median passes have full windows.
Recovery recovery(const std::map<int, RowVector>& shifts, const BScanSimulator& sim) {
  const int w = sim.parameters().width;
  long exact = 0, withinOne = 0, count = 0;
  for (const auto& [index, s] : shifts) {
    const RowVector truth = sim.trueShifts(index);
    for (int x = 12; x < w - 12; ++x) {
      ++count;
      exact += s[x] == truth[x];
      withinOne += std::abs(s[x] - truth[x]) <= 1.0;
    }
  }
  return {static_cast<double>(exact) / count, static_cast<double>(withinOne) / count};
}

// Root mean square distance from the noise-free section over the rows that
// stay inside every moved frame.
double distance(const GImage& image, const velIPL::DImage& section, int margin) {
  double sum = 0.0;
  long count = 0;
  for (int y = margin; y < image.height() - margin; ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const double d = image.at(x, y) - section.at(x, y);
      sum += d * d;
      ++count;
    }
  }
  return std::sqrt(sum / count);
}

}  // namespace

TEST_P(MergerRecovery, RecoversTrueShiftsOfAClinicalSizeSeries) {
  const RecoveryCase& c = GetParam();
  SimulationParameters p;  // 512 x 496, shifts up to 12 rows
  p.frames = 6;
  p.seed = 11;
  p.motion = c.motion;
  // The limits were measured on the classic section; on the calibrated one
  // single columns are as noisy as real scans' (docs/simulator.md).
  p.section = lumifold::Section::Classic;
  const BScanSimulator sim(p);
  Series series;
  writeSeries(sim, series);
  const velIPL::DImage section = sim.noiseFreeSection();
  const double single = distance(series.frames[0], section, p.maxShift);

  const Observed correlation = runMerger(series.files, true);
  const Recovery rc = recovery(correlation.shifts, sim);
  const Observed edge = runMerger(series.files, false);
  const Recovery re = recovery(edge.shifts, sim);
  std::printf("[ figures  ] %s: correlation exact %.4f within one %.4f; anterior edge exact %.4f within one %.4f; "
              "rms to noise-free: frame 0 %.2f, correlation %.2f, anterior edge %.2f\n",
              std::string(lumifold::motionName(c.motion)).c_str(), rc.exact, rc.withinOne, re.exact,
              re.withinOne, single, distance(correlation.merged, section, p.maxShift),
              distance(edge.merged, section, p.maxShift));

  EXPECT_GE(rc.exact, c.correlationExact);
  EXPECT_GE(rc.withinOne, c.correlationWithinOne);
  EXPECT_GE(re.exact, c.edgeExact);
  EXPECT_GE(re.withinOne, c.edgeWithinOne);
  // Six registered frames cut the speckle well below a single frame's.
  EXPECT_LT(distance(correlation.merged, section, p.maxShift), 0.6 * single);
}

INSTANTIATE_TEST_SUITE_P(Motions, MergerRecovery,
                         testing::Values(RecoveryCase{Motion::Global, 0.98, 0.99, 0.98, 0.99},
                                         RecoveryCase{Motion::Tilt, 0.91, 0.99, 0.45, 0.97},
                                         RecoveryCase{Motion::Mixed, 0.60, 0.97, 0.30, 0.82}),
                         [](const testing::TestParamInfo<RecoveryCase>& info) {
                           return std::string(lumifold::motionName(info.param.motion));
                         });
