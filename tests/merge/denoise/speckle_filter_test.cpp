// The speckle filter: hostile sizes and values never crash it or give a
// value outside the frames' range; its result is the same for any threads
// and either implementation; it is the same picture at 16 bits as at 8;
// and on a simulated series it brings the merge nearer the noise-free
// section.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "merge/denoise/nonlocal_means.h"
#include "merge/denoise/speckle_filter.h"
#include "merge/fast/worker_pool.h"
#include "merge/merger.h"
#include "sim/bscan_simulator.h"
#include "test_util.h"

using lumifold::kSpeckleFilters;
using lumifold::Merger;
using velIPL::DImage;

namespace {

const lumifold::SpeckleFilter& filter() { return kSpeckleFilters[0]; }

enum class Content { Constant, Saturated, Extremes, Random };

DImage frameOf(int w, int h, Content content, double top, std::mt19937& rng) {
  DImage f(w, h, 0.0);
  std::uniform_int_distribution<int> any(0, static_cast<int>(top));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      switch (content) {
        case Content::Constant: f.at(x, y) = 77.0; break;
        case Content::Saturated: f.at(x, y) = top; break;
        case Content::Extremes: f.at(x, y) = (x + y) % 2 ? top : 0.0; break;
        case Content::Random: f.at(x, y) = any(rng); break;
      }
    }
  }
  return f;
}

// Merges of 5 simulated frames, 8-bit, or the same frames times 257 at 16 bits.
std::vector<lumifold::MergeFrame> simulatedFrames(bool sixteen) {
  lumifold::SimulationParameters p;
  p.frames = 5;
  p.width = 160;
  p.height = 120;
  p.maxShift = 6;
  p.seed = 5;
  const lumifold::BScanSimulator sim(p);
  std::vector<lumifold::MergeFrame> frames;
  for (int i = 0; i < p.frames; ++i) {
    const velIPL::GImage g = sim.frame(i);
    if (!sixteen) {
      frames.emplace_back(g);
      continue;
    }
    velIPL::G16Image deep(g.width(), g.height(), 0);
    for (int y = 0; y < g.height(); ++y) {
      for (int x = 0; x < g.width(); ++x) deep.at(x, y) = static_cast<std::uint16_t>(g.at(x, y) * 257);
    }
    frames.emplace_back(deep);
  }
  return frames;
}

}  // namespace

TEST(SpeckleFilter, HostileSizesAndValuesStayFiniteAndInRange) {
  const int sizes[][2] = {{1, 1}, {1, 40}, {40, 1}, {2, 2}, {3, 90}, {90, 3}, {33, 17}};
  const double tops[] = {255.0, 65535.0};
  std::mt19937 rng(3);
  lumifold::WorkerPool pool(3);
  for (const auto& size : sizes) {
    for (const double top : tops) {
      for (const Content content : {Content::Constant, Content::Saturated, Content::Extremes, Content::Random}) {
        for (const double strength : {0.0, filter().defaultStrength, lumifold::kMaxStrength, 1e9, -1.0}) {
          const int w = size[0], h = size[1];
          SCOPED_TRACE(::testing::Message() << w << " x " << h << ", top " << top << ", content "
                                            << static_cast<int>(content) << ", strength " << strength);
          auto f = filter().make(strength);
          const DImage reference = frameOf(w, h, content, top, rng);
          f->start(reference, pool);
          double lo = 0.0, hi = 0.0;
          for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
              lo = std::min(lo, reference.at(x, y));
              hi = std::max(hi, reference.at(x, y));
            }
          }
          for (int k = 0; k < 3; ++k) {
            const DImage frame = frameOf(w, h, k == 1 ? Content::Random : content, top, rng);
            // Some pixels not reached, as a registered frame's edge rows are not.
            std::vector<std::uint8_t> covered(static_cast<std::size_t>(w) * h, 1);
            for (std::size_t i = 0; i < covered.size(); i += 3 + k) covered[i] = 0;
            for (int y = 0; y < h; ++y) {
              for (int x = 0; x < w; ++x) {
                if (!covered[static_cast<std::size_t>(y) * w + x]) continue;
                lo = std::min(lo, frame.at(x, y));
                hi = std::max(hi, frame.at(x, y));
              }
            }
            f->add(frame, covered, pool);
          }
          const DImage out = f->finish(pool);
          ASSERT_EQ(out.width(), w);
          ASSERT_EQ(out.height(), h);
          for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
              const double v = out.at(x, y);
              ASSERT_TRUE(std::isfinite(v)) << x << "," << y;
              // Float sums may pass the range by a few units in the last place.
              ASSERT_GE(v, lo - 1e-3 * (1.0 + top / 255.0)) << x << "," << y;
              ASSERT_LE(v, hi + 1e-3 * (1.0 + top / 255.0)) << x << "," << y;
            }
          }
          EXPECT_GE(f->frameNoise(), 0.0);
        }
      }
    }
  }
  auto f = filter().make(1.0);
  f->start(DImage(4, 3, 1.0), pool);
  EXPECT_THROW(f->add(DImage(3, 4, 1.0), std::vector<std::uint8_t>(12, 1), pool), std::invalid_argument);
  EXPECT_THROW(lumifold::nonLocalMeans(DImage(4, 3, 0.0), DImage(3, 4, 0.0), {}, pool), std::invalid_argument);
}

