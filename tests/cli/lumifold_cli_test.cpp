// lumifold-cli end to end: the executable is run on small simulated series
// and judged by its exit status, its messages and the files it leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/scale_chart.h"
#include "cli_runner.h"
#include "color/color_scales.h"
#include "ipl/bmp_info.h"
#include "ipl/images.h"
#include "merge/merger.h"
#include "scratch_folder.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

using clitest::CliRun;
using clitest::concat;
using clitest::runCli;
using clitest::seriesFrames;
using testutil::readAll;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

std::vector<std::string> splitCsv(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  return fields;
}

class LumifoldCli : public ::testing::Test {
protected:
  std::string at(const std::string& name) const { return dir_ + "/" + name; }

  // Runs lumifold-cli with args in the test's folder.
  CliRun cli(const std::vector<std::string>& args) const { return runCli(LUMIFOLD_CLI_PATH, dir_, args); }

  // A small simulated series in folder name: frames frame_000.bmp ... plus
  // truth/noise_free.bmp and truth/truth.csv.
  void simulate(const std::string& name, int frames, int width = 64, int height = 48,
                const std::string& section = "calibrated") const {
    const CliRun run = cli({"simulate", name, "--frames", std::to_string(frames), "--width", std::to_string(width),
                         "--height", std::to_string(height), "--max-shift", "4", "--seed", "7", "--section", section,
                         "-q"});
    ASSERT_EQ(run.status, 0) << run.err;
  }

  const testutil::ScratchFolder folder_;
  const std::string dir_ = folder_.path().string();
};

// The pixels of a 24-bit BMP the program wrote, as the reader sees them in
// grey; and the file's bytes compared with a picture saved here.
bool sameBytesAs(const std::string& written, const velIPL::RGBImage& expected, const std::string& scratch) {
  expected.save(scratch);
  return readAll(written) == readAll(scratch);
}

