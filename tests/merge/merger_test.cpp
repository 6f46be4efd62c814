#include "merge/merger.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "ipl/ipl_exception.h"
#include "math/math_exception.h"
#include "scratch_folder.h"
#include "test_util.h"

using lumifold::MergeProgress;
using lumifold::Merger;
using mathORN::RowVector;
using testutil::messageOf;
using testutil::saveGrey;
using testutil::ScratchFolder;
using velIPL::GImage;

namespace {

class RecordingProgress : public MergeProgress {
public:
  void start(int imageCount) override {
    maximum = imageCount;
    position = 0;
    positions.push_back(0);
  }
  void step() override { positions.push_back(++position); }

  int maximum = -1;
  int position = -1;
  std::vector<int> positions;
};

// Grey values that differ from pixel to pixel without any bright edge.
GImage texture(int width, int height, int seed, int ceiling = 190) {
  GImage image(width, height, 0);
  unsigned state = 2654435761u * static_cast<unsigned>(seed + 1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      image.at(x, y) = static_cast<unsigned char>((state >> 24) % static_cast<unsigned>(ceiling));
    }
  }
  return image;
}

// A copy of image with its content d rows lower; rows entering at the top
// take the value fill.
GImage movedDown(const GImage& image, int d, unsigned char fill) {
  GImage moved(image.width(), image.height(), fill);
  for (int y = 0; y < image.height(); ++y) {
    const int src = y - d;
    if (src < 0 || src >= image.height()) continue;
    for (int x = 0; x < image.width(); ++x) moved.at(x, y) = image.at(x, src);
  }
  return moved;
}

// An image with a bright edge at the given row of every column.
GImage withEdgeAt(int width, int height, int row) {
  GImage image = texture(width, height, row);
  for (int x = 0; x < width; ++x) image.at(x, row) = 230;
  return image;
}

using Method = GImage (Merger::*)();
const Method kMethods[] = {&Merger::mergeByCorrelation, &Merger::mergeByAnteriorEdge};

}  // namespace

TEST(Merger, SingleFileReturnsTheReference) {
  ScratchFolder folder;
  const GImage reference = texture(20, 16, 1);
  const std::vector<std::string> files = {saveGrey(reference, folder.file("a.bmp"))};
  for (Method method : kMethods) {
    RecordingProgress progress;
    Merger merger(files, &progress);
    EXPECT_TRUE(testutil::samePixels((merger.*method)(), reference));
    EXPECT_EQ(progress.maximum, 1);
    EXPECT_EQ(progress.positions, (std::vector<int>{0, 1}));
  }
}

TEST(Merger, IdenticalFilesReturnTheReferenceWithZeroShifts) {
  ScratchFolder folder;
  GImage reference = texture(40, 48, 2);
  for (int x = 0; x < 40; ++x) reference.at(x, 10 + x % 5) = 240;
  const std::string path = saveGrey(reference, folder.file("a.bmp"));
  const std::vector<std::string> files = {path, path, path};
  for (Method method : kMethods) {
    std::vector<int> seen;
    Merger merger(files);
    merger.setShiftObserver([&](int index, const RowVector& s) {
      seen.push_back(index);
      ASSERT_EQ(s.size(), 40);
      for (int x = 0; x < 40; ++x) EXPECT_EQ(s[x], 0.0);
    });
    EXPECT_TRUE(testutil::samePixels((merger.*method)(), reference));
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
    EXPECT_EQ(merger.currentImage(), 2);
  }
}

