#include "sim/bscan_simulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "sim/random_stream.h"
#include "test_util.h"

using lumifold::BScanSimulator;
using lumifold::Motion;
using lumifold::motionFromName;
using lumifold::motionName;
using lumifold::RandomStream;
using lumifold::SimulationParameters;
using mathORN::RowVector;
using velIPL::DImage;
using velIPL::GImage;

namespace {

SimulationParameters small(Motion motion, int frames = 4) {
  SimulationParameters p;
  p.width = 96;
  p.height = 80;
  p.frames = frames;
  p.maxShift = 6;
  p.motion = motion;
  p.seed = 42;
  return p;
}

}  // namespace

TEST(RandomStream, StreamsAreReproducibleAndDistinct) {
  RandomStream a(7, {1, 2});
  RandomStream b(7, {1, 2});
  RandomStream swapped(7, {2, 1});
  RandomStream other(8, {1, 2});
  bool differsSwapped = false;
  bool differsSeed = false;
  for (int i = 0; i < 16; ++i) {
    const std::uint64_t x = a.next();
    EXPECT_EQ(x, b.next());
    differsSwapped |= x != swapped.next();
    differsSeed |= x != other.next();
  }
  EXPECT_TRUE(differsSwapped);
  EXPECT_TRUE(differsSeed);

  double sum = 0.0;
  bool sawLow = false, sawHigh = false;
  for (int i = 0; i < 100000; ++i) {
    const double u = a.open();
    ASSERT_GT(u, 0.0);
    ASSERT_LT(u, 1.0);
    sum += u;
    const int k = a.integer(-2, 2);
    ASSERT_GE(k, -2);
    ASSERT_LE(k, 2);
    sawLow |= k == -2;
    sawHigh |= k == 2;
  }
  EXPECT_NEAR(sum / 100000, 0.5, 0.005);
  EXPECT_TRUE(sawLow && sawHigh);
}

TEST(BScanSimulator, SameParametersGiveSameSeries) {
  const BScanSimulator a(small(Motion::Mixed));
  const BScanSimulator b(small(Motion::Mixed));
  // Frames can be made in any order.
  const GImage third = a.frame(3);
  EXPECT_TRUE(testutil::samePixels(a.frame(1), b.frame(1)));
  EXPECT_TRUE(testutil::samePixels(third, b.frame(3)));
  EXPECT_FALSE(testutil::samePixels(a.frame(1), a.frame(2)));  // speckle differs per frame

  SimulationParameters otherSeed = small(Motion::Mixed);
  otherSeed.seed = 43;
  EXPECT_FALSE(testutil::samePixels(a.frame(0), BScanSimulator(otherSeed).frame(0)));

  const GImage f = a.frame(0);
  EXPECT_EQ(f.width(), 96);
  EXPECT_EQ(f.height(), 80);
}

TEST(BScanSimulator, ShiftsFollowTheMotionKindWithinTheBound) {
  for (Motion motion : {Motion::None, Motion::Global, Motion::Tilt, Motion::Jitter, Motion::Mixed}) {
    SimulationParameters p = small(motion, 12);
    p.width = 400;
    const BScanSimulator sim(p);
    bool anyMoved = false;
    for (int i = 0; i < p.frames; ++i) {
      const RowVector s = sim.trueShifts(i);
      ASSERT_EQ(s.size(), p.width);
      for (int x = 0; x < p.width; ++x) {
        ASSERT_EQ(s[x], std::round(s[x]));
        ASSERT_LE(std::abs(s[x]), p.maxShift) << motionName(motion);
        if (i == 0 || motion == Motion::None) {
          ASSERT_EQ(s[x], 0.0) << motionName(motion);
        }
        anyMoved |= s[x] != 0.0;
        if (x > 0 && motion == Motion::Global) {
          ASSERT_EQ(s[x], s[x - 1]);
        }
        if (x > 0 && motion == Motion::Tilt) {
          ASSERT_LE(std::abs(s[x] - s[x - 1]), 1.0);
        }
      }
    }
    EXPECT_EQ(anyMoved, motion != Motion::None) << motionName(motion);
  }
}

