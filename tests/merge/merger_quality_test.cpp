// Frame quality in whole merges: measuring changes no result and both
// implementations measure alike; rejection drops exactly the simulated bad
// frames and leaves the merge of the good ones; another reference is the
// merge of the list with that frame first; sideways slips are undone.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <utility>
#include <vector>

#include "merge/merger.h"
#include "sim/bscan_simulator.h"

using lumifold::BadFrame;
using lumifold::BScanSimulator;
using lumifold::assessMerge;
using lumifold::FrameQuality;
using lumifold::ImageQuality;
using lumifold::MergeFrame;
using lumifold::Merger;
using lumifold::QualityFigures;
using lumifold::SimulationParameters;
using Implementation = lumifold::Merger::Implementation;
using velIPL::GImage;

namespace {

bool same(const GImage& a, const GImage& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y) {
    if (std::memcmp(a.row(y), b.row(y), static_cast<std::size_t>(a.width())) != 0) return false;
  }
  return true;
}

// Equal to the bit, NaN equal to NaN.
bool sameValue(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameMeasures(const FrameQuality& a, const FrameQuality& b) {
  return a.frame == b.frame && sameValue(a.keptShare, b.keptShare) && sameValue(a.peakRatio, b.peakRatio) &&
         sameValue(a.edgeShare, b.edgeShare) && sameValue(a.replacedShare, b.replacedShare) &&
         sameValue(a.relativeIntensity, b.relativeIntensity) && sameValue(a.weakestBand, b.weakestBand) &&
         sameValue(a.correlation, b.correlation) && sameValue(a.profileCorrelation, b.profileCorrelation) &&
         a.lateralShift == b.lateralShift && a.dropped == b.dropped && a.reason == b.reason;
}

std::vector<MergeFrame> framesOf(const BScanSimulator& sim) {
  std::vector<MergeFrame> frames;
  for (int i = 0; i < sim.parameters().frames; ++i) frames.emplace_back(sim.frame(i));
  return frames;
}

// The calibrated section at a clinical size: what the rules were set for
// on real scans.
SimulationParameters clinicalSeries(unsigned seed) {
  SimulationParameters p;
  p.width = 512;
  p.height = 496;
  p.frames = 12;
  p.seed = seed;
  p.maxShift = 8;
  return p;
}

SimulationParameters smallSeries(unsigned seed, lumifold::Section section = lumifold::Section::Calibrated) {
  SimulationParameters p;
  p.section = section;
  p.width = 160;
  p.height = 128;
  p.frames = 12;
  p.seed = seed;
  p.maxShift = 8;
  return p;
}

bool sameFigures(const QualityFigures& a, const QualityFigures& b) {
  return sameValue(a.snrDb, b.snrDb) && sameValue(a.cnr, b.cnr) && sameValue(a.enl, b.enl) &&
         sameValue(a.tissueMean, b.tissueMean) && sameValue(a.tissueDeviation, b.tissueDeviation) &&
         sameValue(a.backgroundMean, b.backgroundMean) && sameValue(a.backgroundDeviation, b.backgroundDeviation);
}

bool sameFigures(const ImageQuality& a, const ImageQuality& b) {
  return sameFigures(a.average, b.average) && sameFigures(a.reference, b.reference) &&
         sameValue(a.snrGainDb, b.snrGainDb) && a.regions.edges == b.regions.edges &&
         a.regions.tissueTop == b.regions.tissueTop && a.regions.homogeneous == b.regions.homogeneous;
}

struct Merged {
  GImage merged;
  std::vector<FrameQuality> observed;
  std::vector<FrameQuality> qualities;
  int reference = 0;
  ImageQuality figures;
  velIPL::DImage average;
};

Merged merge(const std::vector<MergeFrame>& frames, bool correlation, Implementation implementation,
          const Merger::QualityOptions* options, bool observe) {
  Merger merger(frames);
  merger.setImplementation(implementation);
  Merged run;
  if (observe) merger.setQualityObserver([&](const FrameQuality& q) { run.observed.push_back(q); });
  if (options) merger.setQualityOptions(*options);
  run.merged = correlation ? merger.mergeByCorrelation() : merger.mergeByAnteriorEdge();
  run.qualities = merger.frameQualities();
  run.reference = merger.referenceIndex();
  run.figures = merger.imageQuality();
  run.average = merger.average();
  return run;
}

}  // namespace

TEST(MergerQuality, MeasuringChangesNothingAndBothImplementationsMeasureAlike) {
  SimulationParameters p = smallSeries(3);
  p.badFrames = {BadFrame::Blink, BadFrame::Dropout};
  p.lateralSlip = 4;
  const std::vector<MergeFrame> frames = framesOf(BScanSimulator(p));
  // Frame 0 as the figures of a plain merge read it.
  const GImage first = BScanSimulator(p).frame(0);
  velIPL::DImage reference(first.width(), first.height(), 0.0);
  for (int y = 0; y < first.height(); ++y) {
    for (int x = 0; x < first.width(); ++x) reference.at(x, y) = first.at(x, y);
  }
  Merger::QualityOptions all;
  all.reject = true;
  all.reference = Merger::kAutoReference;
  all.lateral = true;
  for (const bool correlation : {true, false}) {
    SCOPED_TRACE(correlation ? "correlation" : "anterior edge");
    const Merged plain = merge(frames, correlation, Implementation::Straightforward, nullptr, false);
    for (const Merger::QualityOptions* options : std::initializer_list<const Merger::QualityOptions*>{nullptr, &all}) {
      const Merged literal = merge(frames, correlation, Implementation::Straightforward, options, true);
      const Merged fast = merge(frames, correlation, Implementation::Fast, options, true);
      if (!options) {
        EXPECT_TRUE(same(literal.merged, plain.merged));
      }
      // The merge's figures, taken from its running sum, are those of the
      // images of doubles.
      if (!options) {
        EXPECT_TRUE(sameFigures(literal.figures, assessMerge(literal.average, reference)));
      }
      EXPECT_TRUE(sameFigures(literal.figures, fast.figures));
      EXPECT_TRUE(same(literal.merged, fast.merged));
      EXPECT_EQ(literal.reference, fast.reference);
      ASSERT_EQ(literal.qualities.size(), static_cast<std::size_t>(p.frames - 1));
      ASSERT_EQ(literal.qualities.size(), fast.qualities.size());
      ASSERT_EQ(literal.observed.size(), literal.qualities.size());
      for (std::size_t i = 0; i < literal.qualities.size(); ++i) {
        EXPECT_TRUE(sameMeasures(literal.qualities[i], fast.qualities[i])) << i;
        EXPECT_EQ(literal.observed[i].frame, literal.qualities[i].frame);
      }
    }
  }
}

