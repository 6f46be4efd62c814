// The command line's helpers, without the executable: output names, safe
// file replacement, shift tables, progress text and the scale chart.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/image_metrics.h"
#include "pipeline/output_name.h"
#include "cli/progress_reporter.h"
#include "pipeline/safe_file.h"
#include "cli/scale_chart.h"
#include "pipeline/shift_table.h"
#include "color/color_scales.h"
#include "cli_runner.h"
#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace {

using clitest::cliErrorOf;
using testutil::readAll;

TEST(OutputName, ReplacesTheExtensionOfTheFileName) {
  EXPECT_EQ(lumifold::bmpTargetName("result.png"), "result.bmp");
  EXPECT_EQ(lumifold::bmpTargetName("result"), "result.bmp");
  EXPECT_EQ(lumifold::bmpTargetName("scan.old"), "scan.bmp");
  EXPECT_EQ(lumifold::bmpTargetName("my.dir/result"), "my.dir/result.bmp");
  EXPECT_EQ(lumifold::bmpTargetName("/data/my.dir/scan.tar.gz"), "/data/my.dir/scan.tar.bmp");
  EXPECT_EQ(lumifold::bmpTargetName("result.BMP"), "result.bmp");
  EXPECT_EQ(lumifold::bmpTargetName("scan."), "scan.bmp");
  EXPECT_EQ(lumifold::bmpTargetName("./result"), "./result.bmp");
}