TEST(BScanSimulator, FrameShowsSectionMovedByTrueShift) {
  // Frame row y - s[x] carries the section's row y: the squared distance to
  // the noise-free section is smallest at the true shift, not at a row
  // either side of it or with the sign turned.
  SimulationParameters p = small(Motion::Tilt, 6);
  p.width = 128;
  p.height = 128;
  p.maxShift = 10;
  const BScanSimulator sim(p);
  const DImage section = sim.noiseFreeSection();
  for (int i = 1; i < p.frames; ++i) {
    const GImage f = sim.frame(i);
    const RowVector s = sim.trueShifts(i);
    auto distance = [&](int delta, int sign) {
      double sum = 0.0;
      for (int x = 0; x < p.width; ++x) {
        const int shift = sign * static_cast<int>(s[x]) + delta;
        for (int y = 12; y < p.height - 12; ++y) {
          const int src = y - shift;
          if (src < 0 || src >= p.height) continue;
          const double d = f.at(x, src) - section.at(x, y);
          sum += d * d;
        }
      }
      return sum;
    };
    const double truth = distance(0, 1);
    EXPECT_LT(truth, distance(1, 1)) << i;
    EXPECT_LT(truth, distance(-1, 1)) << i;
    bool anyNonZero = false;
    for (int x = 0; x < p.width; ++x) anyNonZero |= s[x] != 0.0;
    if (anyNonZero) {
      EXPECT_LT(truth, distance(0, -1)) << i;
    }
  }
}

TEST(BScanSimulator, NoiseFreeSectionIsTheMeanOfManyFrames) {
  for (const lumifold::Section section : {lumifold::Section::Calibrated, lumifold::Section::Classic}) {
    SCOPED_TRACE(lumifold::sectionName(section));
    SimulationParameters p = small(Motion::None, 400);
    p.width = 48;
    p.height = 64;
    p.section = section;
    const BScanSimulator sim(p);
    const DImage expected = sim.noiseFreeSection();
    std::vector<double> sum(static_cast<std::size_t>(p.width) * p.height, 0.0);
    for (int i = 0; i < p.frames; ++i) {
      const GImage f = sim.frame(i);
      for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) sum[y * p.width + x] += f.at(x, y);
      }
    }
    double bias = 0.0, squares = 0.0;
    for (int y = 0; y < p.height; ++y) {
      for (int x = 0; x < p.width; ++x) {
        const double d = sum[y * p.width + x] / p.frames - expected.at(x, y);
        bias += d;
        squares += d * d;
      }
    }
    const double n = p.width * p.height;
    // Speckle spreads a pixel by 30 to 40 grey levels: 400 frames leave 2.
    EXPECT_LT(std::sqrt(squares / n), 2.6);
    EXPECT_LT(std::abs(bias / n), 0.25);
  }
}

TEST(BScanSimulator, ExpectedGreyLiesWellBelowTheGreyOfTheMeanIntensity) {
  EXPECT_EQ(BScanSimulator::expectedGrey(0.0), 0.0);
  EXPECT_EQ(BScanSimulator::greyOf(0.0), 0);
  double previous = 0.0;
  for (double mu = 1e-6; mu < 1e4; mu *= 1.5) {
    const double e = BScanSimulator::expectedGrey(mu);
    ASSERT_GE(e, previous);
    ASSERT_LE(e, 255.0);
    previous = e;
  }
  EXPECT_GT(BScanSimulator::expectedGrey(1e6), 254.9);
  // In the unclipped range, log compression of exponential speckle lowers
  // the mean by Euler's constant times the gain: 18 grey levels in the
  // classic section, 15 in the calibrated one.
  for (const lumifold::Section section : {lumifold::Section::Classic, lumifold::Section::Calibrated}) {
    for (double mu : {0.02, 0.1, 0.3}) {
      EXPECT_LT(BScanSimulator::expectedGrey(mu, section), BScanSimulator::greyOf(mu, section) - 12.0) << mu;
    }
  }
}

TEST(BScanSimulator, RefusesParametersOutOfRange) {
  auto refuses = [](auto change) {
    SimulationParameters p = small(Motion::Mixed);
    change(p);
    EXPECT_THROW(BScanSimulator{p}, std::invalid_argument);
  };
  refuses([](SimulationParameters& p) { p.frames = 0; });
  refuses([](SimulationParameters& p) { p.width = 0; });
  refuses([](SimulationParameters& p) { p.width = 5000; });
  refuses([](SimulationParameters& p) { p.height = 1; });
  refuses([](SimulationParameters& p) { p.maxShift = -1; });
  refuses([](SimulationParameters& p) { p.maxShift = 41; });
  refuses([](SimulationParameters& p) { p.noise = -0.5; });
  refuses([](SimulationParameters& p) { p.noise = std::numeric_limits<double>::quiet_NaN(); });

  const BScanSimulator sim(small(Motion::Mixed));
  EXPECT_THROW(sim.frame(-1), std::out_of_range);
  EXPECT_THROW(sim.frame(4), std::out_of_range);
  EXPECT_THROW(sim.trueShifts(4), std::out_of_range);

  // The smallest sizes still make a frame.
  SimulationParameters tiny = small(Motion::Mixed);
  tiny.width = 1;
  tiny.height = 2;
  tiny.maxShift = 1;
  EXPECT_EQ(BScanSimulator(tiny).frame(3).height(), 2);
}