TEST(Merger, AverageDividesByCountWithHalvesRoundedUp) {
  // Two files of height 4, the image's edge one row above the reference's:
  // every shift is +1, so row 0 gets the reference alone (still divided by
  // 2) and row y >= 1 averages reference row y with image row y - 1.
  ScratchFolder folder;
  GImage reference(6, 4, 0);
  GImage image(6, 4, 0);
  const int refValues[4] = {3, 210, 1, 101};
  const int imgValues[4] = {220, 0, 100, 7};
  for (int x = 0; x < 6; ++x) {
    for (int y = 0; y < 4; ++y) {
      reference.at(x, y) = static_cast<unsigned char>(refValues[y] + x);
      image.at(x, y) = static_cast<unsigned char>(imgValues[y] + x);
    }
  }
  const std::vector<std::string> files = {saveGrey(reference, folder.file("r.bmp")),
                                          saveGrey(image, folder.file("i.bmp"))};
  Merger merger(files);
  RowVector observed;
  merger.setShiftObserver([&](int, const RowVector& s) { observed = s; });
  const GImage result = merger.mergeByAnteriorEdge();
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(observed[x], 1.0);
    EXPECT_EQ(result.at(x, 0), std::round(reference.at(x, 0) / 2.0)) << x;
    for (int y = 1; y < 4; ++y) {
      EXPECT_EQ(result.at(x, y), std::round((reference.at(x, y) + image.at(x, y - 1)) / 2.0)) << x << "," << y;
    }
  }
  // Halves round up: (3 + 0) / 2 gives 2 at column 0 ... and 1 / 2 gives 1.
  EXPECT_EQ(result.at(0, 0), 2);
  EXPECT_EQ(result.at(0, 2), 1);
}

TEST(Merger, ProgressStepsOncePerImageAndStopsWhereAFileFails) {
  ScratchFolder folder;
  const std::string a = saveGrey(texture(24, 20, 1), folder.file("a.bmp"));
  const std::string b = saveGrey(texture(24, 20, 2), folder.file("b.bmp"));
  const std::string c = saveGrey(texture(24, 20, 3), folder.file("c.bmp"));
  const std::string garbage = testutil::writeText(folder.file("g.bmp"), "this is not a bitmap at all");
  for (Method method : kMethods) {
    const std::vector<std::string> good = {a, b, c};
    RecordingProgress progress;
    Merger merger(good, &progress);
    (merger.*method)();
    EXPECT_EQ(progress.maximum, 3);
    EXPECT_EQ(progress.positions, (std::vector<int>{0, 1, 2, 3}));

    const std::vector<std::string> missing = {a, b, folder.file("missing.bmp"), c};
    RecordingProgress stopped;
    Merger failing(missing, &stopped);
    EXPECT_EQ(messageOf<velIPL::IPLException>([&] { (failing.*method)(); }), "Can't open image file");
    EXPECT_EQ(stopped.maximum, 4);
    EXPECT_EQ(stopped.position, 2);
    EXPECT_EQ(failing.currentImage(), 2);

    const std::vector<std::string> badReference = {garbage, a};
    RecordingProgress unstarted;
    Merger refused(badReference, &unstarted);
    EXPECT_EQ(messageOf<velIPL::IPLException>([&] { (refused.*method)(); }), "Not a bmp image");
    EXPECT_EQ(unstarted.position, 0);
    EXPECT_EQ(refused.currentImage(), 0);
  }
}

// The desktop program cancels a merge by throwing from its progress. The
// exception passes through as it is, at any call, whatever the reader and
// helper threads are doing then, and the same Merger merges in full after.
TEST(Merger, ProgressThatThrowsEndsTheMergeAndLeavesTheMergerUsable) {
  struct Stop {};
  class StoppingProgress : public MergeProgress {
  public:
    void start(int) override { count(); }
    void step() override { count(); }
    int stopAt = -1;  // calls counted from start() as 0
    int calls = 0;

  private:
    void count() {
      if (calls++ == stopAt) throw Stop{};
    }
  };

  ScratchFolder folder;
  std::vector<std::string> files;
  for (int i = 0; i < 5; ++i) {
    files.push_back(saveGrey(withEdgeAt(40, 48, 10 + i), folder.file("f" + std::to_string(i) + ".bmp")));
  }
  for (Method method : kMethods) {
    for (const auto implementation : {Merger::Implementation::Fast, Merger::Implementation::Straightforward}) {
      Merger undisturbed(files);
      undisturbed.setImplementation(implementation);
      const GImage expected = (undisturbed.*method)();
      for (int stopAt = 0; stopAt <= 5; ++stopAt) {
        StoppingProgress progress;
        progress.stopAt = stopAt;
        Merger merger(files, &progress);
        merger.setImplementation(implementation);
        EXPECT_THROW((merger.*method)(), Stop);
        EXPECT_EQ(progress.calls, stopAt + 1);
        progress.stopAt = -1;
        EXPECT_TRUE(testutil::samePixels((merger.*method)(), expected));
      }
    }
  }
}

