// The command line run in-process through its environment: what it prints
// goes to the environment's streams, the terminal test is the
// environment's, and a merge reports through the environment's progress
// sink, which sees the merge start after every check.
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "scratch_folder.h"
#include "sim/bscan_simulator.h"
#include "sim/series_writer.h"

namespace {

class RecordingEnvironment : public lumifold::CliEnvironment,
                             private lumifold::MergeProgress {
public:
  std::ostream& out() override { return out_; }
  std::ostream& err() override { return err_; }
  bool errIsTerminal() const override { return terminal; }
  lumifold::MergeProgress& mergeProgress(lumifold::MergeProgress& shown) override {
    shown_ = &shown;
    return *this;
  }

  int run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    args.insert(args.begin(), "lumifold-cli");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    return lumifold::runCommandLine(static_cast<int>(argv.size()), argv.data(), *this);
  }
  std::string outText() const { return out_.str(); }
  std::string errText() const { return err_.str(); }

  bool terminal = false;
  std::string removeAtStart;      // a file deleted as the merge starts
  std::vector<std::string> seen;  // what the sink was told

private:
  void start(int imageCount) override {
    seen.push_back("start " + std::to_string(imageCount));
    if (!removeAtStart.empty()) std::remove(removeAtStart.c_str());
    shown_->start(imageCount);
  }
  void step() override {
    seen.push_back("step");
    shown_->step();
  }

  std::ostringstream out_;
  std::ostringstream err_;
  lumifold::MergeProgress* shown_ = nullptr;
};

TEST(CommandLine, RunsInProcessThroughItsEnvironment) {
  RecordingEnvironment env;
  EXPECT_EQ(env.run({"--version"}), 0);
  EXPECT_EQ(env.outText(), "lumifold-cli 1.0.0\n");
  EXPECT_EQ(env.run({"merge", "--help"}), 0);
  EXPECT_NE(env.outText().find("--algorithm"), std::string::npos) << env.outText();
  EXPECT_EQ(env.errText(), "");
  EXPECT_EQ(env.run({"merge"}), 2);
  EXPECT_EQ(env.errText().rfind("lumifold-cli: ", 0), 0u) << env.errText();
  EXPECT_EQ(env.outText(), "");

  const testutil::ScratchFolder folder;
  lumifold::SimulationParameters p;
  p.frames = 3;
  p.width = 32;
  p.height = 24;
  p.maxShift = 3;
  lumifold::writeSeries(lumifold::BScanSimulator(p), folder.path().string());
  const std::vector<std::string> frames = clitest::seriesFrames(folder.path().string(), 3);

  // On a terminal the bar is drawn on the environment's stderr; the sink
  // sees the merge start once and one step a frame.
  env.terminal = true;
  EXPECT_EQ(env.run(clitest::concat({"merge", "-a", "anterior-edge", "-o", folder.file("out.bmp")}, frames)), 0)
      << env.errText();
  EXPECT_EQ(env.outText().rfind("Merged 3 frames of 32 x 24 by Anterior Edge in ", 0), 0u) << env.outText();
  EXPECT_EQ(env.errText().rfind("\r[", 0), 0u) << env.errText();
  EXPECT_EQ(env.seen, (std::vector<std::string>{"start 3", "step", "step", "step"}));

  // A file gone between the checks and the first read is named.
  env.terminal = false;
  env.removeAtStart = frames[2];
  EXPECT_EQ(env.run(clitest::concat({"merge", "-o", folder.file("out.bmp")}, frames)), 1);
  EXPECT_EQ(env.errText(), "lumifold-cli: " + frames[2] + ": Can't open image file\n");
  EXPECT_EQ(env.outText(), "");
}

}  // namespace
