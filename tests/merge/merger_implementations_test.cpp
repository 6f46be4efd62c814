// The fast merge against the straightforward one on many simulated series
// from files: the merged images must agree byte for byte, and so must every
// shift profile, the progress calls and the way a merge fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "merge/column_transform.h"
#include "merge/merger.h"
#include "scratch_folder.h"
#include "sim/bscan_simulator.h"
#include "sim/series_writer.h"

using lumifold::BScanSimulator;
using lumifold::MergeProgress;
using lumifold::Merger;
using lumifold::Motion;
using lumifold::SimulationParameters;
using Implementation = lumifold::Merger::Implementation;
using mathORN::RowVector;
using velIPL::GImage;

namespace {

class RecordingProgress : public MergeProgress {
public:
  void start(int imageCount) override { calls.push_back(-imageCount); }
  void step() override { calls.push_back(0); }
  std::vector<int> calls;  // start(n) as -n, step() as 0
};

struct Outcome {
  GImage merged;
  std::vector<std::pair<int, std::vector<double>>> shifts;  // in the order the observer saw them
  std::vector<int> progress;
  std::string failure;  // exception type and message, empty when none
  int currentImage = -1;
};

Outcome run(const std::vector<std::string>& files, bool correlation, Implementation implementation,
            int threads = 0) {
  RecordingProgress progress;
  Merger merger(files, &progress);
  merger.setImplementation(implementation);
  merger.setThreads(threads);
  Outcome outcome;
  merger.setShiftObserver([&](int index, const RowVector& s) {
    outcome.shifts.emplace_back(index, std::vector<double>(s.data(), s.data() + s.size()));
  });
  try {
    outcome.merged = correlation ? merger.mergeByCorrelation() : merger.mergeByAnteriorEdge();
  } catch (const std::exception& e) {
    outcome.failure = std::string(typeid(e).name()) + ": " + e.what();
  }
  outcome.progress = progress.calls;
  outcome.currentImage = merger.currentImage();
  return outcome;
}

void expectSameOutcome(const Outcome& fast, const Outcome& plain, const std::string& what) {
  EXPECT_EQ(fast.failure, plain.failure) << what;
  EXPECT_EQ(fast.progress, plain.progress) << what;
  EXPECT_EQ(fast.currentImage, plain.currentImage) << what;
  ASSERT_EQ(fast.shifts.size(), plain.shifts.size()) << what;
  for (std::size_t j = 0; j < plain.shifts.size(); ++j) {
    ASSERT_EQ(fast.shifts[j].first, plain.shifts[j].first) << what;
    // Bit for bit: a shift table printed from the observer shows -0 and 0
    // differently.
    const std::vector<double>& a = fast.shifts[j].second;
    const std::vector<double>& b = plain.shifts[j].second;
    ASSERT_EQ(a.size(), b.size()) << what;
    ASSERT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(double)), 0)
        << what << ", image " << plain.shifts[j].first;
  }
  ASSERT_EQ(fast.merged.width(), plain.merged.width()) << what;
  ASSERT_EQ(fast.merged.height(), plain.merged.height()) << what;
  for (int y = 0; y < plain.merged.height(); ++y) {
    for (int x = 0; x < plain.merged.width(); ++x) {
      ASSERT_EQ(fast.merged.at(x, y), plain.merged.at(x, y)) << what << ", pixel " << x << ", " << y;
    }
  }
}

struct SeriesCase {
  int width;
  int height;
  int frames;
  int maxShift;
  Motion motion;
  std::uint64_t seed;
  double noise = 1.0;
  // Also merge frames that push the arithmetic to its corners: black,
  // saturated, the reference itself, and the reference moved by exactly
  // half the transform length.
  bool extremes = false;
};

void PrintTo(const SeriesCase& c, std::ostream* os) {
  *os << c.width << " x " << c.height << ", " << c.frames << " frames, " << lumifold::motionName(c.motion)
      << " up to " << c.maxShift << (c.extremes ? ", with extreme frames" : "");
}