TEST(OutputName, ReportsTargetsThatCannotBeWritten) {
  const testutil::ScratchFolder dir;
  EXPECT_EQ(lumifold::outputProblem(dir.file("new.bmp")), "");
  EXPECT_EQ(lumifold::outputProblem(dir.file("missing/new.bmp")), "No such folder");
  EXPECT_EQ(lumifold::outputProblem(dir.path().string()), "Is a folder");
  EXPECT_EQ(lumifold::outputProblem(dir.path().string() + "/"), "Missing file name");
  std::ofstream(dir.file("plain")) << "x";
  EXPECT_EQ(lumifold::outputProblem(dir.file("plain/new.bmp")), "Not a folder");
  EXPECT_EQ(lumifold::outputProblem(dir.file("plain")), "");
  EXPECT_EQ(lumifold::outputProblem("/dev/null"), "");
  if (::geteuid() != 0) {
    fs::create_directory(dir.file("locked"));
    fs::permissions(dir.file("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(lumifold::outputProblem(dir.file("locked/new.bmp")), "Permission denied");
    fs::permissions(dir.file("locked"), fs::perms::owner_all);
  }
}

TEST(SafeFile, ReplacesWholeOrNotAtAll) {
  const testutil::ScratchFolder dir;
  const std::string file = dir.file("shifts.csv");
  lumifold::writeFileSafely(file, "first\n");
  EXPECT_EQ(readAll(file), "first\n");
  ::chmod(file.c_str(), 0640);
  lumifold::writeFileSafely(file, "second\n");
  EXPECT_EQ(readAll(file), "second\n");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "a replaced file keeps its permissions";

  // Through a link the target file changes and the link stays a link.
  fs::create_symlink(file, dir.file("link.csv"));
  lumifold::writeFileSafely(dir.file("link.csv"), "third\n");
  EXPECT_TRUE(fs::is_symlink(dir.file("link.csv")));
  EXPECT_EQ(readAll(file), "third\n");

  EXPECT_EQ(cliErrorOf([&] { lumifold::writeFileSafely(dir.file("missing/x.csv"), "x"); }),
            dir.file("missing/x.csv") + ": No such file or directory");
  EXPECT_EQ(cliErrorOf([&] { lumifold::writeFileSafely(dir.path().string(), "x"); }), dir.path().string() + ": Is a folder");
  // A device is written in place; a full one reports the reason.
  EXPECT_EQ(cliErrorOf([&] { lumifold::writeFileSafely("/dev/full", std::string(1 << 16, 'x')); }),
            "/dev/full: No space left on device");
  lumifold::writeFileSafely("/dev/null", "ignored");
  // No temporary file is left behind by any of this.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path().string())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"link.csv", "shifts.csv"}));
}

TEST(ShiftTable, WritesOneLinePerRegisteredFrame) {
  lumifold::ShiftTable table;
  mathORN::RowVector a(3), b(3);
  a[0] = 0, a[1] = -2, a[2] = 5;
  b[0] = 1, b[1] = 1, b[2] = -0.0;
  table.record(1, a);
  table.record(2, b);
  const std::vector<std::string> paths = {"ref.bmp", "f,1.bmp", "say \"x\".bmp"};
  EXPECT_EQ(table.toCsv(paths), "\"f,1.bmp\",0,-2,5\n\"say \"\"x\"\".bmp\",1,1,0\n");
  EXPECT_EQ(table.frames(), 2);
  EXPECT_EQ(lumifold::csvField("plain name.bmp"), "plain name.bmp");
  EXPECT_EQ(lumifold::csvField("two\nlines"), "\"two\nlines\"");
}

TEST(ShiftTable, ComparesInteriorColumnsWithTheTruth) {
  lumifold::ShiftTable table;
  mathORN::RowVector s(10);
  for (int x = 0; x < 10; ++x) s[x] = x < 5 ? 2 : 3;
  table.record(1, s);
  table.record(2, s);
  lumifold::ShiftTruth truth;
  truth[1] = std::vector<int>(10, 2);  // columns 5.. wrong
  truth[2] = std::vector<int>{9, 2, 2, 2, 2, 3, 3, 3, 3, 9};  // only the edges wrong
  const lumifold::ShiftRecovery r = table.compare(truth, 10, 1, 0);
  EXPECT_EQ(r.firstColumn, 1);
  EXPECT_EQ(r.lastColumn, 8);
  EXPECT_EQ(r.compared, 16);
  EXPECT_EQ(r.matched, 4 + 8);
  EXPECT_EQ(r.withinOne, 8 + 8) << "columns 5.. of frame 1 are one row off";

  // Against reference frame 3, moved by 1 from frame 0 up to column 5 and
  // by 4 beyond, frame i's shift is truth i minus truth 3.
  truth[1] = std::vector<int>(10, 3);
  truth[3] = std::vector<int>{1, 1, 1, 1, 1, 1, 4, 4, 4, 4};
  const lumifold::ShiftRecovery moved = table.compare(truth, 10, 1, 3);
  EXPECT_EQ(moved.matched, 4) << "frame 1 in columns 1..4 (3 - 1), frame 2 nowhere";
  EXPECT_EQ(moved.withinOne, 5 + 5) << "columns 6.. are 4 rows off";
  EXPECT_EQ(table.compare(truth, 10, 1, 9).matched, 4 + 8) << "a reference missing from the truth did not move";

  truth.erase(2);
  EXPECT_EQ(table.compare(truth, 10, 1, 0).matched, 4) << "a frame missing from the truth matches nothing";
  EXPECT_EQ(table.compare(truth, 10, 5, 0).compared, 0) << "no interior columns";
}

TEST(ShiftTable, ReadsTheSimulatorsTruthAndRefusesAnythingElse) {
  const testutil::ScratchFolder dir;
  const std::string good = dir.file("truth.csv");
  std::ofstream(good) << "frame,column,shift\n0,0,0\n0,1,0\n1,0,-3\n1,1,4\r\n";
  const lumifold::ShiftTruth truth = lumifold::readShiftTruth(good);
  ASSERT_EQ(truth.size(), 2u);
  EXPECT_EQ(truth.at(0), (std::vector<int>{0, 0}));
  EXPECT_EQ(truth.at(1), (std::vector<int>{-3, 4}));

  const auto refusal = [&](const std::string& text) {
    const std::string path = dir.file("bad.csv");
    std::ofstream(path, std::ios::trunc) << text;
    return cliErrorOf([&] { lumifold::readShiftTruth(path); }).substr(path.size() + 2);
  };
  EXPECT_EQ(refusal(""), "Empty truth file");
  EXPECT_EQ(refusal("a,b,c\n"), "Not a truth table (expected the header frame,column,shift)");
  EXPECT_EQ(refusal("frame,column,shift\n0,0,x\n"), "Line 2 is not frame,column,shift");
  EXPECT_EQ(refusal("frame,column,shift\n0,0,1,2\n"), "Line 2 is not frame,column,shift");
  EXPECT_EQ(refusal("frame,column,shift\n-1,0,1\n"), "Line 2 is not frame,column,shift");
  EXPECT_EQ(refusal("frame,column,shift\n0,0,1\n0,2,1\n"), "Line 3: columns of frame 0 are not in order");
  EXPECT_EQ(cliErrorOf([&] { lumifold::readShiftTruth(dir.file("none.csv")); }),
            dir.file("none.csv") + ": No such file or directory");
}

TEST(ProgressReporter, ShowsFramesRateAndTimeLeft) {
  EXPECT_EQ(lumifold::ProgressReporter::barLine(0, 32, 0.0), "[..............................]  0/32 frames");
  EXPECT_EQ(lumifold::ProgressReporter::barLine(16, 32, 2.0),
            "[###############...............] 16/32 frames  8.0 frames/s  2 s left");
  EXPECT_EQ(lumifold::ProgressReporter::barLine(32, 32, 4.0),
            "[##############################] 32/32 frames  8.0 frames/s");
  EXPECT_EQ(lumifold::ProgressReporter::statusText(1, 1000, 1.0), "   1/1000 frames  1.0 frames/s  16 min 39 s left");

  double now = 100.0;
  std::ostringstream lines;
  lumifold::ProgressReporter plain(lines, lumifold::ProgressReporter::Mode::Lines, [&] { return now; });
  // A log gets a line a second at most, and the last one always.
  plain.start(4);
  for (int i = 0; i < 4; ++i) {
    now += 0.4;
    plain.step();
  }
  plain.finish();
  EXPECT_EQ(lines.str(), "progress: 3/4 frames  2.5 frames/s  0 s left\nprogress: 4/4 frames  2.5 frames/s\n");

  std::ostringstream bar;
  lumifold::ProgressReporter terminal(bar, lumifold::ProgressReporter::Mode::Bar, [&] { return now; });
  terminal.start(1);
  now += 1.0;
  terminal.step();
  terminal.finish();
  terminal.finish();
  const std::string shown = bar.str();
  EXPECT_EQ(shown.front(), '\r');
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\r'), 2);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 1) << "finish ends the line once";
  EXPECT_NE(shown.find("1/1 frames  1.0 frames/s"), std::string::npos);

  std::ostringstream nothing;
  lumifold::ProgressReporter silent(nothing, lumifold::ProgressReporter::Mode::Silent);
  silent.start(3);
  silent.step();
  silent.finish();
  EXPECT_EQ(nothing.str(), "");
  EXPECT_EQ(silent.done(), 1);
}

TEST(ScaleChart, HoldsEveryScaleExactlyWithItsName) {
  using L = lumifold::ScaleChartLayout;
  const velIPL::RGBImage chart = lumifold::makeScaleChart();
  ASSERT_EQ(chart.width(), L::kWidth);
  ASSERT_EQ(chart.height(), L::kHeight);
  for (int i = 0; i < lumifold::kColorScaleCount; ++i) {
    const velIPL::RGBImage table = lumifold::SelectedColorScale(i);
    for (int y = L::stripTop(i); y < L::stripTop(i) + L::kStripHeight; ++y) {
      for (int g = 0; g < 256; ++g) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(chart.at(L::kStripX + g, y, c), table.at(g, 0, c)) << i << " " << g;
      }
    }
    // Some ink in the name area beside the strip, and none spilling into
    // the gap before it.
    int ink = 0;
    for (int y = L::stripTop(i); y < L::stripTop(i) + L::kStripHeight; ++y) {
      for (int x = 0; x < L::kStripX; ++x) ink += chart.at(x, y, 0) == 0;
    }
    EXPECT_GT(ink, 40) << lumifold::kColorScales[static_cast<std::size_t>(i)].name;
    for (int y = L::stripTop(i); y < L::stripTop(i) + L::kStripHeight; ++y) {
      for (int x = L::kStripX - 8; x < L::kStripX; ++x) EXPECT_EQ(chart.at(x, y, 0), 255);
    }
  }
}

TEST(ImageMetrics, PeakSignalToNoise) {
  velIPL::GImage a(4, 4, 100), b(4, 4, 100);
  EXPECT_TRUE(std::isinf(lumifold::peakSignalToNoise(a, b)));
  b.at(0, 0) = 116;  // mean squared difference 256 / 16 = 16
  EXPECT_NEAR(lumifold::peakSignalToNoise(a, b), 10.0 * std::log10(255.0 * 255.0 / 16.0), 1e-12);
}

}  // namespace