TEST(Merger, SecondMergeOnTheSameObjectStartsAfresh) {
  ScratchFolder folder;
  const std::vector<std::string> files = {saveGrey(withEdgeAt(30, 40, 12), folder.file("a.bmp")),
                                          saveGrey(withEdgeAt(30, 40, 15), folder.file("b.bmp"))};
  for (Method method : kMethods) {
    Merger merger(files);
    const GImage first = (merger.*method)();
    EXPECT_TRUE(testutil::samePixels((merger.*method)(), first));
  }
}

TEST(Merger, RefusesImagesOfAnotherSizeBeforeAddingThem) {
  ScratchFolder folder;
  const std::string reference = saveGrey(withEdgeAt(32, 40, 10), folder.file("r.bmp"));
  const std::string taller = saveGrey(withEdgeAt(32, 41, 10), folder.file("tall.bmp"));
  const std::string shorter = saveGrey(withEdgeAt(32, 24, 10), folder.file("short.bmp"));
  const std::string wider = saveGrey(withEdgeAt(33, 40, 10), folder.file("wide.bmp"));
  const std::string narrower = saveGrey(withEdgeAt(31, 40, 10), folder.file("narrow.bmp"));
  const std::string same = saveGrey(withEdgeAt(32, 40, 12), folder.file("same.bmp"));
  const std::string kMessage = "Image has not same dimensions as reference image";

  for (const std::string& odd : {taller, shorter, wider, narrower}) {
    const std::vector<std::string> files = {reference, same, odd, same};
    RecordingProgress progress;
    Merger merger(files, &progress);
    EXPECT_EQ(messageOf<velIPL::IPLException>([&] { merger.mergeByCorrelation(); }), kMessage) << odd;
    EXPECT_EQ(progress.position, 2);
    EXPECT_EQ(merger.currentImage(), 2);
  }
  // The edge method reports a different width through its profile
  // difference, and a different height like the correlation.
  for (const std::string& odd : {wider, narrower}) {
    const std::vector<std::string> files = {reference, odd};
    Merger merger(files);
    EXPECT_EQ(messageOf<mathORN::MathException>([&] { merger.mergeByAnteriorEdge(); }),
              "Incompatible vector size");
    EXPECT_EQ(merger.currentImage(), 1);
  }
  for (const std::string& odd : {taller, shorter}) {
    const std::vector<std::string> files = {reference, odd};
    Merger merger(files);
    EXPECT_EQ(messageOf<velIPL::IPLException>([&] { merger.mergeByAnteriorEdge(); }), kMessage);
  }
}

TEST(Merger, RefusesSingleRowImagesForCorrelationAndEmptyLists) {
  ScratchFolder folder;
  GImage row(8, 1, 0);
  for (int x = 0; x < 8; ++x) row.at(x, 0) = static_cast<unsigned char>(20 * x + 1);
  const std::string path = saveGrey(row, folder.file("row.bmp"));
  const std::vector<std::string> files = {path, path};
  RecordingProgress progress;
  Merger merger(files, &progress);
  EXPECT_EQ(messageOf<velIPL::IPLException>([&] { merger.mergeByCorrelation(); }),
            "Image must have at least 2 rows");
  EXPECT_EQ(progress.position, 0);
  EXPECT_EQ(merger.currentImage(), 0);
  // The edge method needs no window: a single row averages like any image.
  EXPECT_TRUE(testutil::samePixels(merger.mergeByAnteriorEdge(), row));

  const std::vector<std::string> none;
  Merger empty(none);
  EXPECT_EQ(empty.currentImage(), -1);
  EXPECT_EQ(messageOf<velIPL::IPLException>([&] { empty.mergeByCorrelation(); }), "No image to merge");
  EXPECT_EQ(messageOf<velIPL::IPLException>([&] { empty.mergeByAnteriorEdge(); }), "No image to merge");
}