// Writes the series, plus the extreme frames when asked; returns the paths
// in merge order.
std::vector<std::string> writeCase(const SeriesCase& c, const testutil::ScratchFolder& folder) {
  SimulationParameters p;
  p.width = c.width;
  p.height = c.height;
  p.frames = c.frames;
  p.maxShift = c.maxShift;
  p.motion = c.motion;
  p.seed = c.seed;
  p.noise = c.noise;
  p.section = lumifold::Section::Classic;  // the series these comparisons have always run on
  const BScanSimulator sim(p);
  lumifold::writeSeries(sim, folder.path().string());
  std::vector<std::string> files;
  for (int i = 0; i < c.frames; ++i) files.push_back(folder.file(lumifold::frameFileName(i, c.frames)));
  if (c.extremes) {
    const GImage reference = sim.frame(0);
    const int half = lumifold::transformLength(c.height) / 2;
    GImage halfway(c.width, c.height, 0);
    for (int y = 0; y < c.height; ++y) {
      const int from = ((y - half) % c.height + c.height) % c.height;
      for (int x = 0; x < c.width; ++x) halfway.at(x, y) = reference.at(x, from);
    }
    files.push_back(testutil::saveGrey(GImage(c.width, c.height, 0), folder.file("black.bmp")));
    files.push_back(testutil::saveGrey(GImage(c.width, c.height, 255), folder.file("white.bmp")));
    files.push_back(testutil::saveGrey(reference, folder.file("same.bmp")));
    files.push_back(testutil::saveGrey(halfway, folder.file("halfway.bmp")));
  }
  return files;
}

class MergerImplementations : public testing::TestWithParam<SeriesCase> {};

}  // namespace

TEST_P(MergerImplementations, FastEqualsStraightforwardByteForByte) {
  const SeriesCase& c = GetParam();
  testutil::ScratchFolder folder;
  const std::vector<std::string> files = writeCase(c, folder);
  for (bool correlation : {true, false}) {
    const Outcome plain = run(files, correlation, Implementation::Straightforward);
    ASSERT_EQ(plain.failure, "");
    // The engine's own thread count, one thread, and an odd share.
    for (const int threads : {0, 1, 3}) {
      const Outcome fast = run(files, correlation, Implementation::Fast, threads);
      std::ostringstream what;
      what << (correlation ? "correlation" : "anterior edge") << ", threads " << threads;
      expectSameOutcome(fast, plain, what.str());
    }
  }
}

// Heights that are powers of two and heights just above and below them,
// widths of 1 and 2, below the 15 of the running median and below the 25 of
// the outlier correction, around a batch of columns and clinical sizes;
// motions up to half the transform length.
INSTANTIATE_TEST_SUITE_P(
    Series, MergerImplementations,
    testing::Values(SeriesCase{1, 16, 5, 8, Motion::Global, 1, 1.0, true},
                    SeriesCase{2, 33, 5, 16, Motion::Mixed, 2, 1.0, true},
                    SeriesCase{1, 2, 4, 1, Motion::Global, 3},
                    SeriesCase{2, 3, 4, 1, Motion::Jitter, 4},
                    SeriesCase{3, 70, 6, 35, Motion::None, 5},
                    SeriesCase{5, 64, 5, 32, Motion::Mixed, 6, 1.0, true},
                    SeriesCase{8, 512, 4, 256, Motion::Mixed, 7, 1.0, true},
                    SeriesCase{9, 100, 5, 50, Motion::Tilt, 8},
                    SeriesCase{14, 128, 5, 64, Motion::Mixed, 9, 1.0, true},
                    SeriesCase{15, 17, 5, 8, Motion::Jitter, 10},
                    SeriesCase{17, 8, 5, 4, Motion::Global, 11, 1.0, true},
                    SeriesCase{20, 255, 5, 127, Motion::Mixed, 12, 0.0},
                    SeriesCase{24, 256, 5, 128, Motion::Mixed, 13, 1.0, true},
                    SeriesCase{25, 40, 5, 20, Motion::Global, 14},
                    SeriesCase{31, 257, 4, 128, Motion::Mixed, 15},
                    SeriesCase{33, 5, 5, 2, Motion::Jitter, 16},
                    SeriesCase{64, 96, 6, 12, Motion::Mixed, 17, 0.0},
                    SeriesCase{64, 513, 3, 256, Motion::Tilt, 18},
                    SeriesCase{100, 200, 4, 100, Motion::Jitter, 19},
                    SeriesCase{150, 120, 5, 9, Motion::Mixed, 20, 1.0, true},
                    SeriesCase{260, 64, 4, 32, Motion::Mixed, 21},
                    SeriesCase{512, 496, 4, 12, Motion::Mixed, 22},
                    SeriesCase{512, 496, 3, 248, Motion::Mixed, 23}),
    [](const testing::TestParamInfo<SeriesCase>& info) {
      const SeriesCase& c = info.param;
      std::ostringstream name;
      name << 'w' << c.width << "_h" << c.height << '_' << lumifold::motionName(c.motion) << c.maxShift
           << (c.extremes ? "_extremes" : "");
      return name.str();
    });

