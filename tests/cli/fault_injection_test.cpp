// lumifold-cli under faults: inputs that change between their check and the
// merge, inputs that cannot be read, outputs that cannot be written, and
// series at the edges of what a merge takes (one frame, one row or column,
// no pixels, two hundred frames). Every failure must name the file and the
// reason, end with status 1, and leave the user's earlier files as they
// were, with no temporary file behind.
//
// Files change through lumifold-cli-faults, the command line library run
// with a progress sink (fault_main.cpp) that makes the fault as the merge
// starts: after every check, before any file is read, so nothing races. Permissions mean nothing to
// root, so as root those cases run the program as the user nobody; where
// even that is impossible they are skipped with a message.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "ipl/bmp_file_builder.h"
#include "ipl/images.h"
#include "merge/merger.h"
#include "scratch_folder.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

using clitest::CliRun;
using clitest::concat;
using clitest::Conditions;
using clitest::kNobody;
using clitest::runCli;
using clitest::seriesFrames;
using testutil::readAll;
using testutil::samePixels;

constexpr const char* kChangedSize = "Image has changed size since it was checked";
constexpr const char* kOtherSize = "Image has not same dimensions as reference image";

// A frame of a thin series: a bright layer at a depth that moves with the
// frame and the column, over a dim ramp.
velIPL::GImage thinFrame(int width, int height, int frame) {
  velIPL::GImage image(width, height, 0);
  for (int x = 0; x < width; ++x) {
    const int layer = height > 2 ? (x + frame) % (height - 1) : 0;
    for (int y = 0; y < height; ++y) {
      image.at(x, y) = static_cast<unsigned char>(y == layer ? 240 : (17 * x + 29 * y + 5 * frame) % 150);
    }
  }
  return image;
}

// An 8-bit BMP with the given sides, which may be 0.
std::string emptyBmp(int width, int height) {
  bmptest::BmpFile file;
  file.width = width;
  file.height = height;
  file.palette = bmptest::greyRamp(256);
  return file.bytes();
}

velIPL::GImage engineMerge(const std::vector<std::string>& paths, bool correlation) {
  lumifold::Merger merger(paths);
  return correlation ? merger.mergeByCorrelation() : merger.mergeByAnteriorEdge();
}

// Whether file permissions can be tested: always for an ordinary user; as
// root only when the program can be run as nobody.
bool permissionsApply() {
  static const bool apply =
      ::geteuid() != 0 || runCli(LUMIFOLD_CLI_FAULTS_PATH, fs::temp_directory_path().string(), {"--version"}, {"", true}).status == 0;
  return apply;
}

class CliFaults : public ::testing::Test {
protected:
  // Open to everyone, so the program can also work here as nobody.
  void SetUp() override { fs::permissions(dir_, fs::perms::all); }

  std::string at(const std::string& name) const { return dir_ + "/" + name; }

  CliRun cli(const std::vector<std::string>& args, const Conditions& how = {}) const {
    return runCli(LUMIFOLD_CLI_FAULTS_PATH, dir_, args, how);
  }

  // A simulated series of n frames in folder name (as frame_000.bmp ...).
  void simulate(const std::string& name, int n, int width = 64, int height = 48) const {
    const CliRun run = cli({"simulate", name, "--frames", std::to_string(n), "--width", std::to_string(width),
                            "--height", std::to_string(height), "--max-shift", "3", "--seed", "11", "-q"});
    ASSERT_EQ(run.status, 0) << run.err;
  }

  // The names of every file and folder left under the test folder whose
  // name shows it was meant to be temporary.
  std::vector<std::string> temporaryFiles() const {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (it->path().filename().string().find("tmp") != std::string::npos) found.push_back(it->path().string());
    }
    return found;
  }

  const testutil::ScratchFolder folder_;
  const std::string dir_ = folder_.path().string();
};