TEST(MergerCorrelation, ContentMovedDownGivesNegativeShifts) {
  ScratchFolder folder;
  const int w = 40, h = 64;
  GImage reference = texture(w, h, 5, 120);
  // Distinct structure: a bright band whose depth varies across columns.
  for (int x = 0; x < w; ++x) {
    for (int y = 20 + x % 7; y < 26 + x % 7; ++y) reference.at(x, y) = 250;
  }
  const GImage image = movedDown(reference, 3, 0);
  const std::vector<std::string> files = {saveGrey(reference, folder.file("r.bmp")),
                                          saveGrey(image, folder.file("i.bmp"))};
  Merger merger(files);
  RowVector s;
  merger.setShiftObserver([&](int, const RowVector& shifts) { s = shifts; });
  const GImage result = merger.mergeByCorrelation();
  for (int x = 0; x < w; ++x) EXPECT_EQ(s[x], -3.0) << x;
  // Reference row y is averaged with image row y + 3; the last three rows
  // have no source in the image.
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y < h; ++y) {
      const double sum = reference.at(x, y) + (y + 3 < h ? image.at(x, y + 3) : 0);
      ASSERT_EQ(result.at(x, y), std::round(sum / 2)) << x << "," << y;
    }
  }
}

TEST(MergerCorrelation, AllZeroImageAddsNothingButCounts) {
  ScratchFolder folder;
  const GImage reference = texture(30, 20, 7, 256);
  const std::vector<std::string> files = {saveGrey(reference, folder.file("r.bmp")),
                                          saveGrey(GImage(30, 20, 0), folder.file("z.bmp"))};
  Merger merger(files);
  RowVector s;
  merger.setShiftObserver([&](int, const RowVector& shifts) { s = shifts; });
  const GImage result = merger.mergeByCorrelation();
  for (int x = 0; x < 30; ++x) {
    EXPECT_EQ(s[x], 0.0);
    for (int y = 0; y < 20; ++y) ASSERT_EQ(result.at(x, y), std::round(reference.at(x, y) / 2.0));
  }
}

TEST(MergerAnteriorEdge, AlignsEdgesAndTrustsNeighboursOverLoneColumns) {
  ScratchFolder folder;
  const int w = 40, h = 60;
  const GImage reference = withEdgeAt(w, h, 40);
  const GImage lower = withEdgeAt(w, h, 43);
  // No pixel reaches 200 anywhere: every raw shift is 40 - 0, kept by both
  // passes since all columns agree.
  const GImage dark = texture(w, h, 9, 200);
  // Edge at row 40 in every column but one, far enough from both sides.
  GImage gap = withEdgeAt(w, h, 40);
  gap.at(20, 40) = 150;
  const std::vector<std::string> files = {
      saveGrey(reference, folder.file("r.bmp")), saveGrey(lower, folder.file("l.bmp")),
      saveGrey(dark, folder.file("d.bmp")), saveGrey(gap, folder.file("g.bmp"))};
  Merger merger(files);
  std::map<int, RowVector> shifts;
  merger.setShiftObserver([&](int index, const RowVector& s) { shifts[index] = s; });
  const GImage result = merger.mergeByAnteriorEdge();
  for (int x = 0; x < w; ++x) {
    EXPECT_EQ(shifts[1][x], -3.0) << x;
    EXPECT_EQ(shifts[2][x], 40.0) << x;
    EXPECT_EQ(shifts[3][x], 0.0) << x;
  }
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y < h; ++y) {
      double sum = reference.at(x, y) + gap.at(x, y);
      if (y + 3 < h) sum += lower.at(x, y + 3);
      if (y - 40 >= 0) sum += dark.at(x, y - 40);
      ASSERT_EQ(result.at(x, y), std::round(sum / 4)) << x << "," << y;
    }
  }
}

TEST(MergerAnteriorEdge, EdgelessImagesAverageUnshifted) {
  ScratchFolder folder;
  const GImage a = texture(20, 30, 1, 200);
  const GImage b = texture(20, 30, 2, 200);
  const std::vector<std::string> files = {saveGrey(a, folder.file("a.bmp")), saveGrey(b, folder.file("b.bmp"))};
  Merger merger(files);
  const GImage result = merger.mergeByAnteriorEdge();
  for (int x = 0; x < 20; ++x) {
    for (int y = 0; y < 30; ++y) ASSERT_EQ(result.at(x, y), std::round((a.at(x, y) + b.at(x, y)) / 2.0));
  }
}
