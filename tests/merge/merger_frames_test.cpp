// Merges over frames: frames held in memory merge exactly as the same
// frames read from files, and a 16-bit series widened by 257 registers
// exactly as its 8-bit original while its sums keep the full values.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ipl/ipl_exception.h"
#include "merge/merge_frame.h"
#include "merge/merger.h"
#include "scratch_folder.h"
#include "sim/bscan_simulator.h"
#include "test_util.h"

using lumifold::MergeFrame;
using lumifold::MergeProgress;
using lumifold::Merger;
using Implementation = lumifold::Merger::Implementation;
using velIPL::G16Image;
using velIPL::GImage;

namespace {

class CountingProgress : public MergeProgress {
public:
  void start(int imageCount) override { calls.push_back(-imageCount); }
  void step() override { calls.push_back(0); }
  std::vector<int> calls;
};

struct Result {
  GImage merged;
  std::vector<std::vector<double>> shifts;
  std::vector<int> progress;
  velIPL::DImage average;
  G16Image average16;
  int bits = 0;
};

template <typename List>
Result mergeAll(const List& frames, bool correlation, Implementation implementation) {
  CountingProgress progress;
  Merger merger(frames, &progress);
  merger.setImplementation(implementation);
  Result r;
  merger.setShiftObserver([&](int, const mathORN::RowVector& s) { r.shifts.emplace_back(s.data(), s.data() + s.size()); });
  r.merged = correlation ? merger.mergeByCorrelation() : merger.mergeByAnteriorEdge();
  r.progress = progress.calls;
  r.average = merger.average();
  r.average16 = merger.average16();
  r.bits = merger.bitsPerSample();
  return r;
}

void expectSameImage(const GImage& a, const GImage& b, const std::string& what) {
  ASSERT_EQ(a.width(), b.width()) << what;
  ASSERT_EQ(a.height(), b.height()) << what;
  for (int y = 0; y < a.height(); ++y) {
    ASSERT_EQ(std::memcmp(a.row(y), b.row(y), static_cast<std::size_t>(a.width())), 0) << what << ", row " << y;
  }
}

void expectSameShifts(const Result& a, const Result& b, const std::string& what) {
  ASSERT_EQ(a.shifts.size(), b.shifts.size()) << what;
  for (std::size_t j = 0; j < a.shifts.size(); ++j) {
    ASSERT_EQ(std::memcmp(a.shifts[j].data(), b.shifts[j].data(), a.shifts[j].size() * sizeof(double)), 0)
        << what << ", frame " << j + 1;
  }
}

G16Image widened(const GImage& image) {
  G16Image wide(image.width(), image.height(), 0);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) wide.at(x, y) = static_cast<std::uint16_t>(image.at(x, y) * 257);
  }
  return wide;
}

lumifold::BScanSimulator series() {
  lumifold::SimulationParameters p;
  p.width = 96;
  p.height = 80;
  p.frames = 6;
  p.maxShift = 6;
  p.seed = 15;
  return lumifold::BScanSimulator(p);
}

}  // namespace