TEST(SpeckleFilter, SameForAnyThreadsRunAndImplementation) {
  auto merge = [](Merger::Implementation implementation, int threads, bool anteriorEdge) {
    Merger merger(simulatedFrames(false));
    merger.setImplementation(implementation);
    merger.setThreads(threads);
    merger.setSpeckleFilter(&filter(), filter().defaultStrength);
    return anteriorEdge ? merger.mergeByAnteriorEdge() : merger.mergeByCorrelation();
  };
  for (const bool edge : {false, true}) {
    const velIPL::GImage first = merge(Merger::Implementation::Fast, 1, edge);
    EXPECT_TRUE(testutil::samePixels(first, merge(Merger::Implementation::Fast, 1, edge)));
    EXPECT_TRUE(testutil::samePixels(first, merge(Merger::Implementation::Fast, 3, edge)));
    EXPECT_TRUE(testutil::samePixels(first, merge(Merger::Implementation::Straightforward, 0, edge)));
  }
}

TEST(SpeckleFilter, SixteenBitSeriesGivesTheEightBitPictureScaled) {
  auto average = [](bool sixteen) {
    Merger merger(simulatedFrames(sixteen));
    merger.setSpeckleFilter(&filter(), filter().defaultStrength);
    merger.mergeByCorrelation();
    EXPECT_EQ(merger.bitsPerSample(), sixteen ? 16 : 8);
    return merger.average();
  };
  const DImage eight = average(false);
  const DImage sixteen = average(true);
  double worst = 0.0;
  for (int y = 0; y < eight.height(); ++y) {
    for (int x = 0; x < eight.width(); ++x) worst = std::max(worst, std::fabs(sixteen.at(x, y) / 257.0 - eight.at(x, y)));
  }
  // Every scale comes from the measured noise, so only rounding differs.
  EXPECT_LT(worst, 0.05);
}

TEST(SpeckleFilter, BringsTheMergeNearerTheNoiseFreeSectionAndReportsIt) {
  lumifold::SimulationParameters p;
  p.frames = 4;
  p.width = 256;
  p.height = 200;
  p.seed = 9;
  const lumifold::BScanSimulator sim(p);
  const DImage section = sim.noiseFreeSection();
  std::vector<lumifold::MergeFrame> frames;
  for (int i = 0; i < p.frames; ++i) frames.emplace_back(sim.frame(i));
  auto rms = [&](const velIPL::GImage& g) {
    double sum = 0.0;
    for (int y = 0; y < g.height(); ++y) {
      for (int x = 0; x < g.width(); ++x) sum += (g.at(x, y) - section.at(x, y)) * (g.at(x, y) - section.at(x, y));
    }
    return std::sqrt(sum / (static_cast<double>(g.width()) * g.height()));
  };
  Merger plain(frames);
  const velIPL::GImage unfiltered = plain.mergeByCorrelation();
  EXPECT_EQ(plain.filterFigures().after.snrDb, 0.0);
  Merger filtered(frames);
  filtered.setSpeckleFilter(&filter(), filter().defaultStrength);
  const velIPL::GImage result = filtered.mergeByCorrelation();
  EXPECT_LT(rms(result), rms(unfiltered) / 1.5);
  const Merger::FilterFigures& f = filtered.filterFigures();
  EXPECT_GT(f.frameNoise, 0.0);
  EXPECT_GT(f.after.snrDb, f.before.snrDb);
  EXPECT_GT(f.after.cnr, f.before.cnr);
  // The figures before are the plain merge's.
  EXPECT_DOUBLE_EQ(f.before.snrDb, lumifold::measureQuality(plain.average(), lumifold::findQualityRegions(plain.average())).snrDb);
}
