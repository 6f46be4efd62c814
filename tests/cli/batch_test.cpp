// lumifold-cli batch: a study of series merged with failures reported and
// the batch going on, the summary, --resume and what it keeps, a batch
// stopped by a signal, manifests with per-series options, files equal to
// merge's, and the shard assignment.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "pipeline/batch_series.h"
#include "pipeline/batch_summary.h"
#include "pipeline/csv_reader.h"
#include "pipeline/path_error.h"
#include "pipeline/series_merge.h"
#include "cli_runner.h"
#include "scratch_folder.h"

namespace {

using clitest::CliRun;
using clitest::runCli;
using testutil::readAll;

class Batch : public ::testing::Test {
protected:
  std::string at(const std::string& name) const { return dir_ + "/" + name; }
  CliRun cli(const std::vector<std::string>& args) const { return runCli(LUMIFOLD_CLI_PATH, dir_, args); }
  void simulate(const std::string& folder, int seed, const std::string& format = "bmp") const {
    const CliRun run = cli({"simulate", folder, "--frames", "3", "--width", "40", "--height", "32", "--seed",
                            std::to_string(seed), "--format", format, "-q"});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  static ino_t inode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
  }

  const testutil::ScratchFolder folder_;
  const std::string dir_ = folder_.path().string();
};

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string seriesName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "s%02d", i);
  return name;
}