TEST(MergerFrames, FramesInMemoryAndBorrowedMergeAsTheirFilesAndWidenedFramesKeepTheirShifts) {
  const lumifold::BScanSimulator sim = series();
  testutil::ScratchFolder folder;
  std::vector<std::string> files;
  std::vector<MergeFrame> eight;
  std::vector<MergeFrame> sixteen;
  // Borrowed pixels: the 8-bit frames in rows padded by 3 bytes, the
  // 16-bit ones stored column after column.
  const int w = sim.parameters().width, h = sim.parameters().height;
  std::vector<std::vector<unsigned char>> padded;
  std::vector<std::vector<std::uint16_t>> columns;
  std::vector<MergeFrame> borrowed8;
  std::vector<MergeFrame> borrowed16;
  for (int i = 0; i < sim.parameters().frames; ++i) {
    const GImage frame = sim.frame(i);
    files.push_back(testutil::saveGrey(frame, folder.file(std::to_string(i).insert(0, "f") + ".bmp")));
    eight.emplace_back(frame);
    sixteen.emplace_back(widened(frame));
    std::vector<unsigned char>& rows = padded.emplace_back(static_cast<std::size_t>((w + 3) * h), 0);
    std::vector<std::uint16_t>& cols = columns.emplace_back(static_cast<std::size_t>(w * h), 0);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        rows[static_cast<std::size_t>(y * (w + 3) + x)] = frame.at(x, y);
        cols[static_cast<std::size_t>(x * h + y)] = static_cast<std::uint16_t>(frame.at(x, y) * 257);
      }
    }
    borrowed8.emplace_back(MergeFrame::Borrowed{rows.data(), w, h, w + 3, 1, 8});
    borrowed16.emplace_back(MergeFrame::Borrowed{reinterpret_cast<const unsigned char*>(cols.data()), w, h, 2,
                                                 2 * static_cast<std::ptrdiff_t>(h), 16});
  }
  for (bool correlation : {true, false}) {
    for (Implementation implementation : {Implementation::Straightforward, Implementation::Fast}) {
      const std::string what = std::string(correlation ? "correlation" : "anterior edge") +
                               (implementation == Implementation::Fast ? ", fast" : ", straightforward");
      const Result fromFiles = mergeAll(files, correlation, implementation);
      const Result inMemory = mergeAll(eight, correlation, implementation);
      const Result wide = mergeAll(sixteen, correlation, implementation);
      ASSERT_EQ(fromFiles.shifts.size(), 5u) << what;
      expectSameShifts(inMemory, fromFiles, what);
      expectSameImage(inMemory.merged, fromFiles.merged, what);
      EXPECT_EQ(inMemory.progress, fromFiles.progress) << what;
      EXPECT_EQ(fromFiles.bits, 8) << what;

      expectSameShifts(wide, fromFiles, what + ", 16-bit");
      expectSameImage(wide.merged, fromFiles.merged, what + ", 16-bit");
      EXPECT_EQ(wide.progress, fromFiles.progress) << what;
      EXPECT_EQ(wide.bits, 16) << what;

      const Result lent8 = mergeAll(borrowed8, correlation, implementation);
      const Result lent16 = mergeAll(borrowed16, correlation, implementation);
      expectSameShifts(lent8, fromFiles, what + ", borrowed");
      expectSameImage(lent8.merged, fromFiles.merged, what + ", borrowed");
      expectSameShifts(lent16, fromFiles, what + ", borrowed 16-bit");
      expectSameImage(lent16.merged, fromFiles.merged, what + ", borrowed 16-bit");
      EXPECT_EQ(lent16.bits, 16) << what;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) ASSERT_EQ(lent16.average16.at(x, y), wide.average16.at(x, y)) << what;
      }
      // The 16-bit grey is 257 times the unrounded 8-bit mean, rounded
      // (halves up): worked out exactly from the 8-bit sums.
      const int n = sim.parameters().frames;
      for (int y = 0; y < fromFiles.average.height(); ++y) {
        for (int x = 0; x < fromFiles.average.width(); ++x) {
          const long long sum8 = std::llround(fromFiles.average.at(x, y) * n);
          const long long expected = (2 * 257 * sum8 + n) / (2 * n);
          ASSERT_EQ(wide.average16.at(x, y), expected) << what << ", pixel " << x << ", " << y;
          ASSERT_EQ(fromFiles.average16.at(x, y), (2 * sum8 + n) / (2 * n)) << what;
          ASSERT_EQ(fromFiles.merged.at(x, y), fromFiles.average16.at(x, y)) << what;
        }
      }
    }
  }
}

TEST(MergerFrames, RefusesFramesOfAnotherDepthOrBeyondTheFile) {
  const GImage eight(16, 8, 100);
  const std::vector<MergeFrame> mixed{MergeFrame(widened(eight)), MergeFrame(eight)};
  testutil::ScratchFolder folder;
  const std::string file = testutil::saveGrey(eight, folder.file("one.bmp"));
  const std::vector<MergeFrame> beyond{MergeFrame(file, 0), MergeFrame(file, 1)};
  for (Implementation implementation : {Implementation::Straightforward, Implementation::Fast}) {
    for (bool correlation : {true, false}) {
      Merger depth(mixed);
      depth.setImplementation(implementation);
      EXPECT_EQ(testutil::messageOf<velIPL::IPLException>(
                    [&] { correlation ? depth.mergeByCorrelation() : depth.mergeByAnteriorEdge(); }),
                "Image has not same bit depth as reference image");
      EXPECT_EQ(depth.currentImage(), 1);
      Merger frames(beyond);
      frames.setImplementation(implementation);
      EXPECT_EQ(testutil::messageOf<velIPL::IPLException>(
                    [&] { correlation ? frames.mergeByCorrelation() : frames.mergeByAnteriorEdge(); }),
                "Frame index out of range");
      EXPECT_EQ(frames.currentImage(), 1);
    }
  }
}