TEST_F(LumifoldCli, ExplainsItselfAndRefusesMalformedCommandLines) {
  CliRun run = cli({"--help"});
  EXPECT_EQ(run.status, 0);
  for (const char* word : {"merge", "simulate", "probe", "scales", "Exit status"}) {
    EXPECT_NE(run.out.find(word), std::string::npos) << word;
  }
  for (const char* command : {"merge", "simulate", "probe", "scales"}) {
    run = cli({command, "--help"});
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_NE(run.out.find("--help"), std::string::npos) << command;
  }
  run = cli({"merge", "--help"});
  for (const char* option : {"--output", "--algorithm", "--scale", "--grey", "--shifts", "--truth", "--sort",
                             "--progress", "--quiet", "anterior-edge", "cirrus-like"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
  run = cli({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "lumifold-cli 1.0.0\n");

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{}, {"frobnicate"}, {"merge"}, {"merge", "--scale", "purple", "x.bmp"},
        {"merge", "-a", "fastest", "x.bmp"}, {"merge", "--bogus", "x.bmp"}, {"probe"},
        {"simulate", "out", "--frames", "0"}, {"simulate", "out", "--motion", "wobble"},
        {"simulate", "out", "--section", "easy"}, {"simulate", "out", "--height", "20", "--max-shift", "11"}}) {
    run = cli(bad);
    std::string joined;
    for (const auto& a : bad) joined += a + " ";
    EXPECT_EQ(run.status, 2) << joined << run.err;
    EXPECT_EQ(run.err.rfind("lumifold-cli: ", 0), 0u) << joined << run.err;
    EXPECT_FALSE(fs::exists(at("out"))) << joined;
  }
}

TEST_F(LumifoldCli, MergesASeriesIntoTheColouredAndGreyAverage) {
  simulate("series", 5);
  std::vector<std::string> frames;
  for (int i = 0; i < 5; ++i) frames.push_back(at("series/frame_00" + std::to_string(i) + ".bmp"));

  std::vector<std::string> args = {"merge", "-a", "correlation", "-s", "cirrus-like", "-o", "out.bmp",
                                   "--grey", "grey.bmp", "--shifts", "shifts.csv", "--truth", "series/truth/truth.csv"};
  args.insert(args.end(), frames.begin(), frames.end());
  const CliRun run = cli(args);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "") << "no progress unless asked when stderr is not a terminal";
  EXPECT_NE(run.out.find("Merged 5 frames of 64 x 48 by Correlation"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Wrote out.bmp (Cirrus like)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Wrote grey.bmp (grey average)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Wrote shifts.csv (shifts of 4 registered frames)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Shift recovery: "), std::string::npos) << run.out;

  // The grey average is exactly what the engine gives for these files, and
  // the coloured result is that average through the chosen scale.
  const velIPL::GImage expected = lumifold::Merger(frames).mergeByCorrelation();
  ASSERT_EQ(expected.width(), 64);
  ASSERT_EQ(expected.height(), 48);
  EXPECT_TRUE(testutil::samePixels(velIPL::GImage(at("grey.bmp")), expected));
  EXPECT_TRUE(sameBytesAs(at("out.bmp"), lumifold::ApplyColorScale(lumifold::MakeCirrusLikeScale(), expected),
                          at("expected.bmp")));
  EXPECT_TRUE(sameBytesAs(at("grey.bmp"), lumifold::ApplyColorScale(lumifold::MakeWhiteOnBlackScale(), expected),
                          at("expected.bmp")));

  // One CSV line per registered frame: its path, then one shift per column.
  const std::vector<std::string> csv = lines(readAll(at("shifts.csv")));
  ASSERT_EQ(csv.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    const std::vector<std::string> fields = splitCsv(csv[i]);
    ASSERT_EQ(fields.size(), 65u) << csv[i];
    EXPECT_EQ(fields[0], frames[i + 1]);
    for (int x = 1; x <= 64; ++x) {
      EXPECT_NO_THROW((void)std::stoi(fields[x])) << fields[x];
      EXPECT_LE(std::abs(std::stoi(fields[x])), 48);
    }
  }
}

TEST_F(LumifoldCli, RecoversSimulatedShiftsAndReducesNoise) {
  // The limits were measured on the classic section.
  simulate("series", 8, 128, 96, "classic");
  const std::vector<std::string> frames = seriesFrames("series", 8);
  const CliRun run = cli(concat({"merge", "-q", "--grey", "g.bmp"}, frames));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "") << "quiet";
  EXPECT_TRUE(fs::exists(at("merged.bmp"))) << "default output name";

  // Plain progress lines when asked, the last one always; -q silences them.
  const CliRun progress = cli(concat({"merge", "--progress", "-o", "p.bmp"}, frames));
  ASSERT_EQ(progress.status, 0) << progress.err;
  const std::vector<std::string> shown = lines(progress.err);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().rfind("progress: 8/8 frames", 0), 0u) << progress.err;
  EXPECT_EQ(cli(concat({"merge", "--progress", "-q", "-o", "p.bmp"}, frames)).err, "");

  const CliRun report = cli(concat({"merge", "-o", "m2", "--truth", "series/truth/truth.csv", "--noise-free",
                                 "series/truth/noise_free.bmp", "-a", "anterior-edge"},
                                frames));
  ASSERT_EQ(report.status, 0) << report.err;
  EXPECT_NE(report.out.find("by Anterior Edge"), std::string::npos) << report.out;
  EXPECT_TRUE(fs::exists(at("m2.bmp")));
  // "Shift recovery: M of N interior column shifts (P %) ..."
  const std::size_t recovery = report.out.find("Shift recovery: ");
  ASSERT_NE(recovery, std::string::npos) << report.out;
  long long matched = 0, compared = 0;
  ASSERT_EQ(std::sscanf(report.out.c_str() + recovery, "Shift recovery: %lld of %lld", &matched, &compared), 2);
  EXPECT_EQ(compared, 7LL * (128 - 24));
  EXPECT_GT(matched, 0);
  // "PSNR against ...: reference frame 0 A dB, average B dB": averaging must help.
  const std::size_t psnr = report.out.find("PSNR against series/truth/noise_free.bmp: reference frame 0 ");
  ASSERT_NE(psnr, std::string::npos) << report.out;
  double single = 0, average = 0;
  ASSERT_EQ(std::sscanf(report.out.c_str() + psnr, "PSNR against series/truth/noise_free.bmp: reference frame 0 %lf dB, average %lf",
                        &single, &average),
            2)
      << report.out;
  EXPECT_GT(average, single + 3.0) << report.out;

  // Another reference: the shifts are checked relative to it (truth i minus
  // truth 3), and the single frame of the PSNR line is it.
  const CliRun other = cli(concat({"merge", "-o", "m3", "--reference", "3", "--truth", "series/truth/truth.csv",
                                   "--noise-free", "series/truth/noise_free.bmp"},
                                  frames));
  ASSERT_EQ(other.status, 0) << other.err;
  const std::size_t moved = other.out.find("Shift recovery: ");
  ASSERT_NE(moved, std::string::npos) << other.out;
  double withinOne = 0;
  ASSERT_EQ(std::sscanf(other.out.c_str() + moved, "Shift recovery: %lld of %lld interior column shifts (%*f %%) match the truth, %lf",
                        &matched, &compared, &withinOne),
            3)
      << other.out;
  EXPECT_EQ(compared, 7LL * (128 - 24));
  EXPECT_GT(withinOne, 90.0) << other.out;
  EXPECT_NE(other.out.find("registered frames, relative to reference frame 3\n"), std::string::npos) << other.out;
  EXPECT_NE(other.out.find("PSNR against series/truth/noise_free.bmp: reference frame 3 "), std::string::npos)
      << other.out;
}