TEST_F(Batch, FiftySeriesWithTwoBrokenThenResumeDoesOnlyThose) {
  for (int i = 1; i <= 50; ++i) simulate("study/" + seriesName(i), i);
  writeText(at("study/s17/frame_001.bmp"), "not a picture");
  std::filesystem::remove_all(at("study/s33"));
  std::filesystem::create_directory(at("study/s33"));

  CliRun run = cli({"batch", "study", "-o", "out", "--jobs", "2", "--grey"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Batch of 50 series: 48 done, 2 failed"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("lumifold-cli: series s17: study/s17/frame_001.bmp: Bitmap file not complete\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("lumifold-cli: series s33: study/s33: No image files in folder\n"), std::string::npos)
      << run.err;

  std::map<std::string, lumifold::SummaryRow> rows = lumifold::readSummary(at("out/summary.csv"));
  ASSERT_EQ(rows.size(), 50u);
  int done = 0;
  for (const auto& [name, row] : rows) {
    const bool broken = name == "s17" || name == "s33";
    EXPECT_EQ(row.at("status"), broken ? "failed" : "done") << name;
    EXPECT_EQ(row.at("error").empty(), !broken) << name;
    EXPECT_EQ(std::filesystem::exists(at("out/" + name + "_grey.bmp")), !broken) << name;
    if (!broken) {
      ++done;
      EXPECT_EQ(row.at("frames"), "3");
      EXPECT_EQ(row.at("frames_used"), "3");
      EXPECT_EQ(row.at("algorithm"), "correlation");
    }
  }
  EXPECT_EQ(done, 48);

  // Mended, the two are merged again and nothing else is rewritten. A
  // series whose file has gone runs again too, although its row says done.
  simulate("study/s17", 17);
  simulate("study/s33", 33);
  std::filesystem::remove(at("out/s40_grey.bmp"));
  const ino_t untouched = inode(at("out/s01.bmp"));
  run = cli({"batch", "study", "-o", "out", "--jobs", "2", "--grey", "--resume"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Batch of 50 series: 3 done, 0 failed, 47 already done"), std::string::npos) << run.out;
  EXPECT_EQ(inode(at("out/s01.bmp")), untouched);
  rows = lumifold::readSummary(at("out/summary.csv"));
  ASSERT_EQ(rows.size(), 50u);
  for (const auto& [name, row] : rows) EXPECT_EQ(row.at("status"), "done") << name;
  // Progress lines on a stderr that is no terminal, one per series run.
  EXPECT_NE(run.err.find("batch: 3/3 done "), std::string::npos) << run.err;
  // Rows of another registration are not taken for this one's.
  run = cli({"batch", "study", "-o", "out", "--grey", "--resume", "-a", "anterior-edge", "-q"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(lumifold::readSummary(at("out/summary.csv")).at("s01").at("algorithm"), "anterior-edge");
  EXPECT_NE(inode(at("out/s01.bmp")), untouched);
}

// Lines of text holding part, in order.
std::vector<std::string> linesWith(const std::string& text, const std::string& part) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.find(part) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

// --resume keeps a series only when its row was made with the same options
// from the same inputs and its files are all there and not empty; it names
// the reason for every other, and --force redoes all.
TEST_F(Batch, ResumeMergesAgainWhatOtherOptionsOrInputsMadeAndSaysWhy) {
  for (int i = 1; i <= 3; ++i) simulate("study/" + seriesName(i), i);
  ASSERT_EQ(cli({"batch", "study", "-o", "out", "-q"}).status, 0);
  const std::vector<std::string> other{"--frames", "0-1", "-s", "white-on-black", "--lateral", "--reject", "auto"};
  struct Step {
    std::string what;
    std::function<void()> change;
    std::vector<std::string> args;
    int merged;
    std::vector<std::string> said;
  };
  const auto again = [](const std::string& why) {
    std::vector<std::string> said;
    for (int i = 1; i <= 3; ++i) said.push_back("batch: " + seriesName(i) + ": " + why + ", merged again");
    return said;
  };
  const std::vector<Step> steps{
      {"other options", [] {}, other, 3, again("options changed")},
      {"the same", [] {}, other, 0, {}},
      {"an emptied picture", [&] { std::filesystem::resize_file(at("out/s02.bmp"), 0); }, other, 1,
       {"batch: s02: out/s02.bmp empty, merged again"}},
      {"an input touched",
       [&] {
         const std::string frame = at("study/s03/frame_001.bmp");
         std::filesystem::last_write_time(frame, std::filesystem::last_write_time(frame) + std::chrono::seconds(1));
       },
       other, 1, {"batch: s03: inputs changed, merged again"}},
      {"the study moved",
       [&] { std::filesystem::rename(at("study"), at("moved")); },
       other, 0, {}},
      {"a summary of an older version",
       [&] { writeText(at("out/summary.csv"), "name,algorithm,status\ns01,correlation,done\ns02,correlation,done\n"
                                              "s03,correlation,done\n"); },
       other, 3, again("options unknown")},
      {"--force", [] {}, clitest::concat(other, {"--force"}), 3, {}},
  };
  for (const Step& step : steps) {
    step.change();
    const std::string study = std::filesystem::exists(at("study")) ? "study" : "moved";
    const CliRun run = cli(clitest::concat({"batch", study, "-o", "out", "--resume"}, step.args));
    ASSERT_EQ(run.status, 0) << step.what << ": " << run.err;
    EXPECT_NE(run.out.find("Batch of 3 series: " + std::to_string(step.merged) + " done, 0 failed, " +
                           std::to_string(3 - step.merged) + " already done"),
              std::string::npos)
        << step.what << ": " << run.out;
    EXPECT_EQ(linesWith(run.err, "merged again"), step.said) << step.what;
  }
}

// Every option that changes a series' files changes its settings, and
// nothing else does.
TEST(BatchSummary, SettingsNameEveryOptionThatChangesTheFiles) {
  lumifold::MergeOptions base;
  base.output = "out/s.bmp";
  EXPECT_EQ(lumifold::seriesSettings(base),
            "algorithm=correlation;scale=rainbow;frames=all;order=given;reject=none;reference=first;lateral=no;"
            "outputs=bmp");
  using Change = std::function<void(lumifold::MergeOptions&)>;
  const std::vector<Change> changing{
      [](auto& m) { m.algorithm = "anterior-edge"; }, [](auto& m) { m.scale = "white-on-black"; },
      [](auto& m) { m.frames = "0-1"; },              [](auto& m) { m.sort = true; },
      [](auto& m) { m.reject = "auto"; },             [](auto& m) { m.reference = "auto"; },
      [](auto& m) { m.lateral = true; },              [](auto& m) { m.output = "out/s.png"; },
      [](auto& m) { m.grey = "g"; },                  [](auto& m) { m.average = "a"; },
      [](auto& m) { m.shifts = "s"; },                [](auto& m) { m.report = "r"; },
      [](auto& m) { m.exclude = {"*_x.bmp"}; },      [](auto& m) { m.denoise = "default"; }};
  std::set<std::string> seen{lumifold::seriesSettings(base)};
  for (const Change& change : changing) {
    lumifold::MergeOptions m = base;
    change(m);
    EXPECT_TRUE(seen.insert(lumifold::seriesSettings(m)).second) << lumifold::seriesSettings(m);
  }
  const std::vector<Change> same{[](auto& m) { m.threads = 3; }, [](auto& m) { m.progress = true; },
                                 [](auto& m) { m.quiet = true; }, [](auto& m) { m.output = "elsewhere/s.bmp"; },
                                 [](auto& m) { m.inputs = {"x"}; }};
  for (const Change& change : same) {
    lumifold::MergeOptions m = base;
    change(m);
    EXPECT_EQ(lumifold::seriesSettings(m), lumifold::seriesSettings(base));
  }
}

// A signal stops the batch: the message, the status, a row for exactly the
// series reported done, no file of a stopped merge, and --resume does the
// rest.
TEST_F(Batch, StoppedBySignalSaysSoAndKeepsEverySeriesDone) {
  // Many series of one simulated series read twice over: a batch long
  // enough to be stopped midway, cheap to make.
  constexpr int kSeries = 24;
  const CliRun made = cli({"simulate", "a", "--frames", "8", "--width", "320", "--height", "240", "-q"});
  ASSERT_EQ(made.status, 0) << made.err;
  std::string manifest = "name,inputs\n";
  for (int i = 1; i <= kSeries; ++i) manifest += seriesName(i) + ",a;a\n";
  writeText(at("study.csv"), manifest);
  for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
    const std::string out = "out" + std::to_string(signal);
    clitest::Conditions how;
    how.signal = signal;
    how.signalAt = "batch: 1/";
    CliRun run = runCli(LUMIFOLD_CLI_PATH, dir_, {"batch", "study.csv", "-o", out, "--jobs", "2", "--grey"}, how);
    EXPECT_FALSE(run.killed) << signal;
    EXPECT_EQ(run.status, status) << run.err;
    std::smatch said;
    ASSERT_TRUE(std::regex_search(run.err, said, std::regex("lumifold-cli: interrupted: (\\d+) done, (\\d+) not started\n")))
        << run.err;
    std::set<std::string> reported;
    for (const std::string& line : linesWith(run.err, " done s")) reported.insert(line.substr(line.find(" done ") + 6, 3));
    EXPECT_EQ(std::stoi(said[1]), static_cast<int>(reported.size())) << run.err;
    EXPECT_EQ(std::stoi(said[2]), kSeries - static_cast<int>(reported.size())) << run.err;
    EXPECT_LT(reported.size(), static_cast<std::size_t>(kSeries)) << "the signal came too late to test";

    std::set<std::string> summarised;
    for (const auto& [name, row] : lumifold::readSummary(at(out + "/summary.csv"))) summarised.insert(name);
    EXPECT_EQ(summarised, reported);
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(at(out))) files.insert(entry.path().filename());
    std::set<std::string> expected{"summary.csv"};
    for (const std::string& name : reported) expected.insert({name + ".bmp", name + "_grey.bmp"});
    EXPECT_EQ(files, expected);

    run = cli({"batch", "study.csv", "-o", out, "--jobs", "2", "--grey", "--resume"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(std::to_string(kSeries - reported.size()) + " done, 0 failed, " +
                           std::to_string(reported.size()) + " already done"),
              std::string::npos)
        << run.out;
  }
}

// A manifest row's own options and inputs, a multi-frame file as a series
// in a folder, every output kind: each file equals merge's of the same
// inputs and options byte for byte.
TEST_F(Batch, SeriesFilesEqualThoseOfMerge) {
  simulate("a", 5);
  simulate("b", 6, "tif-stack");
  ASSERT_EQ(cli({"simulate", "bad", "--frames", "10", "--width", "96", "--height", "80", "--bad", "blink", "--seed",
                 "4", "-q"})
                .status,
            0);
  writeText(at("list.csv"),
            "name,inputs,algorithm,frames,reject\n"
            "first,a/frame_000.bmp;a/frame_001.bmp;a/frame_002.bmp,,,\n"
            "\"edge, b\",b/series.tif,anterior-edge,0-1,\n"
            "bad,bad,,,auto\n");
  CliRun run = cli({"batch", "list.csv", "-o", "out", "--format", "png", "--grey", "--average", "--shifts",
                    "--report", "-s", "cirrus-like", "--jobs", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  struct Expected {
    std::string name;
    std::vector<std::string> args;
  };
  const std::vector<Expected> cases{
      {"first", {"merge", "a/frame_000.bmp", "a/frame_001.bmp", "a/frame_002.bmp"}},
      {"edge, b", {"merge", "b/series.tif", "-a", "anterior-edge", "--frames", "0-1"}},
      {"bad", {"merge", "bad", "--reject", "auto"}}};
  for (const Expected& c : cases) {
    std::vector<std::string> args = c.args;
    for (const char* a : {"-s", "cirrus-like", "-o", "m.png", "--grey", "m_grey.png", "--average", "m_average.tif",
                          "--shifts", "m_shifts.csv", "--report", "m_report.json", "-q"}) {
      args.emplace_back(a);
    }
    run = cli(args);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* suffix : {".png", "_grey.png", "_average.tif", "_shifts.csv", "_report.json"}) {
      const std::string mine = at("out/" + c.name + suffix);
      ASSERT_TRUE(std::filesystem::exists(mine)) << mine;
      EXPECT_EQ(readAll(mine), readAll(at(std::string("m") + suffix))) << mine;
    }
  }
  const auto rows = lumifold::readSummary(at("out/summary.csv"));
  EXPECT_EQ(rows.at("edge, b").at("algorithm"), "anterior-edge");
  EXPECT_EQ(rows.at("edge, b").at("frames"), "3");
  EXPECT_EQ(rows.at("edge, b").at("frames_used"), "2");
  // The simulated blink is dropped, and the figures come from the report.
  EXPECT_EQ(rows.at("bad").at("frames"), "10");
  EXPECT_EQ(rows.at("bad").at("frames_dropped"), "1");
  EXPECT_EQ(rows.at("bad").at("frames_used"), "9");
  EXPECT_EQ(rows.at("bad").at("reference"), "0");
  EXPECT_GT(std::stod(rows.at("bad").at("snr_gain_db")), 3.0);

  // A folder holding that stack: the file is a series named by its stem.
  std::filesystem::create_directory(at("stacks"));
  std::filesystem::copy_file(at("b/series.tif"), at("stacks/series.tif"));
  run = cli({"batch", "stacks", "-o", "stack", "-a", "anterior-edge", "--frames", "0-1", "-s", "cirrus-like"});
  ASSERT_EQ(run.status, 0) << run.err;
  run = cli({"merge", "b/series.tif", "-a", "anterior-edge", "--frames", "0-1", "-s", "cirrus-like", "-o", "m.bmp",
             "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(readAll(at("stack/series.bmp")), readAll(at("m.bmp")));
}

// What stops a batch before any merge: status 2 for a command line that
// cannot work, 1 for an input that cannot be read as a study.
TEST_F(Batch, RefusesAStudyItCannotRun) {
  simulate("study/x", 1);
  simulate("study/y", 2);
  writeText(at("clash.csv"), "name,inputs\nx,study/x\nx_grey,study/y\n");
  writeText(at("twice.csv"), "name,inputs\nx,study/x\nx,study/y\n");
  writeText(at("odd.csv"), "name,inputs,colour\nx,study/x,red\n");
  writeText(at("bad.csv"), "name,inputs,algorithm\nx,study/x,fourier\n");
  writeText(at("slash.csv"), "name,inputs\n../x,study/x\n");
  writeText(at("which.csv"), "name,inputs,reference\nx,study/x,best\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const std::vector<Case> cases{
      {{"clash.csv", "--grey"}, 2, "series 'x' and series 'x_grey' both write out/x_grey.bmp"},
      {{"twice.csv"}, 1, "twice.csv: Line 3: series 'x' already named on line 2"},
      {{"odd.csv"}, 1, "odd.csv: Unknown column 'colour' (name, inputs, algorithm, scale, frames, reject, reference, lateral, denoise, repeats, layout)"},
      {{"bad.csv"}, 1, "bad.csv: Line 2: unknown algorithm 'fourier' (correlation, anterior-edge)"},
      {{"slash.csv"}, 1, "slash.csv: Line 2: series name '../x' holds a '/'"},
      {{"which.csv"}, 1, "which.csv: Line 2: unknown reference 'best' (first, auto, a frame number)"},
      {{"study/x/frame_000.bmp"}, 1, "study/x/frame_000.bmp: Not a folder of series or a manifest (.csv)"},
      {{"study", "--shard", "3/3"}, 2, "--shard takes K/N with 0 <= K < N, not '3/3'"},
      {{"study", "-o", "study"}, 2, "--output study is the study itself"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"batch"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (std::find(args.begin(), args.end(), "-o") == args.end()) args.insert(args.end(), {"-o", "out"});
    const CliRun run = cli(args);
    EXPECT_EQ(run.status, c.status) << c.args[0] << ": " << run.err;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(at("out/x.bmp")));
}

TEST(CsvReader, ReadsWhatSpreadsheetsWrite) {
  const std::vector<lumifold::CsvRow> rows =
      lumifold::parseCsv("a,b\r\n\"x, y\",\"say \"\"hi\"\"\"\n\n\"two\nlines\",\nlast");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].fields, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(rows[1].fields, (std::vector<std::string>{"x, y", "say \"hi\""}));
  EXPECT_EQ(rows[2].fields, (std::vector<std::string>{"two\nlines", ""}));
  EXPECT_EQ(rows[2].line, 4);
  EXPECT_EQ(rows[3].fields, (std::vector<std::string>{"last"}));
  EXPECT_EQ(rows[3].line, 6);
  for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
           {"a\n\"open", "Line 2: unterminated quote"}, {"\"a\"b", "Line 1: text after a closing quote"}}) {
    try {
      lumifold::parseCsv(text);
      ADD_FAILURE() << text;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
}

TEST(BatchSummary, ReadsBackWhatItWritesByHeading) {
  const testutil::ScratchFolder folder;
  const std::string path = folder.file("summary.csv");
  writeText(path, lumifold::summaryCsv({{{"name", "a,b"}, {"status", "failed"}, {"error", "x: \"bad\"\nfile"}},
                                        {{"name", "c"}, {"status", "done"}, {"seconds", "1.500"}}}));
  const auto rows = lumifold::readSummary(path);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.at("a,b").at("error"), "x: \"bad\"\nfile");
  EXPECT_EQ(rows.at("c").at("seconds"), "1.500");
  EXPECT_EQ(rows.at("c").at("frames"), "");
  // An older summary with fewer columns, in another order, still resumes.
  writeText(path, "status,name\ndone,old\n");
  EXPECT_EQ(lumifold::readSummary(path).at("old").at("status"), "done");
  writeText(path, "frame,column,shift\n1,2,3\n");
  EXPECT_EQ(clitest::cliErrorOf([&] { lumifold::readSummary(path); }),
            path + ": Not a batch summary: no 'name' and 'status' columns");
  EXPECT_TRUE(lumifold::readSummary(folder.file("none.csv")).empty());
}

// The assignment is part of the interface: machines that split a study
// must agree on it, so its values are pinned (FNV-1a's own test vector for
// "a" is 0xaf63dc4c8601ec8c).
TEST(BatchShard, ParsesKOfNAndHashesTheNameAlone) {
  EXPECT_EQ(lumifold::shardOf("a", 1000), static_cast<int>(0xaf63dc4c8601ec8cull % 1000));
  EXPECT_EQ(lumifold::shardOf("a", 1), 0);
  const lumifold::Shard s = lumifold::parseShard("3/10");
  EXPECT_EQ(s.index, 3);
  EXPECT_EQ(s.count, 10);
  EXPECT_EQ(lumifold::parseShard("0/1").count, 1);
  for (const char* bad : {"10/10", "1", "-1/4", "1/0", "a/b", "1/4/5", "", "/3"}) {
    EXPECT_THROW(lumifold::parseShard(bad), std::invalid_argument) << bad;
  }
}

}  // namespace