// A listed file deleted or replaced after the check: the merge ends naming
// the file the user has to look at, whichever algorithm runs.
TEST_F(CliFaults, InputChangedAfterTheCheckIsNamedAndNothingIsWritten) {
  simulate("pristine", 3);
  const std::string full = readAll(at("pristine/frame_002.bmp"));
  std::ofstream(at("precious.bmp")) << "the user's earlier result";
  const std::vector<std::string> series = seriesFrames("series", 3);

  struct Case {
    const char* what;
    std::string fault;
    std::vector<std::string> inputs;
    std::string message;  // for both algorithms
  };
  const std::vector<Case> cases = {
      {"last frame deleted", "remove|series/frame_002.bmp", series,
       "series/frame_002.bmp: Can't open image file"},
      {"reference deleted", "remove|series/frame_000.bmp", series, "series/frame_000.bmp: Can't open image file"},
      {"frame replaced by a narrower one", "rename|narrow/frame_000.bmp|series/frame_001.bmp", series,
       std::string("series/frame_001.bmp: ") + kOtherSize},
      {"frame replaced by a shorter one", "rename|short/frame_000.bmp|series/frame_002.bmp", series,
       std::string("series/frame_002.bmp: ") + kOtherSize},
      {"frame replaced by a folder", "folder|series/frame_001.bmp", series,
       "series/frame_001.bmp: Can't open image file"},
      {"frame replaced by text", "rename|text.bmp|series/frame_001.bmp", series,
       "series/frame_001.bmp: Not a bmp image"},
      {"frame cut short", "rename|cut.bmp|series/frame_002.bmp", series,
       "series/frame_002.bmp: Premature end of stream"},
      // A new reference would make every later frame look wrong; the
      // reference itself is named.
      {"reference replaced by a narrower one", "rename|narrow/frame_000.bmp|series/frame_000.bmp", series,
       std::string("series/frame_000.bmp: ") + kChangedSize},
      // With one frame nothing else notices: the merge itself succeeds at
      // the new size, which the noise-free section does not have.
      {"only frame replaced by a wider one", "rename|wide/frame_000.bmp|series/frame_000.bmp",
       {"series/frame_000.bmp", "--noise-free", "series/truth/noise_free.bmp", "--truth", "series/truth/truth.csv"},
       std::string("series/frame_000.bmp: ") + kChangedSize},
  };
  for (const Case& c : cases) {
    for (const char* algorithm : {"correlation", "anterior-edge"}) {
      SCOPED_TRACE(std::string(c.what) + ", " + algorithm);
      fs::remove_all(at("series"));
      fs::copy(at("pristine"), at("series"), fs::copy_options::recursive);
      for (const char* other : {"narrow", "short", "wide"}) fs::remove_all(at(other));
      simulate("narrow", 1, 32, 48);
      simulate("short", 1, 64, 24);
      simulate("wide", 1, 96, 48);
      std::ofstream(at("text.bmp")) << "this is not a bitmap at all";
      std::ofstream(at("cut.bmp"), std::ios::binary) << full.substr(0, full.size() / 2);

      const CliRun run = cli(concat({"merge", "-a", algorithm, "-o", "precious.bmp", "--grey", "grey.bmp",
                                     "--shifts", "shifts.csv"},
                                    c.inputs),
                             {c.fault});
      EXPECT_EQ(run.status, 1) << run.err;
      EXPECT_EQ(run.err, "lumifold-cli: " + c.message + "\n");
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(readAll(at("precious.bmp")), "the user's earlier result");
      EXPECT_FALSE(fs::exists(at("grey.bmp")));
      EXPECT_FALSE(fs::exists(at("shifts.csv")));
      EXPECT_EQ(temporaryFiles(), std::vector<std::string>{});
    }
  }

  // The fault build itself works: without a fault the same series merges.
  fs::remove_all(at("series"));
  fs::copy(at("pristine"), at("series"), fs::copy_options::recursive);
  const CliRun clean = cli(concat({"merge", "-q", "-o", "precious.bmp"}, series));
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_NE(readAll(at("precious.bmp")), "the user's earlier result");
}