TEST_F(LumifoldCli, TakesFolderFilesInNameOrderAndKeepsCommandLineOrder) {
  simulate("series", 4);
  fs::create_directory(at("named"));
  // Byte order would put Scan1 first, then scan10 and scan2 as here; a
  // case-sensitive order would not. The .BMP file counts, the .txt does not.
  fs::copy_file(at("series/frame_000.bmp"), at("named/scan2.bmp"));
  fs::copy_file(at("series/frame_001.bmp"), at("named/scan10.BMP"));
  fs::copy_file(at("series/frame_002.bmp"), at("named/Scan1.bmp"));
  fs::copy_file(at("series/frame_003.bmp"), at("named/b.bmp"));
  std::ofstream(at("named/notes.txt")) << "not an image";

  CliRun run = cli({"merge", "named", "--shifts", "order.csv", "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> csv = lines(readAll(at("order.csv")));
  ASSERT_EQ(csv.size(), 3u);
  // Reference named/b.bmp, then Scan1, scan10, scan2.
  EXPECT_EQ(splitCsv(csv[0])[0], "named/Scan1.bmp");
  EXPECT_EQ(splitCsv(csv[1])[0], "named/scan10.BMP");
  EXPECT_EQ(splitCsv(csv[2])[0], "named/scan2.bmp");

  // Files keep the order given, the first being the reference ...
  run = cli({"merge", "named/scan2.bmp", "named/b.bmp", "named/Scan1.bmp", "--shifts", "order.csv", "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  csv = lines(readAll(at("order.csv")));
  ASSERT_EQ(csv.size(), 2u);
  EXPECT_EQ(splitCsv(csv[0])[0], "named/b.bmp");
  EXPECT_EQ(splitCsv(csv[1])[0], "named/Scan1.bmp");

  // ... unless --sort, which orders everything and drops repeated paths.
  run = cli({"merge", "--sort", "named/scan2.bmp", "named/b.bmp", "named/Scan1.bmp", "named/b.bmp", "--shifts",
             "order.csv", "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  csv = lines(readAll(at("order.csv")));
  ASSERT_EQ(csv.size(), 2u);
  EXPECT_EQ(splitCsv(csv[0])[0], "named/Scan1.bmp");
  EXPECT_EQ(splitCsv(csv[1])[0], "named/scan2.bmp");
}

TEST_F(LumifoldCli, GivesEveryPictureAnExtensionItCanBeWrittenAs) {
  simulate("series", 2);
  fs::create_directory(at("my.dir"));
  for (const auto& [given, written] : std::vector<std::pair<std::string, std::string>>{
           {"result.png", "result.png"}, {"result.TIFF", "result.TIFF"}, {"result", "result.bmp"},
           {"scan.old", "scan.bmp"}, {"my.dir/result", "my.dir/result.bmp"}}) {
    fs::remove(at(written));
    const CliRun run = cli(concat({"merge", "-o", given}, seriesFrames("series", 2)));
    ASSERT_EQ(run.status, 0) << given << run.err;
    EXPECT_TRUE(fs::exists(at(written))) << given;
    EXPECT_NE(run.out.find("Wrote " + written + " "), std::string::npos) << run.out;
    if (given != written) {
      EXPECT_FALSE(fs::exists(at(given))) << given;
    }
  }
  const CliRun grey = cli(concat({"merge", "-o", "a", "--grey", "b.jpg", "-q"}, seriesFrames("series", 2)));
  ASSERT_EQ(grey.status, 0) << grey.err;
  EXPECT_TRUE(fs::exists(at("b.bmp")));
  // Two outputs that end up with the same name are refused before any work.
  const CliRun clash = cli(concat({"merge", "-o", "same.gif", "--grey", "same.jpg"}, seriesFrames("series", 2)));
  EXPECT_EQ(clash.status, 2) << clash.err;
  EXPECT_FALSE(fs::exists(at("same.bmp")));
  // A device is written as named: the extension rule is for file names.
  const CliRun device = cli(concat({"merge", "-o", "/dev/null"}, seriesFrames("series", 2)));
  EXPECT_EQ(device.status, 0) << device.err;
  EXPECT_NE(device.out.find("Wrote /dev/null (Rainbow)"), std::string::npos) << device.out;
  EXPECT_FALSE(fs::exists("/dev/null.bmp"));
  // A folder is not a picture's name.
  const CliRun folder = cli(concat({"merge", "-o", "my.dir"}, seriesFrames("series", 2)));
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.err, "lumifold-cli: my.dir: Is a folder\n");
  EXPECT_FALSE(fs::exists(at("my.bmp")));
}

TEST_F(LumifoldCli, ReportsBadInputByFileAndLosesNothing) {
  simulate("series", 3);
  simulate("other", 1, 32, 48);
  fs::create_directory(at("empty"));
  std::ofstream(at("empty/readme.txt")) << "no images here";
  std::ofstream(at("text.bmp")) << "this is not a bitmap at all";
  // A frame whose headers are sound but whose pixels are cut short passes the
  // header check and fails while merging.
  const std::string full = readAll(at("series/frame_002.bmp"));
  std::ofstream(at("cut.bmp"), std::ios::binary) << full.substr(0, full.size() / 2);
  std::ofstream(at("precious.bmp")) << "the user's earlier result";
  std::ofstream(at("empty.bmp")).flush();
  const std::string f0 = "series/frame_000.bmp", f1 = "series/frame_001.bmp";

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{f0, "missing.bmp"}, 1, "lumifold-cli: missing.bmp: No such file or folder\n"},
      {{f0, "empty"}, 1, "lumifold-cli: empty: No image files in folder\n"},
      {{"text.bmp", f0}, 1, "lumifold-cli: text.bmp: Not a valid image file: File is not a bitmap image\n"},
      {{"empty.bmp", f0}, 1, "lumifold-cli: empty.bmp: Not a valid image file: Bitmap file not complete\n"},
      {{f0, f1, "-o", ""}, 1, "lumifold-cli: --output: Missing output file name\n"},
      {{f0, f1, "-o", "out/"}, 1, "lumifold-cli: out/: Missing output file name\n"},
      {{f0, f1, "--frames", ""}, 2, ""},
      {{f0, f1, "--frames", "1,0-1"}, 2, ""},
      {{f0, f1, "-o", "fresh.bmp", "--report", "precious.bmp"}, 1,
       "lumifold-cli: precious.bmp: Not a report this program wrote; left as it is (name another --report file)\n"},
      {{f0, "text.bmp"}, 1, "lumifold-cli: text.bmp: File is not a bitmap image\n"},
      {{f0, f1, "other/frame_000.bmp"}, 1,
       "lumifold-cli: other/frame_000.bmp: Image has not same dimensions as reference image\n"},
      {{f0, "series/truth/truth.csv"}, 1, "lumifold-cli: series/truth/truth.csv: File is not a bitmap image\n"},
      {{f0, "cut.bmp"}, 1, ""},
      {{f0, f1, "-o", "nowhere/out.bmp"}, 1, "lumifold-cli: nowhere/out.bmp: No such folder\n"},
      {{f0, f1, "-o", "text.bmp/out.bmp"}, 1, "lumifold-cli: text.bmp/out.bmp: Not a folder\n"},
      {{f0, f1, "-o", "/dev/full"}, 1, "lumifold-cli: /dev/full: Cannot write image file: No space left on device\n"},
      {{f0, f1, "-o", "fresh.bmp", "--shifts", "/dev/full"}, 1, "lumifold-cli: /dev/full: No space left on device\n"},
      {{f0, f1, "-o", "series/frame_001"}, 2, ""},
  };
  for (const Case& c : cases) {
    // Every case that names no output of its own would write over this one.
    std::vector<std::string> args = {"merge"};
    if (std::find(c.args.begin(), c.args.end(), "-o") == c.args.end()) args = {"merge", "-o", "precious.bmp"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = cli(args);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_EQ(run.status, c.status) << joined << run.err;
    if (!c.message.empty()) {
      EXPECT_EQ(run.err, c.message) << joined;
    } else {
      EXPECT_EQ(run.err.rfind("lumifold-cli: ", 0), 0u) << joined << run.err;
    }
    EXPECT_EQ(run.out, "") << joined;
    // The earlier result and the inputs are untouched, and no temporary
    // file is left anywhere.
    EXPECT_EQ(readAll(at("precious.bmp")), "the user's earlier result") << joined;
    EXPECT_EQ(readAll(at("series/frame_002.bmp")), full) << joined;
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(name.find("tmp"), std::string::npos) << joined << ": " << entry.path();
    }
  }
  const CliRun twice = cli({"merge", f0, f1, "--frames", "1,0-1", "-o", "fresh.bmp"});
  EXPECT_NE(twice.err.find("--frames 1,0-1: frame 1 is listed twice"), std::string::npos) << twice.err;
  const CliRun cut = cli({"merge", f0, "cut.bmp", "-o", "precious.bmp"});
  EXPECT_EQ(cut.err.rfind("lumifold-cli: cut.bmp: ", 0), 0u) << "the failing frame is named: " << cut.err;
  EXPECT_FALSE(fs::exists("/dev/full.bmp"));
}

TEST_F(LumifoldCli, ProbesFilesAndDrawsTheScales) {
  simulate("series", 1, 40, 30);
  std::ofstream(at("text.bmp")) << "BMnot really";
  CliRun run = cli({"probe", "series/frame_000.bmp", "text.bmp", "missing.bmp", "series"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "series/frame_000.bmp: 40 x 30\n");
  EXPECT_EQ(run.err,
            "lumifold-cli: text.bmp: Bitmap file not complete\n"
            "lumifold-cli: missing.bmp: No such file or folder\n"
            "lumifold-cli: series: Is a folder\n");
  run = cli({"probe", "series/frame_000.bmp", "series/truth/noise_free.bmp"});
  EXPECT_EQ(run.status, 0) << run.err;

  run = cli({"scales", "-o", "chart.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Wrote chart.bmp (the six colour scales)\n");
  EXPECT_TRUE(sameBytesAs(at("chart.bmp"), lumifold::makeScaleChart(), at("expected.bmp")));
  run = cli({"scales", "-q"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  velIPL::BmpInfo info;
  int width = 0, height = 0;
  std::string message;
  ASSERT_TRUE(info.probeFile(at("scales.bmp"), width, height, message)) << message;
  EXPECT_EQ(width, lumifold::ScaleChartLayout::kWidth);
  EXPECT_EQ(height, lumifold::ScaleChartLayout::kHeight);
}

TEST_F(LumifoldCli, SimulatesASeriesWithItsTruth) {
  const CliRun run = cli({"simulate", "sim", "--frames", "3", "--width", "20", "--height", "16", "--max-shift", "2",
                       "--motion", "global", "--seed", "3"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Simulated 3 frames of 20 x 16"), std::string::npos) << run.out;
  for (const char* name : {"frame_000.bmp", "frame_001.bmp", "frame_002.bmp", "truth/noise_free.bmp", "truth/truth.csv"}) {
    EXPECT_TRUE(fs::exists(at(std::string("sim/") + name))) << name;
  }
  const std::vector<std::string> truth = lines(readAll(at("sim/truth/truth.csv")));
  ASSERT_EQ(truth.size(), 1u + 3u * 20u);
  EXPECT_EQ(truth[0], "frame,column,shift");
  // The same seed gives the same series.
  ASSERT_EQ(cli({"simulate", "again", "--frames", "3", "--width", "20", "--height", "16", "--max-shift", "2",
                 "--motion", "global", "--seed", "3", "-q"})
                .status,
            0);
  EXPECT_EQ(readAll(at("sim/frame_002.bmp")), readAll(at("again/frame_002.bmp")));

  std::ofstream(at("file")) << "x";
  const CliRun blocked = cli({"simulate", "file/sub", "--frames", "1", "--width", "8", "--height", "8"});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(blocked.err.rfind("lumifold-cli: file/sub", 0), 0u) << blocked.err;
}

}  // namespace

TEST_F(LumifoldCli, NamesTheBadFramesItDropsInTheSummaryAndTheReport) {
  // Classic: on the calibrated section, at 160 x 128, the other section and the dropout are kept.
  CliRun run = cli({"simulate", "bad", "--frames", "12", "--width", "160", "--height", "128", "--max-shift", "6",
                    "--seed", "5", "--bad", "blink,section,dropout", "--lateral-slip", "3", "--section", "classic"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("listed in truth/bad_frames.csv"), std::string::npos) << run.out;
  const std::vector<std::string> table = lines(readAll(at("bad/truth/bad_frames.csv")));
  ASSERT_EQ(table.size(), 4u);
  EXPECT_EQ(table[0], "frame,kind");
  EXPECT_EQ(lines(readAll(at("bad/truth/lateral.csv"))).size(), 13u);

  run = cli({"merge", "bad", "--reject", "auto", "--reference", "auto", "--lateral", "--report", "r.json"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string report = readAll(at("r.json"));
  for (std::size_t i = 1; i < table.size(); ++i) {
    const std::string frame = splitCsv(table[i])[0];
    const std::string name = "bad/" + std::string("frame_0") + (frame.size() == 1 ? "0" : "") + frame + ".bmp";
    EXPECT_NE(run.out.find("Dropped frame " + frame + " " + name + ": "), std::string::npos) << run.out;
    EXPECT_NE(report.find("{\"frame\": " + frame + ", \"name\": \"" + name + "\", \"kept\": false"),
              std::string::npos)
        << frame;
  }
  EXPECT_NE(run.out.find("Kept 9 of 12 frames (3 dropped)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Wrote r.json (frame quality report)"), std::string::npos);
  for (const char* field : {"\"reference\": {\"frame\": ", "\"choice\": \"auto\"", "\"snrGainDb\": ",
                            "\"regions\": {\"edgeThreshold\": ", "\"lateralShift\": "}) {
    EXPECT_NE(report.find(field), std::string::npos) << field;
  }

  // Without the options the summary is today's.
  run = cli({"merge", "bad"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.find("Dropped"), std::string::npos);
  EXPECT_EQ(run.out.find("SNR"), std::string::npos);

  for (const char* reference : {"12", "x", "-1"}) {
    run = cli({"merge", "bad", "--reference", reference});
    EXPECT_EQ(run.status, 2) << reference;
    EXPECT_NE(run.err.find("--reference"), std::string::npos) << run.err;
  }
  run = cli({"simulate", "worse", "--bad", "wink"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("not 'wink'"), std::string::npos) << run.err;
}

TEST_F(LumifoldCli, FiltersSpeckleWhenAskedInMergeAndBatchAndSaysHowMuch) {
  simulate("s", 5, 160, 128);
  CliRun run = cli({"merge", "s", "--grey", "plain.png", "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  // With every quality option too: the filter sees the frames as they are added.
  run = cli({"merge", "s", "--grey", "filtered.png", "--report", "r.json", "--reject", "auto", "--lateral",
             "--denoise"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Speckle filter: nl-means at strength 1 (noise of one frame "), std::string::npos)
      << run.out;
  EXPECT_NE(readAll(at("r.json")).find("\"speckleFilter\": {\"filter\": \"nl-means\", \"strength\": 1, "),
            std::string::npos);
  EXPECT_NE(readAll(at("plain.png")), readAll(at("filtered.png")));
  run = cli({"merge", "s", "--denoise=0.5", "-q"});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* strength : {"11", "abc", "-1"}) {
    run = cli({"merge", "s", "--denoise", strength});
    EXPECT_EQ(run.status, 2) << strength;
    EXPECT_NE(run.err.find("strength is a number from 0 to 10"), std::string::npos) << run.err;
  }

  std::ofstream(at("study.csv")) << "name,inputs,denoise\nplain,s,none\nfiltered,s,1.5\n";
  run = cli({"batch", "study.csv", "-o", "out", "--denoise", "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> summary = lines(readAll(at("out/summary.csv")));
  ASSERT_EQ(summary.size(), 3u);
  const std::vector<std::string> heading = splitCsv(summary[0]);
  const auto column = [&](const std::string& row, const std::string& name) {
    const auto i = std::find(heading.begin(), heading.end(), name) - heading.begin();
    return splitCsv(row)[static_cast<std::size_t>(i)];
  };
  const std::string filteredRow = column(summary[1], "name") == "filtered" ? summary[1] : summary[2];
  const std::string plainRow = column(summary[1], "name") == "plain" ? summary[1] : summary[2];
  EXPECT_EQ(column(filteredRow, "denoise"), "nl-means 1.5");
  EXPECT_GT(std::stod(column(filteredRow, "snr_filtered_db")), std::stod(column(filteredRow, "snr_db")));
  EXPECT_EQ(column(plainRow, "denoise"), "");
  std::ofstream(at("bad.csv")) << "name,inputs,denoise\nx,s,strong\n";
  run = cli({"batch", "bad.csv", "-o", "out2"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("not 'strong' (none, default or a strength)"), std::string::npos) << run.err;
}
