// lumifold-cli volume: every page of the stack is the grey result of merge
// on that position's frames, in every layout, with either registration,
// at 8 and 16 bits and with rejection; the stack is calibrated as ImageJ
// reads it, the en-face view is the pages' depth means.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "ipl/formats/tiff/tiff_writer.h"
#include "ipl/image_decoder.h"
#include "pipeline/volume_merge.h"
#include "scratch_folder.h"
#include "test_util.h"

namespace {

using clitest::CliRun;
using clitest::concat;
using clitest::runCli;

class VolumeCli : public ::testing::Test {
protected:
  std::string at(const std::string& name) const { return dir_ + "/" + name; }
  CliRun cli(const std::vector<std::string>& args) const { return runCli(LUMIFOLD_CLI_PATH, dir_, args); }

  template <typename Image>
  std::vector<Image> pages(const std::string& name) const {
    const std::unique_ptr<velIPL::ImageFile> file = velIPL::decoderFor(at(name)).open(at(name));
    std::vector<Image> out(static_cast<std::size_t>(file->info().frames));
    for (int i = 0; i < file->info().frames; ++i) file->readFrame(i, out[static_cast<std::size_t>(i)]);
    return out;
  }

  const testutil::ScratchFolder folder_;
  const std::string dir_ = folder_.path().string();
};

template <typename Image>
bool same(const Image& a, const Image& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y) {
    if (!std::equal(a.row(y), a.row(y) + a.width(), b.row(y))) return false;
  }
  return true;
}

TEST_F(VolumeCli, EveryPageIsTheMergeOfItsPositionInEveryLayout) {
  constexpr int P = 4, R = 3;
  const struct {
    const char* layout;
    std::vector<std::string> inputs;
  } layouts[] = {{"grouped", {"grouped/volume.tif"}},
                 {"interleaved", {"interleaved/volume.tif"}},
                 {"per-file", {"per-file/pass_000.tif", "per-file/pass_001.tif", "per-file/pass_002.tif"}}};
  for (const auto& l : layouts) {
    ASSERT_EQ(cli({"simulate", l.layout, "--positions", std::to_string(P), "--repeats", std::to_string(R), "--layout",
                   l.layout, "--width", "96", "--height", "80", "--seed", "4", "-q"})
                  .status,
              0);
  }
  // A 16-bit copy of the interleaved volume.
  velIPL::TiffWriter deep;
  for (const velIPL::GImage& g : pages<velIPL::GImage>("interleaved/volume.tif")) {
    velIPL::G16Image wide(g.width(), g.height(), 0);
    for (int y = 0; y < g.height(); ++y) {
      for (int x = 0; x < g.width(); ++x) wide.row(y)[x] = static_cast<std::uint16_t>(g.row(y)[x] * 257 + x % 3);
    }
    deep.addPage(wide);
  }
  deep.writeFile(at("deep.tif"));

  struct Case {
    const char* layout;
    std::vector<std::string> inputs;
    std::vector<std::string> options;
    bool sixteen;
  };
  const std::vector<Case> cases = {
      {"grouped", layouts[0].inputs, {}, false},
      {"interleaved", layouts[1].inputs, {"-a", "anterior-edge"}, false},
      {"per-file", layouts[2].inputs, {"--reject", "auto", "--reference", "auto"}, false},
      {"interleaved", {"deep.tif"}, {"--lateral"}, true},
  };
  for (const Case& c : cases) {
    const CliRun run = cli(concat(concat({"volume", "--repeats", std::to_string(R), "--layout", c.layout, "-o", "v.tif",
                                          "--enface", "e.tif", "-q"},
                                         c.inputs),
                                  c.options));
    ASSERT_EQ(run.status, 0) << c.layout << run.err;
    for (int p = 0; p < P; ++p) {
      std::string frames;
      for (int r = 0; r < R; ++r) {
        const int n = std::string(c.layout) == "grouped" ? p * R + r : r * P + p;
        frames += (r ? "," : "") + std::to_string(n);
      }
      const CliRun one = cli(concat(concat({"merge", "-q", "--frames", frames, "-o", "m.bmp", "--grey", "m.tif"},
                                           c.inputs),
                                    c.options));
      ASSERT_EQ(one.status, 0) << one.err;
      if (c.sixteen) {
        EXPECT_TRUE(same(pages<velIPL::G16Image>("v.tif")[p], pages<velIPL::G16Image>("m.tif")[0]))
            << c.layout << " position " << p;
      } else {
        const velIPL::GImage page = pages<velIPL::GImage>("v.tif")[p];
        EXPECT_TRUE(same(page, pages<velIPL::GImage>("m.tif")[0])) << c.layout << " position " << p;
        // The en-face row is the page's column means, rounded half up.
        const std::vector<unsigned> means = lumifold::columnMeans(page, 0, page.height());
        const velIPL::GImage enface = pages<velIPL::GImage>("e.tif")[0];
        ASSERT_EQ(enface.height(), P);
        for (int x = 0; x < page.width(); ++x) ASSERT_EQ(enface.row(p)[x], means[x]) << x;
      }
    }
  }

  // Calibrated as ImageJ reads it; a count that does not divide is named.
  ASSERT_EQ(cli({"volume", "grouped/volume.tif", "--repeats", "3", "--spacing", "0.01,0.004,0.05", "-o", "cal.tif", "-q",
                 "--positions-range", "1-2"})
                .status,
            0);
  const velIPL::ImageFileInfo info = velIPL::decoderFor(at("cal.tif")).probe(at("cal.tif"));
  EXPECT_EQ(info.frames, 2);
  EXPECT_NEAR(info.pixelSpacingX, 0.01, 1e-6);
  EXPECT_NEAR(info.pixelSpacingY, 0.004, 1e-6);
  EXPECT_NEAR(info.sliceSpacing, 0.05, 1e-9);
  const CliRun odd = cli({"volume", "grouped/volume.tif", "--repeats", "5"});
  EXPECT_EQ(odd.status, 2);
  EXPECT_NE(odd.err.find("12 frames do not divide into 5 repeats"), std::string::npos) << odd.err;
}

