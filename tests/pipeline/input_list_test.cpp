#include "pipeline/input_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "ipl/images.h"
#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace {

using clitest::cliErrorOf;
using Paths = std::vector<std::string>;

class InputList : public ::testing::Test {
protected:
  std::string at(const std::string& name) const { return dir_ + "/" + name; }
  void picture(const std::string& name, int width = 8, int height = 6) const {
    velIPL::RGBImage(width, height, 90).save(at(name));
  }
  const testutil::ScratchFolder folder_;
  const std::string dir_ = folder_.path().string();
};

TEST_F(InputList, ExpandsFoldersInNameOrderAndKeepsTheGivenOrder) {
  fs::create_directory(at("f"));
  picture("f/scan2.bmp");
  picture("f/scan10.BMP");
  picture("f/Scan1.bmp");
  picture("f/scan1.bmp");
  std::ofstream(at("f/notes.txt")) << "x";
  std::ofstream(at("f/scan.bmpx")) << "x";
  fs::create_directory(at("f/sub.bmp"));
  picture("elsewhere.bmp");
  fs::create_symlink(at("elsewhere.bmp"), at("f/linked.bmp"));
  fs::create_symlink(at("gone.bmp"), at("f/dangling.bmp"));

  const std::string f = at("f");
  EXPECT_EQ(lumifold::expandInputs({f}, false),
            (Paths{f + "/linked.bmp", f + "/Scan1.bmp", f + "/scan1.bmp", f + "/scan10.BMP", f + "/scan2.bmp"}));
  // A trailing slash does not double up in the names.
  EXPECT_EQ(lumifold::expandInputs({f + "/"}, false).front(), f + "/linked.bmp");

  const std::string a = at("elsewhere.bmp");
  EXPECT_EQ(lumifold::expandInputs({f + "/scan2.bmp", a, f + "/scan2.bmp"}, false),
            (Paths{f + "/scan2.bmp", a, f + "/scan2.bmp"}));
  EXPECT_EQ(lumifold::expandInputs({f + "/scan2.bmp", a, f + "/scan2.bmp", f + "/Scan1.bmp"}, true),
            (Paths{a, f + "/Scan1.bmp", f + "/scan2.bmp"}));
}

TEST_F(InputList, RefusesWhatIsNoSeries) {
  fs::create_directory(at("empty"));
  std::ofstream(at("empty/a.txt")) << "x";
  EXPECT_EQ(cliErrorOf([&] { lumifold::expandInputs({at("missing.bmp")}, false); }),
            at("missing.bmp") + ": No such file or folder");
  EXPECT_EQ(cliErrorOf([&] { lumifold::expandInputs({at("empty")}, false); }), at("empty") + ": No image files in folder");
  EXPECT_EQ(cliErrorOf([&] { lumifold::expandInputs({"/dev/null"}, false); }), "/dev/null: Not a file or folder");
  if (::geteuid() != 0) {
    fs::create_directory(at("closed"));
    fs::permissions(at("closed"), fs::perms::none);
    EXPECT_EQ(cliErrorOf([&] { lumifold::expandInputs({at("closed")}, false); }), at("closed") + ": Permission denied");
    fs::permissions(at("closed"), fs::perms::owner_all);
  }
}

TEST_F(InputList, ChecksEveryFileAgainstTheReference) {
  picture("a.bmp", 8, 6);
  picture("b.bmp", 8, 6);
  picture("wide.bmp", 9, 6);
  picture("tall.bmp", 8, 7);
  std::ofstream(at("text.bmp")) << "plain text, long enough for a header";
  std::ofstream(at("short.bmp")) << "BM";

  const lumifold::SeriesSize size = lumifold::checkSeries({at("a.bmp"), at("b.bmp")});
  EXPECT_EQ(size.width, 8);
  EXPECT_EQ(size.height, 6);
  EXPECT_EQ(cliErrorOf([&] { lumifold::checkSeries({at("text.bmp"), at("a.bmp")}); }),
            at("text.bmp") + ": Not a valid image file: File is not a bitmap image");
  EXPECT_EQ(cliErrorOf([&] { lumifold::checkSeries({at("a.bmp"), at("text.bmp")}); }),
            at("text.bmp") + ": File is not a bitmap image");
  EXPECT_EQ(cliErrorOf([&] { lumifold::checkSeries({at("a.bmp"), at("short.bmp")}); }),
            at("short.bmp") + ": Bitmap file not complete");
  for (const char* other : {"wide.bmp", "tall.bmp"}) {
    EXPECT_EQ(cliErrorOf([&] { lumifold::checkSeries({at("a.bmp"), at("b.bmp"), at(other)}); }),
              at(other) + ": Image has not same dimensions as reference image");
  }
  EXPECT_EQ(cliErrorOf([&] { lumifold::checkSeries({at("a.bmp"), at("gone.bmp")}); }),
            at("gone.bmp") + ": No such file or folder");
  EXPECT_EQ(cliErrorOf([&] { lumifold::checkSeries({dir_}); }), dir_ + ": Is a folder");
}

TEST_F(InputList, CountsATopDownFileByItsRows) {
  const fs::path suite = fs::path(LUMIFOLD_TESTDATA_DIR) / "bmpsuite" / "g";
  if (!fs::exists(suite / "pal8topdown.bmp")) GTEST_SKIP() << "BMP Suite not found at " << suite;
  // The same picture stored bottom-up and top-down is one series.
  const lumifold::SeriesSize size =
      lumifold::checkSeries({(suite / "pal8.bmp").string(), (suite / "pal8topdown.bmp").string()});
  EXPECT_EQ(size.width, 127);
  EXPECT_EQ(size.height, 64);
}

}  // namespace