TEST(MergerQuality, RejectionDropsTheBadFramesAndMergesTheGoodOnes) {
  SimulationParameters p = clinicalSeries(5);
  p.badFrames = {BadFrame::Blink, BadFrame::Section, BadFrame::Lateral, BadFrame::Dropout};
  const BScanSimulator sim(p);
  const std::vector<MergeFrame> frames = framesOf(sim);
  std::vector<MergeFrame> good;
  for (int i = 0; i < p.frames; ++i) {
    if (!sim.badFrame(i)) good.push_back(frames[static_cast<std::size_t>(i)]);
  }
  Merger::QualityOptions reject;
  reject.reject = true;
  for (const bool correlation : {true, false}) {
    SCOPED_TRACE(correlation ? "correlation" : "anterior edge");
    const Merged run = merge(frames, correlation, Implementation::Fast, &reject, false);
    for (const FrameQuality& q : run.qualities) {
      EXPECT_EQ(q.dropped, sim.badFrame(q.frame).has_value()) << q.frame << " " << q.reason;
      EXPECT_EQ(q.reason.empty(), !q.dropped);
    }
    EXPECT_TRUE(same(run.merged, merge(good, correlation, Implementation::Fast, nullptr, false).merged));
  }
}

TEST(MergerQuality, AnotherReferenceMergesAsTheListWithItFirst) {
  const SimulationParameters p = smallSeries(9);
  const std::vector<MergeFrame> frames = framesOf(BScanSimulator(p));
  std::vector<MergeFrame> reordered{frames[4]};
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (i != 4) reordered.push_back(frames[i]);
  }
  Merger::QualityOptions given;
  given.reference = 4;
  for (const bool correlation : {true, false}) {
    const Merged run = merge(frames, correlation, Implementation::Straightforward, &given, false);
    EXPECT_EQ(run.reference, 4);
    EXPECT_TRUE(same(run.merged, merge(reordered, correlation, Implementation::Straightforward, nullptr, false).merged));
  }
  Merger::QualityOptions outside;
  outside.reference = 12;
  EXPECT_THROW(merge(frames, true, Implementation::Fast, &outside, false), std::invalid_argument);
}

TEST(MergerQuality, AutomaticReferenceAvoidsABlink) {
  SimulationParameters p = smallSeries(11);
  p.badFrames = {BadFrame::Blink};
  p.lateralSlip = 10;
  const BScanSimulator sim(p);
  std::vector<MergeFrame> frames = framesOf(sim);
  // The blink first, where it would be the reference by default.
  const int blink = sim.badFrames().front().first;
  std::swap(frames[0], frames[static_cast<std::size_t>(blink)]);
  Merger::QualityOptions auto_;
  auto_.reference = Merger::kAutoReference;
  EXPECT_NE(merge(frames, true, Implementation::Fast, &auto_, false).reference, 0);
}

TEST(MergerQuality, SlipsAreUndone) {
  const auto series = [](int slip) {
    SimulationParameters s = clinicalSeries(13);
    s.motion = lumifold::Motion::Global;
    s.lateralSlip = slip;
    return s;
  };
  Merger::QualityOptions lateral;
  lateral.lateral = true;
  // With nothing slipped the sideways search moves nothing, and the merge is
  // the plain one.
  const std::vector<MergeFrame> still = framesOf(BScanSimulator(series(0)));
  const Merged steady = merge(still, true, Implementation::Fast, &lateral, false);
  for (const FrameQuality& q : steady.qualities) EXPECT_EQ(q.lateralShift, 0) << q.frame;
  EXPECT_TRUE(same(steady.merged, merge(still, true, Implementation::Fast, nullptr, false).merged));

  // Slipped, each frame's estimate is its own estimate unslipped plus the
  // slip; a frame moves by its estimate or not at all, and the larger slips
  // move.
  const BScanSimulator truth(series(24));
  const Merged run = merge(framesOf(truth), true, Implementation::Fast, &lateral, false);
  int large = 0, moved = 0;
  for (const FrameQuality& q : run.qualities) {
    SCOPED_TRACE(q.frame);
    const int slip = truth.lateralShift(q.frame);
    EXPECT_LE(std::abs(q.lateralEstimate - (steady.qualities[&q - run.qualities.data()].lateralEstimate + slip)), 1);
    EXPECT_TRUE(q.lateralShift == 0 || q.lateralShift == q.lateralEstimate);
    large += std::abs(slip) >= 16 ? 1 : 0;
    moved += std::abs(slip) >= 16 && q.lateralShift != 0 ? 1 : 0;
  }
  EXPECT_GT(large, 0);
  EXPECT_EQ(moved, large);
}