TEST(BScanSimulator, MotionAndSectionNamesRoundTrip) {
  for (Motion m : {Motion::None, Motion::Global, Motion::Tilt, Motion::Jitter, Motion::Mixed}) {
    EXPECT_EQ(motionFromName(motionName(m)), m);
  }
  EXPECT_EQ(motionName(Motion::Tilt), "tilt");
  EXPECT_FALSE(motionFromName("Tilt").has_value());
  EXPECT_FALSE(motionFromName("").has_value());
  for (const lumifold::Section section : {lumifold::Section::Calibrated, lumifold::Section::Classic}) {
    EXPECT_EQ(lumifold::sectionFromName(lumifold::sectionName(section)), section);
  }
  EXPECT_FALSE(lumifold::sectionFromName("Classic").has_value());
}

TEST(BScanSimulator, BadFramesReplaceFramesAtKnownPlacesAndLeaveTheOthers) {
  SimulationParameters clean;
  clean.width = 96;
  clean.height = 80;
  clean.frames = 10;
  clean.seed = 4;
  clean.maxShift = 6;
  SimulationParameters bad = clean;
  bad.badFrames = {lumifold::BadFrame::Blink, lumifold::BadFrame::Section, lumifold::BadFrame::Lateral,
                   lumifold::BadFrame::Dropout};
  const BScanSimulator plain(clean), spoilt(bad);
  ASSERT_EQ(spoilt.badFrames().size(), 4u);
  const auto meanOf = [](const GImage& g) {
    double sum = 0.0;
    for (int y = 0; y < g.height(); ++y) {
      for (int x = 0; x < g.width(); ++x) sum += g.at(x, y);
    }
    return sum / (g.width() * g.height());
  };
  for (int i = 0; i < bad.frames; ++i) {
    const auto kind = spoilt.badFrame(i);
    const GImage a = plain.frame(i), b = spoilt.frame(i);
    if (kind != lumifold::BadFrame::Lateral) {
      EXPECT_EQ(spoilt.lateralShift(i), 0);
    }
    if (!kind) {
      EXPECT_TRUE(testutil::samePixels(a, b)) << i;
      continue;
    }
    EXPECT_NE(i, 0);
    EXPECT_FALSE(testutil::samePixels(a, b)) << i;
    // A blink leaves little above the noise of the vitreous (the top rows).
    if (kind == lumifold::BadFrame::Blink) {
      double vitreous = 0.0;
      for (int x = 0; x < a.width(); ++x) vitreous += a.at(x, 0) + a.at(x, 1);
      vitreous /= 2 * a.width();
      EXPECT_LT(meanOf(b) - vitreous, 0.3 * (meanOf(a) - vitreous));
    }
    if (kind == lumifold::BadFrame::Lateral) {
      EXPECT_GE(std::abs(spoilt.lateralShift(i)), 8);
    }
  }
  for (const auto& name : {"blink", "section", "lateral", "dropout"}) {
    EXPECT_EQ(lumifold::badFrameName(*lumifold::badFrameFromName(name)), name);
  }
  EXPECT_FALSE(lumifold::badFrameFromName("wink"));

  SimulationParameters slipping = clean;
  slipping.lateralSlip = 5;
  const BScanSimulator slips(slipping);
  EXPECT_EQ(slips.lateralShift(0), 0);
  bool moved = false;
  for (int i = 1; i < slipping.frames; ++i) {
    EXPECT_LE(std::abs(slips.lateralShift(i)), 5);
    moved = moved || slips.lateralShift(i) != 0;
  }
  EXPECT_TRUE(moved);
  slipping.badFrames.assign(10, lumifold::BadFrame::Blink);
  EXPECT_THROW(BScanSimulator{slipping}, std::invalid_argument);
}