// A file that cannot be read, or whose size differs, ends both merges at
// the same image with the same exception, after the same progress calls.
TEST(MergerImplementations, FailAtTheSameFileAfterTheSameProgress) {
  testutil::ScratchFolder folder;
  SimulationParameters p;
  p.width = 40;
  p.height = 32;
  p.frames = 5;
  p.seed = 31;
  const BScanSimulator sim(p);
  lumifold::writeSeries(sim, folder.path().string());
  std::vector<std::string> good;
  for (int i = 0; i < p.frames; ++i) good.push_back(folder.file(lumifold::frameFileName(i, p.frames)));
  const std::string missing = folder.file("missing.bmp");
  const std::string notBmp = testutil::writeText(folder.file("text.bmp"), "not a bitmap");
  const std::string taller = testutil::saveGrey(GImage(40, 33, 9), folder.file("taller.bmp"));
  const std::string wider = testutil::saveGrey(GImage(41, 32, 9), folder.file("wider.bmp"));
  const std::string flat = testutil::saveGrey(GImage(40, 1, 9), folder.file("flat.bmp"));

  std::vector<std::vector<std::string>> lists;
  for (const std::string& bad : {missing, notBmp, taller, wider}) {
    for (int at : {1, 3, 5}) {
      std::vector<std::string> files = good;
      files.insert(files.begin() + at, bad);
      lists.push_back(files);
    }
  }
  lists.push_back({flat, good[0]});
  lists.push_back({missing});
  for (const auto& files : lists) {
    for (bool correlation : {true, false}) {
      const Outcome plain = run(files, correlation, Implementation::Straightforward);
      ASSERT_NE(plain.failure, "");
      const Outcome fast = run(files, correlation, Implementation::Fast);
      expectSameOutcome(fast, plain, plain.failure + (correlation ? ", correlation" : ", anterior edge"));
    }
  }
}

// Thirty more series of random sizes, motions and seeds, small enough to be
// quick: whatever the size, the two implementations agree.
TEST(MergerImplementations, AgreeOnRandomSmallSeries) {
  std::uint64_t state = 20240611;
  auto below = [&state](int n) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<int>((state >> 33) % static_cast<std::uint64_t>(n));
  };
  const Motion motions[] = {Motion::None, Motion::Global, Motion::Tilt, Motion::Jitter, Motion::Mixed};
  for (int round = 0; round < 30; ++round) {
    SeriesCase c{};
    c.width = 1 + below(round % 3 == 0 ? 30 : 90);
    c.height = 2 + below(round % 4 == 0 ? 8 : 200);
    c.frames = 2 + below(4);
    c.maxShift = below(c.height / 2 + 1);
    c.motion = motions[below(5)];
    c.seed = 100 + round;
    c.noise = below(3) == 0 ? 0.0 : 1.0;
    c.extremes = below(4) == 0;
    testutil::ScratchFolder folder;
    const std::vector<std::string> files = writeCase(c, folder);
    for (bool correlation : {true, false}) {
      const Outcome plain = run(files, correlation, Implementation::Straightforward);
      ASSERT_EQ(plain.failure, "");
      const Outcome fast = run(files, correlation, Implementation::Fast);
      std::ostringstream what;
      PrintTo(c, &what);
      what << (correlation ? ", correlation" : ", anterior edge");
      expectSameOutcome(fast, plain, what.str());
    }
  }
}
