// Matching frames by their 2-D structure on simulated frames: a slip is
// found with a confidence above the evidence, a frame in place gives none,
// and the fine structure tells a repeat from another section.
#include <gtest/gtest.h>

#include <cstdlib>

#include "merge/series_alignment.h"
#include "sim/bscan_simulator.h"

using lumifold::BadFrame;
using lumifold::BScanSimulator;
using lumifold::SimulationParameters;
using lumifold::StructureMatcher;

TEST(StructureMatcher, FindsSlipsAndTellsSections) {
  // The calibrated section at a clinical size: its structure runs along the
  // layers as real scans' does, so only the larger slips beat no slip
  // clearly, but every estimate moves with the slip.
  SimulationParameters p;
  p.width = 512;
  p.height = 496;
  p.frames = 3;
  p.maxShift = 6;
  p.motion = lumifold::Motion::Global;
  p.badFrames = {BadFrame::Section};
  const BScanSimulator sim(p);
  const int section = sim.badFrames().front().first;
  const int repeat = section == 1 ? 2 : 1;
  const velIPL::GImage reference = sim.frame(0), frame = sim.frame(repeat);
  const StructureMatcher matcher(reference);
  const int range = lumifold::lateralRange(p.width);

  const int unslipped = matcher.slip(frame, range, 0, 0.0).estimate;
  for (const int slip : {-24, -5, 0, 11, 20}) {
    SCOPED_TRACE(slip);
    // Column x - slip of the moved frame shows column x of the frame.
    const StructureMatcher::Slip s = matcher.slip(lumifold::shiftSideways(frame, -slip), range, 0, 0.0);
    // Judged on the same blocks whatever the slip: the estimate moves with it.
    EXPECT_EQ(s.estimate, unslipped + slip);
    if (slip == 0) {
      EXPECT_LT(s.confidence, lumifold::kSlipEvidence);
    }
    if (std::abs(slip) >= 20) {
      EXPECT_EQ(s.shift, s.estimate);
      EXPECT_GE(s.confidence, lumifold::kSlipEvidence);
    }
  }
  // A strong candidate from elsewhere is taken where the blocks allow it.
  EXPECT_EQ(matcher.slip(lumifold::shiftSideways(frame, -9), range, 9, 0.9).shift, 9);

  std::vector<double> a, b;
  const StructureMatcher::Match own = matcher.rigid(frame, &a);
  const StructureMatcher::Match other = matcher.rigid(sim.frame(section), &b);
  EXPECT_GT(own.correlation, 0.85);
  EXPECT_GT(own.detail, other.detail + 0.1);
  EXPECT_NEAR(StructureMatcher::detailCorrelation(a, a), 1.0, 1e-12);
  EXPECT_LT(StructureMatcher::detailCorrelation(a, b), own.detail);
}