TEST_F(CliFaults, UnreadableInputsAreNamed) {
  simulate("series", 3);
  // A folder among the files, named like one of them, is not a frame.
  fs::create_directory(at("series/frame_001b.bmp"));
  const CliRun folderInside = cli({"merge", "-q", "-o", "out.bmp", "series"});
  EXPECT_EQ(folderInside.status, 0) << folderInside.err;
  EXPECT_TRUE(fs::exists(at("out.bmp")));

  // Named as an input, such a folder is taken for a folder of frames.
  fs::create_directory(at("scan.bmp"));
  const CliRun folderGiven = cli({"merge", "-o", "out2.bmp", "series/frame_000.bmp", "scan.bmp"});
  EXPECT_EQ(folderGiven.status, 1);
  EXPECT_EQ(folderGiven.err, "lumifold-cli: scan.bmp: No image files in folder\n");

  if (!permissionsApply()) GTEST_SKIP() << "running as root without a way to become nobody: permissions untested";
  fs::permissions(at("series/frame_001.bmp"), fs::perms::none);
  const CliRun file = cli({"merge", "-o", "out3.bmp", "series"}, {"", true});
  EXPECT_EQ(file.status, 1);
  EXPECT_EQ(file.err, "lumifold-cli: series/frame_001.bmp: Permission denied\n");
  fs::permissions(at("series/frame_001.bmp"), fs::perms::owner_read | fs::perms::owner_write |
                                                  fs::perms::group_read | fs::perms::others_read);

  fs::permissions(at("series"), fs::perms::owner_all);
  const CliRun folder = cli({"merge", "-o", "out3.bmp", "series"}, {"", true});
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.err, "lumifold-cli: series: Permission denied\n");
  EXPECT_FALSE(fs::exists(at("out3.bmp")));
}

