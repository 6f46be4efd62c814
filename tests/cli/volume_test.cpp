// lumifold-cli volume: every page of the stack is the grey result of merge
// on that position's frames, in every layout, with either registration,
// at 8 and 16 bits and with rejection; the stack is calibrated as ImageJ
// reads it, the en-face view is the pages' depth means.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "ipl/formats/tiff/tiff_writer.h"
#include "ipl/image_decoder.h"
#include "merge/series_alignment.h"
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

  // Sideways alignment with the speckle filter, on the grouped volume with
  // its positions slipped sideways: every page is its position's filtered
  // merge moved by the offsets the report lists, and the summary gives the
  // filter's figures over the positions.
  velIPL::TiffWriter slipped;
  const std::vector<velIPL::GImage> grouped = pages<velIPL::GImage>("grouped/volume.tif");
  for (std::size_t n = 0; n < grouped.size(); ++n) slipped.addPage(lumifold::shiftSideways(grouped[n], (n / R) * 7 % 5));
  slipped.writeFile(at("slipped.tif"));
  const CliRun aligned = cli({"volume", "slipped.tif", "--repeats", "3", "--align-sideways", "--denoise", "-o", "al.tif",
                              "--report", "al.json"});
  ASSERT_EQ(aligned.status, 0) << aligned.err;
  EXPECT_NE(aligned.out.find("Speckle filter: nl-means at strength 1 on 4 positions"), std::string::npos)
      << aligned.out;
  EXPECT_NE(aligned.out.find(" sideways\n"), std::string::npos) << aligned.out;
  const std::string report = testutil::readAll(at("al.json"));
  const auto listed = [&](const std::string& key) {
    std::vector<int> values;
    std::size_t at = report.find("\"" + key + "\": [");
    if (at == std::string::npos) return values;
    at = report.find('[', at) + 1;
    for (char* end = nullptr; report[at] != ']'; at = static_cast<std::size_t>(end - report.c_str())) {
      values.push_back(static_cast<int>(std::strtol(report.c_str() + at + (report[at] == ',' ? 1 : 0), &end, 10)));
    }
    return values;
  };
  const std::vector<int> axial = listed("alignment"), lateral = listed("lateralAlignment");
  ASSERT_EQ(axial.size(), static_cast<std::size_t>(P));
  ASSERT_EQ(lateral.size(), static_cast<std::size_t>(P));
  EXPECT_NE(lateral, std::vector<int>(P, 0));
  const std::size_t filter = report.find("\"speckleFilter\": {\"filter\": \"nl-means\", \"strength\": 1,");
  ASSERT_NE(filter, std::string::npos);
  EXPECT_NE(report.find("{\"position\": 3, \"frameNoise\": ", filter), std::string::npos);
  for (int p = 0; p < P; ++p) {
    const std::string frames = std::to_string(p * R) + "-" + std::to_string(p * R + R - 1);
    ASSERT_EQ(cli({"merge", "-q", "slipped.tif", "--frames", frames, "--denoise", "-o", "m.bmp", "--grey", "m.tif"})
                  .status,
              0);
    EXPECT_TRUE(same(pages<velIPL::GImage>("al.tif")[p],
                     lumifold::alignedPage(pages<velIPL::GImage>("m.tif")[0], axial[p], lateral[p])))
        << "position " << p;
  }
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

TEST(VolumeAlignment, UndoesBulkOffsetsBetweenPositions) {
  // Layers that bend across the width, crossed by vessel shadows, so that
  // both axes have structure.
  velIPL::GImage base(120, 72, 0);
  for (int y = 0; y < base.height(); ++y) {
    for (int x = 0; x < base.width(); ++x) {
      const int top = 24 + static_cast<int>(std::lround(5 * std::sin(x / 11.0)));
      int v = y >= top && y < top + 8 ? 200 : y >= top + 20 && y < top + 34 ? 110 : 12;
      if ((x % 37 == 5 || x % 37 == 6) && y > top + 8) v /= 3;
      base.row(y)[x] = static_cast<unsigned char>(v + (x * 7 + y * 13) % 11);
    }
  }
  using lumifold::alignedPage;
  const velIPL::GImage a = alignedPage(base, 0, 0), b = alignedPage(base, 4, 3), c = alignedPage(base, -2, -4);
  // Offsets from the middle page out: applying them lines every page up
  // with it; sideways ones only when asked.
  const lumifold::PageOffsets both = lumifold::alignmentOffsets({&a, &b, &c}, true);
  EXPECT_EQ(both.axial, (std::vector<int>{4, 0, 6}));
  EXPECT_EQ(both.lateral, (std::vector<int>{3, 0, 7}));
  const lumifold::PageOffsets axial = lumifold::alignmentOffsets({&a, &b, &c}, false);
  EXPECT_EQ(axial.axial, both.axial);
  EXPECT_EQ(axial.lateral, (std::vector<int>{0, 0, 0}));
  // Neighbours whose layers only bend otherwise have not moved sideways.
  velIPL::GImage bent(base.width(), base.height(), 0);
  for (int x = 0; x < base.width(); ++x) {
    const int d = static_cast<int>(std::lround(7 * std::sin(x / 17.0 + 1)));
    for (int y = 0; y < base.height(); ++y) bent.row(y)[x] = base.row(std::clamp(y - d, 0, base.height() - 1))[x];
  }
  EXPECT_EQ(lumifold::alignmentOffsets({&base, &bent}, true).lateral, (std::vector<int>{0, 0}));
}

}  // namespace
