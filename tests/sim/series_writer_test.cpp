#include "sim/series_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ipl/ipl_exception.h"
#include "scratch_folder.h"
#include "test_util.h"

using lumifold::BScanSimulator;
using lumifold::frameFileName;
using lumifold::SimulationParameters;
using lumifold::writeSeries;
using velIPL::GImage;

TEST(SeriesWriter, FrameNamesSortInFrameOrder) {
  EXPECT_EQ(frameFileName(0, 8), "frame_000.bmp");
  EXPECT_EQ(frameFileName(7, 8), "frame_007.bmp");
  EXPECT_EQ(frameFileName(999, 1000), "frame_999.bmp");
  EXPECT_EQ(frameFileName(12, 1001), "frame_0012.bmp");
  EXPECT_EQ(frameFileName(1000, 1001), "frame_1000.bmp");
  EXPECT_LT(frameFileName(999, 1001), frameFileName(1000, 1001));
}

TEST(SeriesWriter, WritesFramesSectionAndTruthThatReadBack) {
  SimulationParameters p;
  p.width = 40;
  p.height = 36;
  p.frames = 3;
  p.maxShift = 5;
  const BScanSimulator sim(p);
  testutil::ScratchFolder folder;
  const std::string dir = folder.file("new/series");
  std::vector<std::string> announced;
  writeSeries(sim, dir, [&](const std::string& path) { announced.push_back(path); });

  ASSERT_EQ(announced.size(), 7u);
  EXPECT_EQ(announced[0], dir);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(announced[1 + i], dir + "/" + frameFileName(i, 3));
    const GImage read(announced[1 + i]);
    const GImage made = sim.frame(i);
    ASSERT_EQ(read.width(), 40);
    ASSERT_EQ(read.height(), 36);
    for (int y = 0; y < 36; ++y) {
      for (int x = 0; x < 40; ++x) ASSERT_EQ(read.at(x, y), made.at(x, y));
    }
  }
  EXPECT_EQ(announced[4], dir + "/truth");
  EXPECT_EQ(announced[5], dir + "/truth/noise_free.bmp");
  EXPECT_EQ(announced[6], dir + "/truth/truth.csv");
  // The series folder holds the frames alone, so merging it merges them all.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 4);
  const GImage section(dir + "/truth/noise_free.bmp");
  const velIPL::DImage expected = sim.noiseFreeSection();
  for (int y = 0; y < 36; ++y) {
    for (int x = 0; x < 40; ++x) ASSERT_EQ(section.at(x, y), std::round(expected.at(x, y)));
  }

  std::ifstream truth(dir + "/truth/truth.csv");
  std::string line;
  ASSERT_TRUE(std::getline(truth, line));
  EXPECT_EQ(line, "frame,column,shift");
  int lines = 0;
  while (std::getline(truth, line)) {
    std::istringstream fields(line);
    int frame = -1, column = -1, shift = 0;
    char comma1 = 0, comma2 = 0;
    fields >> frame >> comma1 >> column >> comma2 >> shift;
    ASSERT_EQ(frame, lines / 40);
    ASSERT_EQ(column, lines % 40);
    ASSERT_EQ(shift, sim.trueShifts(frame)[column]);
    ++lines;
  }
  EXPECT_EQ(lines, 3 * 40);
}

TEST(SeriesWriter, ReportsAFolderItCannotCreate) {
  SimulationParameters p;
  p.width = 8;
  p.height = 8;
  p.frames = 1;
  p.maxShift = 2;
  testutil::ScratchFolder folder;
  const std::string blocker = testutil::writeText(folder.file("file"), "x");
  std::string last;
  EXPECT_EQ(testutil::messageOf<velIPL::IPLException>([&] {
              writeSeries(BScanSimulator(p), blocker + "/series", [&](const std::string& path) { last = path; });
            }),
            "Can't create folder");
  EXPECT_EQ(last, blocker + "/series");
}