TEST_F(VolumeCli, ManifestRowWithRepeatsIsAVolume) {
  ASSERT_EQ(cli({"simulate", "v", "--positions", "3", "--repeats", "2", "--layout", "interleaved", "--width", "64",
                 "--height", "48", "-q"})
                .status,
            0);
  testutil::writeText(at("m.csv"), "name,inputs,repeats,layout\nvol,v/volume.tif,2,interleaved\n");
  ASSERT_EQ(cli({"batch", "m.csv", "-o", "out", "-q"}).status, 0);
  ASSERT_EQ(cli({"volume", "v/volume.tif", "--repeats", "2", "--layout", "interleaved", "-o", "ref.tif", "-q"}).status,
            0);
  const std::vector<velIPL::GImage> batch = pages<velIPL::GImage>("out/vol_volume.tif");
  const std::vector<velIPL::GImage> alone = pages<velIPL::GImage>("ref.tif");
  ASSERT_EQ(batch.size(), 3u);
  for (std::size_t p = 0; p < 3; ++p) EXPECT_TRUE(same(batch[p], alone[p])) << p;
  testutil::writeText(at("bad.csv"), "name,inputs,layout\nvol,v/volume.tif,interleaved\n");
  EXPECT_NE(cli({"batch", "bad.csv", "-o", "out2"}).err.find("a layout needs repeats"), std::string::npos);
}

TEST(VolumeAlignment, UndoesABulkOffsetBetweenPositions) {
  velIPL::GImage base(40, 60, 0);
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 40; ++x) base.row(y)[x] = static_cast<unsigned char>(y > 20 && y < 30 ? 200 : y > 40 ? 90 : 10);
  }
  const velIPL::GImage a = lumifold::shiftedRows(base, 0), b = lumifold::shiftedRows(base, 4),
                       c = lumifold::shiftedRows(base, -3);
  // Offsets from the middle page out: applying them lines every page up with it.
  EXPECT_EQ(lumifold::alignmentOffsets({&a, &b, &c}), (std::vector<int>{4, 0, 7}));
}

}  // namespace