TEST_F(CliFaults, FailedWritesLeaveEarlierResultsWhole) {
  simulate("series", 3);
  const std::vector<std::string> series = seriesFrames("series", 3);
  fs::create_directory(at("out"));
  fs::permissions(at("out"), fs::perms::all);
  std::ofstream(at("out/result.bmp")) << "the user's earlier result";
  std::ofstream(at("out/grey.bmp")) << "the user's earlier grey";
  const auto untouched = [&] {
    EXPECT_EQ(readAll(at("out/result.bmp")), "the user's earlier result");
    EXPECT_EQ(readAll(at("out/grey.bmp")), "the user's earlier grey");
    EXPECT_EQ(temporaryFiles(), std::vector<std::string>{});
  };

  // The disk fills up while the picture is written: a 64 x 48 picture
  // needs 9270 bytes, files may grow to 4096.
  const CliRun full = cli(concat({"merge", "-o", "out/result.bmp"}, series), {"", false, 4096});
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "lumifold-cli: out/result.bmp: Cannot write image file: File too large\n");
  EXPECT_EQ(full.out, "");
  untouched();

  // A full device: nothing to keep, but the failure is reported.
  const CliRun device = cli(concat({"merge", "-o", "/dev/full"}, series));
  EXPECT_EQ(device.status, 1);
  EXPECT_EQ(device.err, "lumifold-cli: /dev/full: Cannot write image file: No space left on device\n");
  const CliRun csv = cli(concat({"merge", "-o", "out/new.bmp", "--shifts", "/dev/full"}, series));
  EXPECT_EQ(csv.status, 1);
  EXPECT_EQ(csv.err, "lumifold-cli: /dev/full: No space left on device\n");
  fs::remove(at("out/new.bmp"));

  // A folder that is not there is found before the merge.
  const CliRun missing = cli(concat({"merge", "-o", "gone/result.bmp"}, series));
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "lumifold-cli: gone/result.bmp: No such folder\n");
  // A folder that goes away during the merge is found when writing.
  fs::create_directory(at("vanishing"));
  fs::permissions(at("vanishing"), fs::perms::all);
  const CliRun vanished =
      cli(concat({"merge", "-o", "vanishing/result.bmp"}, series), {"remove|vanishing"});
  EXPECT_EQ(vanished.status, 1);
  EXPECT_EQ(vanished.err, "lumifold-cli: vanishing/result.bmp: Cannot open image file: No such file or directory\n");
  untouched();

  if (!permissionsApply()) GTEST_SKIP() << "running as root without a way to become nobody: permissions untested";
  // A read-only folder, found before the merge; a file there that may be
  // written is written in place.
  fs::create_directory(at("locked"));
  std::ofstream(at("locked/earlier.bmp")) << "the user's earlier result";
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(at("locked/earlier.bmp").c_str(), kNobody, kNobody), 0);
  }
  fs::permissions(at("locked"), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  const CliRun locked = cli(concat({"merge", "-o", "locked/result.bmp"}, series), {"", true});
  EXPECT_EQ(locked.status, 1);
  EXPECT_EQ(locked.err, "lumifold-cli: locked/result.bmp: Permission denied\n");
  const CliRun inPlace = cli(concat({"merge", "-q", "-o", "locked/earlier.bmp"}, series), {"", true});
  EXPECT_EQ(inPlace.status, 0) << inPlace.err;
  EXPECT_EQ(velIPL::GImage(at("locked/earlier.bmp")).width(), 64);

  // The output folder made read-only during the merge (the program's own,
  // as its earlier results are): its files may still be written, and are,
  // in place.
  if (::geteuid() == 0) {
    for (const char* name : {"out", "out/result.bmp", "out/grey.bmp"}) {
      ASSERT_EQ(::chown(at(name).c_str(), kNobody, kNobody), 0) << name;
    }
  }
  const CliRun readOnly =
      cli(concat({"merge", "-q", "-o", "out/result.bmp", "--grey", "out/grey.bmp"}, series),
          {"readonly|out", true});
  EXPECT_EQ(readOnly.status, 0) << readOnly.err;
  EXPECT_EQ(velIPL::GImage(at("out/result.bmp")).width(), 64);
  EXPECT_EQ(velIPL::GImage(at("out/grey.bmp")).width(), 64);
  fs::permissions(at("out"), fs::perms::all);
  EXPECT_EQ(temporaryFiles(), std::vector<std::string>{});

  // A file the user made read-only is refused before the merge and stays.
  fs::permissions(at("out/grey.bmp"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const CliRun readOnlyFile = cli(concat({"merge", "-o", "out/grey.bmp"}, series), {"", true});
  EXPECT_EQ(readOnlyFile.status, 1);
  EXPECT_EQ(readOnlyFile.err, "lumifold-cli: out/grey.bmp: Permission denied\n");
  EXPECT_EQ(velIPL::GImage(at("out/grey.bmp")).width(), 64);
}

TEST_F(CliFaults, SeriesOfOneFrameIsTheFrame) {
  simulate("series", 1);
  const velIPL::GImage frame(at("series/frame_000.bmp"));
  for (const char* algorithm : {"correlation", "anterior-edge"}) {
    SCOPED_TRACE(algorithm);
    const CliRun run = cli({"merge", "-a", algorithm, "-o", "one.bmp", "--grey", "grey.bmp", "--shifts", "s.csv",
                            "series/frame_000.bmp"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("Merged 1 frame of 64 x 48 by ", 0), 0u) << run.out;
    EXPECT_TRUE(samePixels(velIPL::GImage(at("grey.bmp")), frame));
    EXPECT_EQ(readAll(at("s.csv")), "");
  }
}

// One-row and one-column series: the correlation needs two rows and says
// so, naming the reference; everything else merges as the engine does.
TEST_F(CliFaults, ThinImagesAreMergedOrRefusedByName) {
  struct Thin {
    const char* folder;
    int width;
    int height;
  };
  for (const Thin& t : {Thin{"row", 24, 1}, Thin{"column", 1, 40}, Thin{"dot", 1, 1}}) {
    fs::create_directory(at(t.folder));
    for (int i = 0; i < 4; ++i) testutil::saveGrey(thinFrame(t.width, t.height, i), at(seriesFrames(t.folder, 4)[i]));
    std::ofstream(at("precious.bmp")) << "the user's earlier result";
    for (const bool correlation : {true, false}) {
      SCOPED_TRACE(std::string(t.folder) + (correlation ? ", correlation" : ", anterior edge"));
      const CliRun run = cli({"merge", "-q", "-a", correlation ? "correlation" : "anterior-edge", "-o",
                              "precious.bmp", "--grey", "grey.bmp", t.folder});
      if (correlation && t.height < 2) {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "lumifold-cli: " + seriesFrames(t.folder, 1)[0] + ": Image must have at least 2 rows\n");
        EXPECT_EQ(readAll(at("precious.bmp")), "the user's earlier result");
        EXPECT_FALSE(fs::exists(at("grey.bmp")));
        continue;
      }
      EXPECT_EQ(run.status, 0) << run.err;
      std::vector<std::string> paths;
      for (const std::string& f : seriesFrames(t.folder, 4)) paths.push_back(at(f));
      EXPECT_TRUE(samePixels(velIPL::GImage(at("grey.bmp")), engineMerge(paths, correlation)));
      fs::remove(at("grey.bmp"));
    }
  }
}

// The reader takes BMPs of no rows or no columns; neither program may
// crash on them or write a broken file.
TEST_F(CliFaults, ImagesWithoutPixelsAreRefused) {
  simulate("series", 2, 16, 8);
  std::ofstream(at("no_columns.bmp"), std::ios::binary) << emptyBmp(0, 8);
  std::ofstream(at("no_rows.bmp"), std::ios::binary) << emptyBmp(16, 0);
  std::ofstream(at("precious.bmp")) << "the user's earlier result";

  const CliRun probe = cli({"probe", "no_columns.bmp", "no_rows.bmp"});
  EXPECT_EQ(probe.status, 0) << probe.err;
  EXPECT_EQ(probe.out, "no_columns.bmp: 0 x 8\nno_rows.bmp: 16 x 0\n");

  for (const char* algorithm : {"correlation", "anterior-edge"}) {
    for (const char* empty : {"no_columns.bmp", "no_rows.bmp"}) {
      SCOPED_TRACE(std::string(empty) + ", " + algorithm);
      const CliRun alone = cli({"merge", "-a", algorithm, "-o", "precious.bmp", "--grey", "grey.bmp", empty, empty});
      EXPECT_EQ(alone.status, 1);
      EXPECT_EQ(alone.err, std::string("lumifold-cli: ") + empty + ": Empty image\n");
      const CliRun later = cli({"merge", "-a", algorithm, "-o", "precious.bmp", "series/frame_000.bmp", empty});
      EXPECT_EQ(later.status, 1);
      EXPECT_EQ(later.err, std::string("lumifold-cli: ") + empty + ": " + kOtherSize + "\n");
      EXPECT_EQ(readAll(at("precious.bmp")), "the user's earlier result");
      EXPECT_FALSE(fs::exists(at("grey.bmp")));
    }
  }
}

// Two hundred frames merge like any series; that the memory stays flat as
// the count grows is measured by the benchmark, not here.
TEST_F(CliFaults, MergesTwoHundredFrames) {
  simulate("series", 200, 32, 24);
  std::vector<std::string> paths;
  for (const std::string& f : seriesFrames("series", 200)) paths.push_back(at(f));
  for (const bool correlation : {true, false}) {
    SCOPED_TRACE(correlation ? "correlation" : "anterior edge");
    const CliRun run = cli({"merge", "-a", correlation ? "correlation" : "anterior-edge", "-o", "out.bmp", "--grey",
                            "grey.bmp", "--shifts", "shifts.csv", "series"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("Merged 200 frames of 32 x 24", 0), 0u) << run.out;
    EXPECT_TRUE(samePixels(velIPL::GImage(at("grey.bmp")), engineMerge(paths, correlation)));
    std::istringstream csv(readAll(at("shifts.csv")));
    int lines = 0;
    for (std::string line; std::getline(csv, line);) ++lines;
    EXPECT_EQ(lines, 199);
  }
}

}  // namespace
